#!/usr/bin/env bash
# The WinUSB driver package the build makes (packaging/winusb-driver): its INF as Windows' SetupAPI
# reads it (Wine's, through inf_lines.exe), and its catalog as openssl and osslsigncode read it:
# one member, the INF, with the SHA-256 hash of all its bytes, laid out as Microsoft's makecat
# lays out a flat file's member; signed with a certificate of this run, it verifies; a changed
# INF is no longer the one the catalog lists.
#   winusb_driver_test.sh WINE_RUN INF_LINES_EXE DRIVER_DIR MAKE_CATALOG VERSION DATE BUILD_DIR
# VERSION (a.b.c) and DATE (YYYY-MM-DD) are those the build wrote into the INF's DriverVer.
# Writes a JUnit report BUILD_DIR/test-results/e2e_winusb-driver.xml.
set -uo pipefail

wine_run=$1 inf_lines=$2 driver_dir=$(cd "$3" && pwd) make_catalog=$4 version=$5 date=$6
build=$(cd "$7" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
sign=$here/../../packaging/sign
work=$build/winusb-driver-test
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
source "$here/../e2e/checks.sh"
trap 'report_checks "$build/test-results" winusb-driver "$work"; exit $?' EXIT
inf=$driver_dir/orvale-winusb.inf catalog=$driver_dir/orvale-winusb.cat

# --- the INF, as SetupAPI reads it ----------------------------------------------------------------
# USBDevice's class GUID is Windows' own; the hardware ids and the interface class are the
# device's (docs/device-makers.md), the install sections those Microsoft documents for WinUSB; the
# device's security descriptor lets SYSTEM and the Administrators alone open it.
driver_date=$(date -d "$date" +%m/%d/%Y)
cat >"$work/expected-inf.txt" <<LINES
class = USBDevice {88BAE032-5A81-49F0-BC3D-A4FF138216D6}
[Version] Signature = \$Windows NT\$
[Version] Class = USBDevice
[Version] ClassGuid = {88BAE032-5A81-49F0-BC3D-A4FF138216D6}
[Version] Provider = Quorlan
[Version] CatalogFile = orvale-winusb.cat
[Version] DriverVer = $driver_date,$version.0
[Version] PnpLockdown = 1
[Manufacturer] Quorlan = Orvale,NTamd64,NTarm64
[Orvale.NTamd64] Orvale = OrvaleWinUsb,USB\\VID_C4E2&PID_8351
[Orvale.NTamd64] Orvale (firmware update mode) = OrvaleWinUsb,USB\\VID_C4E2&PID_8352
[Orvale.NTarm64] Orvale = OrvaleWinUsb,USB\\VID_C4E2&PID_8351
[Orvale.NTarm64] Orvale (firmware update mode) = OrvaleWinUsb,USB\\VID_C4E2&PID_8352
[OrvaleWinUsb.NT] Include = winusb.inf
[OrvaleWinUsb.NT] Needs = WINUSB.NT
[OrvaleWinUsb.NT.Services] Include = winusb.inf
[OrvaleWinUsb.NT.Services] Needs = WINUSB.NT.Services
[OrvaleWinUsb.NT.HW] AddReg = OrvaleWinUsb.AddReg
[OrvaleWinUsb.AddReg]  = HKR,,DeviceInterfaceGUIDs,0x10000,{5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}
[OrvaleWinUsb.AddReg]  = HKR,,Security,,D:P(A;;GA;;;SY)(A;;GA;;;BA)
LINES
"$wine_run" "$inf_lines" "$(winepath -w "$inf" 2>/dev/null)" Version Manufacturer Orvale.NTamd64 \
  Orvale.NTarm64 OrvaleWinUsb.NT OrvaleWinUsb.NT.Services OrvaleWinUsb.NT.HW OrvaleWinUsb.AddReg \
  </dev/null 2>"$work/inf-lines.err" | tr -d '\r' >"$work/inf.txt"
check "SetupAPI reads the INF's sections as written (diff in $work)" \
  diff "$work/expected-inf.txt" "$work/inf.txt"
check "the INF's lines end in CR LF" test "$(grep -c $'\r$' "$inf")" = "$(wc -l <"$inf")"

# --- the catalog, as openssl reads it -------------------------------------------------------------
inf_hash=$(sha256sum "$inf" | cut -d ' ' -f 1)
HASH=${inf_hash^^}
openssl asn1parse -inform DER -in "$catalog" >"$work/catalog.txt" 2>&1
check "openssl reads the catalog as PKCS#7 signed data" \
  grep -q ':pkcs7-signedData$' "$work/catalog.txt"
check "its content is a certificate trust list (szOID_CTL)" \
  grep -q ':1\.3\.6\.1\.4\.1\.311\.10\.1$' "$work/catalog.txt"
check "its members are version 2 members (szOID_CATALOG_LIST_MEMBER2)" \
  grep -q ':1\.3\.6\.1\.4\.1\.311\.12\.1\.3$' "$work/catalog.txt"
check "it lists one hash: the SHA-256 hash of the INF's bytes, as the member's tag and its digest" \
  test "$(grep -oE 'HEX DUMP\]:[0-9A-F]{64}$' "$work/catalog.txt" | sed 's/.*://' | sort | uniq -c |
         awk '{ print $1, $2 }')" = "2 $HASH"
# The catalog's own attribute, as makecat writes OSAttr: the name in a BMPString, the flags
# 0x10010001, the value in UTF-16 with its NUL; "2:10.0" names Windows 10 and 11.
osattr=1e0c$(printf 'OSAttr' | iconv -t UTF-16BE | xxd -p)020410010001040e
osattr+=$(printf '2:10.0\0' | iconv -t UTF-16LE | xxd -p)
check "it names Windows 10 and 11 in its OSAttr" grep -q "$osattr" <(xxd -p "$catalog" | tr -d '\n')

# A member as Microsoft's makecat wrote it for a flat file named unsigned.mof into a version 2
# catalog (HashAlgorithms=SHA256), as published with osslsigncode's tests (tests/files/unsigned.cat,
# 207 bytes from offset 250): make-catalog must write the same bytes but for the file's hash.
makecat_member=3081cc0420HASH3181a73010060a2b0601040182370c020331028200303c060a2b0601040182370c0201312e302c1e0800460069006c0065020410010001041a75006e007300690067006e00650064002e006d006f00660000003055060a2b060104018237020104314730453010060a2b060104018237020119a20280003031300d060960864801650304020105000420HASH
mkdir -p "$work/makecat"
printf 'any flat file\r\n' >"$work/makecat/unsigned.mof"
check "make-catalog makes a catalog of another file" \
  "$make_catalog" "$work/makecat/unsigned.cat" --date "$date" "$work/makecat/unsigned.mof"
mof_hash=$(sha256sum "$work/makecat/unsigned.mof" | cut -d ' ' -f 1)
check "its member has the bytes of makecat's member of a flat file" \
  grep -q "${makecat_member//HASH/$mof_hash}" <(xxd -p "$work/makecat/unsigned.cat" | tr -d '\n')

# The same INF and date give the same catalog: a rebuild changes nothing that is signed.
"$make_catalog" "$work/once.cat" --date "$date" "$inf"
"$make_catalog" "$work/twice.cat" --date "$date" "$inf"
check "two runs of make-catalog on the INF give the same bytes" \
  cmp -s "$work/once.cat" "$work/twice.cat"

# --- signed, as osslsigncode reads it -------------------------------------------------------------
openssl req -x509 -newkey rsa:2048 -nodes -keyout "$work/ca.key" -out "$work/ca.pem" -days 2 \
  -subj "/CN=Throwaway Driver Authority" -addext basicConstraints=critical,CA:TRUE \
  -addext keyUsage=critical,keyCertSign,cRLSign 2>>"$work/openssl.log" &&
  openssl req -newkey rsa:2048 -nodes -keyout "$work/signer.key" -out "$work/signer.csr" \
    -subj "/CN=Quorlan Test Driver Signer" 2>>"$work/openssl.log" &&
  printf 'basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n' \
    >"$work/signer.ext" &&
  openssl x509 -req -in "$work/signer.csr" -CA "$work/ca.pem" -CAkey "$work/ca.key" \
    -CAcreateserial -days 2 -extfile "$work/signer.ext" -out "$work/signer.pem" 2>>"$work/openssl.log"
check "a certificate authority and a code-signing certificate of this run" test $? = 0
cp "$catalog" "$work/signed.cat"
check "packaging/sign signs the catalog" \
  "$sign" --cert "$work/signer.pem" --key "$work/signer.key" "$work/signed.cat"
osslsigncode verify -verbose -CAfile "$work/ca.pem" -in "$work/signed.cat" >"$work/verify.txt" 2>&1
check "osslsigncode verifies the signed catalog against the authority" \
  grep -qx 'Signature verification: ok' "$work/verify.txt"
# osslsigncode's own reading of the members: the name, the algorithm and the hash, each tab-led.
members=$(sed -n '/^Catalog members:$/,/^$/{/^\t/p}' "$work/verify.txt" | sed 's/[[:space:]]*$//')
check "osslsigncode lists one member: the INF, by its name and its SHA-256 hash" test "$members" = \
  "$(printf '\tFile name: orvale-winusb.inf\n\tHash algorithm: SHA256\n\tMessage digest: %s' "$HASH")"

# --- a changed INF is not the one the catalog lists -----------------------------------------------
# in_catalog FILE CATALOG: FILE's SHA-256 hash is a member's, as openssl prints the catalog.
in_catalog() {
  local hash
  hash=$(sha256sum "$1" | cut -d ' ' -f 1)
  openssl asn1parse -inform DER -in "$2" | grep -q "HEX DUMP\]:${hash^^}$"
}
check "the build's INF is in the build's catalog" in_catalog "$inf" "$catalog"
sed 's/PID_8352/PID_8353/' "$inf" >"$work/orvale-winusb.inf"
not_in_catalog() { ! in_catalog "$@"; }
check "an INF changed after the catalog was made is not in it" \
  not_in_catalog "$work/orvale-winusb.inf" "$catalog"
finished=1
