#!/usr/bin/env bash
# packaging/dfu-util/fetch-sources without the network: a complete fetch is used as it is; files
# handed to it are checked and unpacked with Debian's patches; a file whose sum differs from its
# pin is refused; and when it cannot fetch, its message says why and what to run. apt is pointed
# at configurations made for each case (APT_CONFIG): no sources, or no way to the archive.
#   fetch_test.sh FETCH_SOURCES PINNED_SOURCES FETCHED_DIR BUILD_DIR
# FETCHED_DIR is the build's complete fetch of PINNED_SOURCES; it is only read.
# Writes a JUnit report BUILD_DIR/test-results/e2e_dfu-util-fetch.xml.
set -uo pipefail

fetch=$1 pinned=$2 fetched=$3 build=$(cd "$4" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
work=$build/dfu-util-fetch-test
rm -rf "$work"
mkdir -p "$work/empty" "$build/test-results"
: >"$work/empty-list"
source "$here/../e2e/checks.sh"
trap 'report_checks "$build/test-results" dfu-util-fetch "$work"; exit $?' EXIT

# apt with the machine's sources but none of its other settings (whose proxy, say, would undo the
# offline case): as it is, without source entries, or with an archive that cannot be reached.
printf 'Dir::Etc::Parts "%s";\n' "$work/empty" >"$work/apt-plain.conf"
{ cat "$work/apt-plain.conf"
  printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\n' "$work/empty-list" "$work/empty"
} >"$work/apt-no-sources.conf"
{ cat "$work/apt-plain.conf"
  printf 'Acquire::%s::Proxy "http://127.0.0.1:9";\n' http https
  printf 'Acquire::Retries "0";\n'
} >"$work/apt-offline.conf"
# A machine of another Debian release: its one entry names the same mirror with another release,
# whose lists apt never read.
mirror=$(apt-get indextargets --format '$(TARGET_OF) $(REPO_URI)' | awk '$1 == "deb" && $2 ~ /\/debian\/$/ { print $2; exit }')
printf 'deb %s trixie main\n' "$mirror" >"$work/other-release.list"
{ cat "$work/apt-plain.conf"
  printf 'Dir::Etc::SourceList "%s";\nDir::Etc::SourceParts "%s";\n' "$work/other-release.list" "$work/empty"
  printf 'Dir::State::Lists "%s";\n' "$work/empty"
} >"$work/apt-other-release.conf"

# run NAME APT PINNED [HANDED]: fetch-sources into $work/NAME, given the files of the build's fetch
# first when HANDED is "handed"; leaves its status in $work/NAME.status and its messages in .err.
run() {
  local name=$1 apt=$2 pins=$3 handed=${4:-}
  if [[ $handed == handed ]]; then
    mkdir -p "$work/$name/download"
    cp "$fetched"/download/*.dsc "$fetched"/download/*.tar.* "$work/$name/download/"
  fi
  APT_CONFIG=$work/apt-$apt.conf "$fetch" "$pins" "$work/$name" >"$work/$name.out" 2>"$work/$name.err"
  echo $? >"$work/$name.status"
}
failed() { test "$(cat "$work/$1.status")" = 1 && test ! -e "$work/$1/.complete"; }
says() { grep -qF -- "$2" "$work/$1.err" || { echo "  $1 said: $(cat "$work/$1.err")"; false; }; }

# A pin that Debian does not serve, and a sum that differs from the file Debian serves.
sed 's/^source dfu-util .*/source dfu-util 0.10-1/' "$pinned" >"$work/unserved-pins"
awk '$1 == "sha256" && $3 == "libusb-1.0_1.0.26.orig.tar.bz2" {
  $2 = (substr($2, 1, 1) == "0" ? "1" : "0") substr($2, 2) } { print }' "$pinned" >"$work/wrong-pins"
check "the wrong pin differs from the right one in one sum" \
  test "$(diff "$pinned" "$work/wrong-pins" | grep -c '^>')" = 1

# A copy of the build's own fetch, marked: used as it is, neither fetched nor unpacked again.
cp -a "$fetched" "$work/complete"
touch "$work/complete/dfu-util/marker"
APT_CONFIG=$work/apt-no-sources.conf "$fetch" "$pinned" "$work/complete" >"$work/complete.err" 2>&1
check "a complete fetch: used without apt" test $? = 0
check "a complete fetch: not unpacked again" test -e "$work/complete/dfu-util/marker"

run handed no-sources "$pinned" handed
check "handed files: fetched without apt" test "$(cat "$work/handed.status")" = 0
check "handed files: complete" test -e "$work/handed/.complete"
check "handed files: dfu-util unpacked with Debian's patch applied" \
  grep -q 'python3' <(head -n 1 "$work/handed/dfu-util/dfuse-pack.py")
check "handed files: libusb unpacked" test -f "$work/handed/libusb-1.0/libusb/libusb.h"

run wrong-sum plain "$work/wrong-pins" handed
check "a file whose sum differs: refused" failed wrong-sum
check "a file whose sum differs: named" says wrong-sum 'the SHA-256 sum of libusb-1.0_1.0.26.orig.tar.bz2 differs from the one pinned in'
check "a file whose sum differs: not unpacked" test ! -e "$work/wrong-sum/libusb-1.0"

run no-sources no-sources "$pinned"
check "no mirror: fails" failed no-sources
check "no mirror: says so" \
  says no-sources "apt names no Debian mirror to fetch Debian bookworm's source packages dfu-util 0.11-1 and libusb-1.0 2:1.0.26-1 from."

check "another release's machine: its apt has a mirror" test -n "$mirror"
run other-release other-release "$pinned"
check "another release's machine: fetched" test "$(cat "$work/other-release.status")" = 0
check "another release's machine: complete" test -e "$work/other-release/.complete"
check "another release's machine: the same files" \
  diff -r "$fetched/download" "$work/other-release/download"
check "another release's machine: its own apt configuration removed" test ! -e "$work/other-release/apt"

run unserved plain "$work/unserved-pins"
check "a version no longer served: fails" failed unserved
check "a version no longer served: names the served one" \
  says unserved "Debian bookworm no longer serves dfu-util 0.10-1; it serves dfu-util 0.11-1."

sed 's/^release .*/release potato-nosuch/' "$pinned" >"$work/no-such-release-pins"
run no-such-release plain "$work/no-such-release-pins"
check "a release the mirror does not serve: fails" failed no-such-release
check "a release the mirror does not serve: says so" \
  says no-such-release "serves no release potato-nosuch (apt's messages are in"

run offline offline "$pinned"
check "no network: fails" failed offline
check "no network: says so and what to do" \
  says offline 'could not download dfu-util 0.11-1 and libusb-1.0 2:1.0.26-1 from Debian'"'"'s archive (no network?'
for name in wrong-sum no-sources unserved no-such-release offline; do
  check "$name: one line of message" test "$(wc -l <"$work/$name.err")" = 1
done
finished=1
