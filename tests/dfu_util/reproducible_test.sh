#!/usr/bin/env bash
# dfu-util.exe builds reproducibly: build-tool run again, from the same fetched sources with the
# same compiler but in a folder of another name, gives the same bytes as the build that ships
# (its executable, debug file, notices and configuration), so anyone can check a shipped tool
# against its sources.
#   reproducible_test.sh BUILD_TOOL COMPILER SOURCES SHIPPED_BUILD BUILD_DIR
# Writes a JUnit report BUILD_DIR/test-results/e2e_dfu-util-reproducible.xml.
set -uo pipefail

build_tool=$1 cc=$2 sources=$3 shipped=$4
build=$(cd "$5" && pwd) || exit 1
here=$(cd "$(dirname "$0")" && pwd)
work=$build/dfu-util-reproducible-test
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
source "$here/../e2e/checks.sh"
trap 'report_checks "$build/test-results" dfu-util-reproducible "$work"; exit $?' EXIT

again=$work/a-second-build-elsewhere
check "the shipped build is complete" test -f "$shipped/.complete"
check "a second build succeeds" "$build_tool" --cc "$cc" "$sources" "$again"
for file in tool/dfu-util.exe tool/dfu-util.exe.debug tool/dfu-util-COPYING.txt \
    tool/libusb-COPYING.txt tool/dfu-util-sources.txt dfu-util-config/config.h; do
  check "$file is the same, byte for byte" cmp "$shipped/$file" "$again/$file"
done
rm -rf "$again"
finished=1
