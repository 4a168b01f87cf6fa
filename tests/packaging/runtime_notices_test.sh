#!/usr/bin/env bash
# The notices of the compiler's runtime in the shipped executables (packaging/runtime-notices):
# what the linker's maps say was linked in is what the notices name, each licence named has its
# text, and a piece the table does not know stops the notices from being made.
#   runtime_notices_test.sh MAKE_NOTICES PIECES NOTICES BUILD_DIR NAME=MAP...
# NOTICES is the build's own notice file, made from the same maps.
# Writes a JUnit report BUILD_DIR/test-results/e2e_runtime-notices.xml.
set -uo pipefail

make_notices=$1 pieces=$2 notices=$3 build=$(cd "$4" && pwd)
shift 4
maps=("$@")
work=$build/runtime-notices-test
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
source "$(dirname "$0")/../e2e/checks.sh"
trap 'report_checks "$build/test-results" runtime-notices "$work"; exit $?' EXIT

map_of() { local entry; for entry in "${maps[@]}"; do [[ ${entry%%=*} == "$1" ]] && echo "${entry#*=}"; done; }
service_map=$(map_of QuorlanWindowsUpdateService.exe) tool_map=$(map_of dfu-util.exe)
check "a map of the service is given" test -f "$service_map"
check "a map of dfu-util.exe is given" test -f "$tool_map"

tr -d '\r' <"$notices" >"$work/notices.txt"
# The pieces a shipped file's section names.
listed() { awk -v f="$1" '$0 == f { on = 1; next } on && /^  / { print $1; next } on { exit }' "$work/notices.txt"; }
# The members that the linker took from LIBRARY, as MAP names them ("Archive member included").
members() {
  awk -v lib="$2" '/^\/[^ ]*\)$/ { name = $1; sub(/\(.*/, "", name); sub(/.*\//, "", name)
                                     if (name == lib) print $1 }' "$1" | sort -u
}

check "CR LF line ends" test "$(grep -c $'\r$' "$notices")" = "$(wc -l <"$notices")"
# Whether the notices name, for FILE, a piece that starts with PREFIX.
names_piece() { listed "$1" | awk -v p="$2" 'index($0, p) == 1 { found = 1 } END { exit !found }'; }
names_no_piece() { ! names_piece "$@"; }
# Each row: FILE, its map, a library, and whether the map shows pieces of it linked in; the
# notices must then name them, or none.
while IFS='|' read -r file map library expect; do
  [[ -n $file ]] || continue
  taken=$(members "${!map}" "$library" | wc -l)
  if [[ $expect == named ]]; then
    check "$file: the map shows $library linked in" test "$taken" -gt 0
    check "$file: the notices name $library's pieces" names_piece "$file" "$library("
  else
    check "$file: the map shows no $library" test "$taken" = 0
    check "$file: the notices name no piece of $library" names_no_piece "$file" "$library("
  fi
done <<'ROWS'
QuorlanWindowsUpdateService.exe|service_map|libstdc++.a|named
QuorlanWindowsUpdateService.exe|service_map|libpthread.a|named
QuorlanWindowsUpdateService.exe|service_map|libmingwex.a|named
dfu-util.exe|tool_map|libmingwex.a|named
dfu-util.exe|tool_map|libpthread.a|none
dfu-util.exe|tool_map|libstdc++.a|none
ROWS
check "the crt start-up object of the service is named" grep -qx crt2.o <(listed QuorlanWindowsUpdateService.exe)
check "the message DLL has no runtime code" \
  test "$(awk '$0 == "QuorlanEventMessages.dll" { getline; print; exit }' "$work/notices.txt")" = "  no runtime code"
# Every member the service's map shows taken from mingw-w64's own libraries is in its list.
for library in libmingw32.a libmingwex.a libpthread.a; do
  count=$(members "$service_map" "$library" | wc -l)
  check "service: as many $library pieces named as the map shows taken ($count)" \
    test "$(listed QuorlanWindowsUpdateService.exe | grep -c "^$library(")" = "$count"
done
# Each licence a piece names has its text or its stanza in the notices.
for licence in public-domain ZPL-2.1 Lucent Keith-Marshall expat BSD-2-clause-NetBSD ISC; do
  if grep -qE ": .*\\b$licence\\b" "$work/notices.txt"; then
    check "the licence $licence, named, has its text" grep -qx "License: $licence" "$work/notices.txt"
  fi
done
check "the GCC pieces' exception is given in full" \
  grep -qx "GCC RUNTIME LIBRARY EXCEPTION" "$work/notices.txt"

# A piece the table does not know (basename.c, under another licence than its neighbours) stops
# the notices, named with its file, and writes nothing.
sed 's|^\(/[^ ]*/libmingwex\.a\)(lib64_libmingwex_a-strnlen\.o)$|&\n\1(lib64_libmingwex_a-basename.o)\n                              x.o (basename)|' \
  "$service_map" >"$work/new-piece.map"
check "the altered map holds one more piece" \
  test "$(grep -c 'libmingwex_a-basename\.o' "$work/new-piece.map")" = 1
"$make_notices" "$pieces" "$work/new-piece.txt" \
  QuorlanWindowsUpdateService.exe="$work/new-piece.map" 2>"$work/new-piece.err"
check "a new piece: refused" test $? = 1
check "a new piece: named with its file" \
  grep -qF "libmingwex.a(basename) (in QuorlanWindowsUpdateService.exe)" "$work/new-piece.err"
check "a new piece: no notices written" test ! -e "$work/new-piece.txt"

printf 'not a map\n' >"$work/not-a-map.map"
"$make_notices" "$pieces" "$work/not-a-map.txt" x.exe="$work/not-a-map.map" 2>"$work/not-a-map.err"
check "a file that is no map: refused" test $? = 1
finished=1
