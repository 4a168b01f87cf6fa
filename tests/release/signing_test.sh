#!/usr/bin/env bash
# Signs copies of the release files and an MSI built from them with packaging/sign, using a
# certificate authority and a code-signing certificate made for this run, and checks every
# signature with osslsigncode verify against that authority; also that unsigned, tampered and
# foreign-signed files fail, and that a failed or interrupted signing leaves the file as it was.
# Then builds what ships in a scratch build folder with the build's own signing options
# (QWUS_SIGN_PKCS12, QWUS_SIGN_PASSWORD_FILE, QWUS_SIGN_TIMESTAMP, the latter a timestamp
# authority of this run) and verifies the signed executable, DLLs, driver catalog and MSI.
#   signing_test.sh BUILD_DIR PRODUCT_EXE MESSAGES_DLL CMAKE TOOLCHAIN_FILE
set -uo pipefail
build=$(cd "$1" && pwd)
product=$(realpath "$2") messages=$(realpath "$3")
cmake=$4 toolchain=$5
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
sign=$source_dir/packaging/sign
build_msi=$source_dir/packaging/build-msi

work=$build/release-signing
rm -rf "$work"
mkdir -p "$work"
cd "$work" || exit 1

failures=0
fail() { failures=$((failures + 1)); echo "FAILED: $*"; }
check() { local what=$1; shift; if "$@" >>checks.log 2>&1; then echo "ok: $what"; else fail "$what"; fi; }
verified() { osslsigncode verify -CAfile "$2" -in "$1"; }
refused() { ! osslsigncode verify -CAfile "$2" -in "$1"; }

# make_authority NAME: a self-signed authority NAME.pem with its key NAME.key.
make_authority() {
  openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 2 \
    -subj "/CN=$1" -addext basicConstraints=critical,CA:TRUE \
    -addext keyUsage=critical,keyCertSign,cRLSign 2>>openssl.log
}
make_authority "Throwaway Test Authority" && mv "Throwaway Test Authority.pem" ca.pem &&
  mv "Throwaway Test Authority.key" ca.key || { echo "FAILED: making the authority"; exit 1; }
make_authority "Someone Else" && mv "Someone Else.pem" other-ca.pem || exit 1
printf 'throwaway password\n' >password.txt
openssl req -newkey rsa:2048 -nodes -keyout signer.key -out signer.csr -subj "/CN=Quorlan Test Signer" 2>>openssl.log &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' >signer.ext &&
  openssl x509 -req -in signer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile signer.ext -out signer.pem 2>>openssl.log &&
  openssl pkcs12 -export -in signer.pem -inkey signer.key -certfile ca.pem -out signer.p12 \
    -passout file:password.txt 2>>openssl.log || { echo "FAILED: making the signing certificate"; exit 1; }

cp "$product" QuorlanWindowsUpdateService.exe
cp "$messages" QuorlanEventMessages.dll
cp "$product" unsigned.exe

check "the executable signs with the PKCS#12 file and its password file" \
  "$sign" --pkcs12 signer.p12 --password-file password.txt QuorlanWindowsUpdateService.exe
check "the DLL signs with PEM certificate and key" "$sign" --cert signer.pem --key signer.key QuorlanEventMessages.dll
check "the signed executable verifies" verified QuorlanWindowsUpdateService.exe ca.pem
check "the signed DLL verifies" verified QuorlanEventMessages.dll ca.pem

check "the MSI builds from the signed files" "$build_msi" QuorlanWindowsUpdateService.msi \
  QuorlanWindowsUpdateService.exe --messages QuorlanEventMessages.dll
check "the MSI signs" "$sign" --pkcs12 signer.p12 --password-file password.txt QuorlanWindowsUpdateService.msi
check "the signed MSI verifies" verified QuorlanWindowsUpdateService.msi ca.pem
check "the MSI carries the signed executable" bash -c \
  'mkdir -p extracted && cd extracted && msiextract ../QuorlanWindowsUpdateService.msi >/dev/null &&
   cmp "$(find . -name QuorlanWindowsUpdateService.exe)" ../QuorlanWindowsUpdateService.exe'

check "an unsigned executable does not verify" refused unsigned.exe ca.pem
check "a signature from another authority does not verify" refused QuorlanWindowsUpdateService.exe other-ca.pem
cp QuorlanWindowsUpdateService.exe tampered.exe
printf 'X' | dd of=tampered.exe bs=1 seek=4096 conv=notrunc 2>/dev/null
check "a changed signed executable does not verify" refused tampered.exe ca.pem
printf 'wrong password\n' >wrong-password.txt
cp "$product" wrong.exe
check "a wrong password fails" bash -c "! '$sign' --pkcs12 signer.p12 --password-file wrong-password.txt wrong.exe"
check "a failed signing leaves the file as it was" cmp wrong.exe "$product"
check "no key, no signing" bash -c "! '$sign' --cert signer.pem wrong.exe"

# --- an interrupted signing ---------------------------------------------------------------------
# A stand-in for osslsigncode writes part of its output and waits; the signing is stopped there
# and must leave neither the partly signed copy nor its scratch folder behind.
mkdir -p interrupted stand-in
cat >stand-in/osslsigncode <<'STANDIN'
#!/bin/sh
while [ "$#" -gt 0 ] && [ "$1" != -out ]; do shift; done
printf 'part of a signed file' >"$2"
echo $$ >"$(dirname "$0")/pid"
exec sleep 60
STANDIN
chmod +x stand-in/osslsigncode
cp "$product" interrupted/QuorlanWindowsUpdateService.exe
PATH=$PWD/stand-in:$PATH "$sign" --cert signer.pem --key signer.key \
  interrupted/QuorlanWindowsUpdateService.exe >>checks.log 2>&1 &
signing=$!
for _ in $(seq 100); do [[ -s stand-in/pid ]] && break; sleep 0.1; done
kill -TERM "$signing"
[[ -s stand-in/pid ]] && kill -TERM "$(cat stand-in/pid)"
wait "$signing"
check "an interrupted signing ends by its signal" test $? = 143
check "an interrupted signing leaves no scratch folder" test -z "$(find interrupted -name '.signing.*')"
check "an interrupted signing leaves the file as it was" cmp interrupted/QuorlanWindowsUpdateService.exe "$product"

# --- the build's own signing --------------------------------------------------------------------
# A timestamp authority of this run, certified by the throwaway authority.
openssl req -newkey rsa:2048 -nodes -keyout tsa.key -out tsa.csr -subj "/CN=Throwaway Timestamps" 2>>openssl.log &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=critical,timeStamping\n' >tsa.ext &&
  openssl x509 -req -in tsa.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 -extfile tsa.ext \
    -out tsa.pem 2>>openssl.log || { echo "FAILED: making the timestamp certificate"; exit 1; }
echo 01 >tsa-serial
cat >tsa.cnf <<CONFIG
[tsa]
default_tsa = throwaway
[throwaway]
serial = $PWD/tsa-serial
crypto_device = builtin
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha256, sha384, sha512
ess_cert_id_alg = sha256
CONFIG
tsa_pid=''
trap '[[ -z $tsa_pid ]] || kill "$tsa_pid"' EXIT
python3 "$here/timestamp_server.py" tsa-port tsa.cnf tsa.pem tsa.key 2>tsa.log &
tsa_pid=$!
for _ in $(seq 100); do [[ -s tsa-port ]] && break; sleep 0.1; done
[[ -s tsa-port ]] || { echo "FAILED: the timestamp authority did not start"; cat tsa.log; exit 1; }

# A signed release build without a timestamp server does not configure, and says which option.
"$cmake" -S "$source_dir" -B untimestamped-build -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DQWUS_SEPARATE_DEBUG_INFO=ON -DQWUS_DFU_UTIL=OFF -DQWUS_SIGN_PKCS12="$PWD/signer.p12" \
  -DQWUS_SIGN_PASSWORD_FILE="$PWD/password.txt" >untimestamped.log 2>&1
check "a signed release build without QWUS_SIGN_TIMESTAMP does not configure" test $? -ne 0
check "its error names QWUS_SIGN_TIMESTAMP" grep -q "QWUS_SIGN_TIMESTAMP is not set" untimestamped.log

# Only what signing touches is built, unoptimised, in a folder of its own: the executable, the
# DLL and the MSI, with the debug information moved out before the signing as in the release.
check "a build with the signing options configures" "$cmake" -S "$source_dir" -B signed-build -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=None -DQWUS_SEPARATE_DEBUG_INFO=ON \
  -DQWUS_SIGN_PKCS12="$PWD/signer.p12" -DQWUS_SIGN_PASSWORD_FILE="$PWD/password.txt" \
  -DQWUS_SIGN_TIMESTAMP="http://127.0.0.1:$(cat tsa-port)/"
check "the build signs what it builds" "$cmake" --build signed-build --target msi
timestamped() {  # timestamped FILE: signed by the test signer, countersigned by the authority
  local report
  report=$(osslsigncode verify -CAfile ca.pem -TSA-CAfile ca.pem -in "$1") &&
    grep -qx 'Timestamp Server Signature verification: ok' <<<"$report"
}
for file in service/QuorlanWindowsUpdateService.exe eventlog/messages/QuorlanEventMessages.dll \
    installer/QuorlanDriverActions.dll dfu-util/dfu-util.exe winusb-driver/orvale-winusb.cat \
    QuorlanWindowsUpdateService.msi; do
  check "the build's $(basename "$file") verifies, with its timestamp" timestamped "signed-build/$file"
done
check "the build's MSI extracts" bash -c \
  'mkdir -p signed-extracted && cd signed-extracted && msiextract ../signed-build/QuorlanWindowsUpdateService.msi >/dev/null'
for file in service/QuorlanWindowsUpdateService.exe dfu-util/dfu-util.exe \
    winusb-driver/orvale-winusb.cat; do
  check "the build's MSI carries its signed $(basename "$file")" \
    cmp "$(find signed-extracted -name "$(basename "$file")")" "signed-build/$file"
done
# The driver actions travel in the Binary table, which msiinfo writes out as Binary/NAME.
check "the build's MSI carries its signed QuorlanDriverActions.dll in its Binary table" bash -c \
  'mkdir -p signed-binary && cd signed-binary &&
   msiinfo export ../signed-build/QuorlanWindowsUpdateService.msi Binary >/dev/null &&
   cmp Binary/Binary.DriverActions ../signed-build/installer/QuorlanDriverActions.dll'

echo "$failures failed (logs in $work)"
[[ $failures -eq 0 ]]
