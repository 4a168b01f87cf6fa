#!/usr/bin/env bash
# The dfu-util.exe built from Debian's sources, under Wine with no USB device: for each command
# line the service runs, its exit status and what it writes on each stream, byte for byte with its
# CR LF line ends, and what reaches one pipe given as both streams, as the service gives it. Also
# what ships of it: a static executable that imports only system DLLs, without debug information,
# which is in the debug file beside it, and its licences, source note and complete source.
#   tool_test.sh WINE_RUN OBJDUMP TOOL_DIR PINNED_SOURCES
# Writes a JUnit report BUILD/test-results/e2e_dfu-util-tool.xml beside WINE_RUN.
set -uo pipefail

wine_run=$1 objdump=$2 dir=$3 pinned=$4
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$(dirname "$wine_run")" && pwd)
tool=$dir/dfu-util.exe
work=$build/dfu-util-tool-test
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
source "$here/../e2e/checks.sh"
# Standard error is compared byte for byte: none of Wine's own messages may join it.
export WINEDEBUG=-all
trap 'report_checks "$build/test-results" dfu-util-tool "$work"; exit $?' EXIT

banner=$'dfu-util 0.11\r\n\r\n'\
$'Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\r\n'\
$'Copyright 2010-2021 Tormod Volden and Stefan Schmidt\r\n'\
$'This program is Free Software and has ABSOLUTELY NO WARRANTY\r\n'\
$'Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\r\n\r\n'
package='C:\Program Files\Quorlan\orvale\Services\orvale-0102.dfu'
ids=c4e2:8351,c4e2:8352

# same_bytes DESCRIPTION FILE EXPECTED_TEXT
same_bytes() {
  if cmp -s "$2" <(printf '%s' "$3"); then
    pass "$1"
  else
    fail "$1"
    echo "  expected:"; printf '%s' "$3" | od -c | sed 's/^/    /'
    echo "  got:"; od -c "$2" | sed 's/^/    /'
  fi
}

# tool_case NAME STATUS STDOUT STDERR ARGS...: the tool run with ARGS, its streams apart, then both on
# one pipe (standard output's text before standard error's: the tool writes both unbuffered).
tool_case() {
  local name=$1 status=$2 out=$3 err=$4 got
  shift 4
  "$wine_run" "$tool" "$@" </dev/null >"$work/$name.out" 2>"$work/$name.err"
  got=$?
  check "$name: exit status $status (got $got)" test "$got" = "$status"
  same_bytes "$name: standard output" "$work/$name.out" "$out"
  same_bytes "$name: standard error" "$work/$name.err" "$err"
  "$wine_run" "$tool" "$@" </dev/null >"$work/$name.both" 2>&1
  same_bytes "$name: both streams on one pipe" "$work/$name.both" "$out$err"
}

tool_case version 0 "$banner" '' -V
tool_case list 0 "$banner" '' -l
tool_case verbose-list 0 "${banner}libusb version 1.0.26 (11724)"$'\r\n' '' -v -l
# The engine's detach and download command lines, with no device and no package file.
tool_case detach 74 "$banner" $'No DFU capable USB device available\r\n' -d "$ids" -S A7X2249 -c 1 -e
tool_case download 66 "$banner" "No such file or directory: Could not open file $package for reading"$'\r\n' \
  -d "$ids" -S A7X2249 -D "$package"

imports=$("$objdump" -p "$tool" | sed -n 's/^[[:space:]]*DLL Name: //p' | sort | paste -sd ' ')
# ADVAPI32.dll for the stack protector's canary, which libssp draws with CryptGenRandom.
check "imports only ADVAPI32.dll, KERNEL32.dll and msvcrt.dll ($imports)" \
  test "$imports" = "ADVAPI32.dll KERNEL32.dll msvcrt.dll"
sections() { "$objdump" -h "$1" | awk '$1 ~ /^[0-9]+$/ { print $2 }'; }
debug=$(sections "$tool" | grep -E '^\.(debug|zdebug|stab)' | paste -sd ' ')
check "no debug sections in dfu-util.exe ($debug)" test -z "$debug"
check "dfu-util.exe names its debug file" grep -qx .gnu_debuglink <(sections "$tool")
check "debug information in dfu-util.exe.debug" grep -qx .debug_info <(sections "$tool.debug")

first_lines() { head -n 2 "$1" | tr -s ' \t' ' ' | sed 's/^ //' | paste -sd '|'; }
check "dfu-util-COPYING.txt is the GPL 2" \
  test "$(first_lines "$dir/dfu-util-COPYING.txt")" = $'GNU GENERAL PUBLIC LICENSE\r|Version 2, June 1991\r'
check "libusb-COPYING.txt is the LGPL 2.1" \
  test "$(first_lines "$dir/libusb-COPYING.txt")" = $'GNU LESSER GENERAL PUBLIC LICENSE\r|Version 2.1, February 1999\r'
while read -r kind first second; do
  case $kind in
    source) check "the source note names $first $second" grep -qF " $first $second " "$dir/dfu-util-sources.txt" ;;
    sha256)
      check "the source note gives $second's sum" grep -qx "  $first  $second"$'\r' "$dir/dfu-util-sources.txt"
      check "the complete source beside it has $second, as pinned" \
        test "$(sha256sum <"$dir/dfu-util-source/$second" | cut -d' ' -f1)" = "$first" ;;
  esac
done <"$pinned"
# Every line ends in CR LF: as many lines end in CR as there are lines, and there are some.
crlf_only() { [[ -s $1 && $(grep -c $'\r$' "$1") == "$(wc -l <"$1")" ]]; }
for file in dfu-util-COPYING.txt libusb-COPYING.txt dfu-util-sources.txt; do
  check "$file has CR LF line ends" crlf_only "$dir/$file"
done
finished=1
