#!/usr/bin/env bash
# Static analysis of the product's own sources as one build compiles them. Prints every finding
# and exits non-zero on any.
#   lint.sh clang-tidy SOURCE_DIR BUILD_DIR RUN_CLANG_TIDY CLANG_TIDY [OTHER_BUILD_DIR]
#   lint.sh cppcheck   SOURCE_DIR BUILD_DIR CPPCHECK PLATFORM
# The files are those of BUILD_DIR/compile_commands.json under platform/, eventlog/, upgrade/,
# service/, tools/ and installer/ that are not tests, test support or fuzzers, less those that
# OTHER_BUILD_DIR compiles too (clang-tidy is slow: the portable code is analysed once, with the
# Windows build). The headers they include are analysed with them (HeaderFilterRegex in
# .clang-tidy). Each build sees the adapters it compiles: *_posix.cpp on the host, *_win.cpp for
# the MinGW target.
set -euo pipefail
tool=$1 source_dir=$2 build_dir=$3
database=$build_dir/compile_commands.json
[[ -f $database ]] || { echo "$database is missing: build the lint_compile_commands target first"; exit 1; }

selected=$build_dir/lint-$tool
mkdir -p "$selected"
other=/dev/null
if [[ $tool == clang-tidy && -n ${6:-} ]]; then
  other=$6/compile_commands.json
  [[ -f $other ]] || { echo "$other is missing"; exit 1; }
fi
jq --arg root "$source_dir/" --slurpfile other <(jq '[.[].file]' "$other" 2>/dev/null || echo '[]') \
  '($other[0] // []) as $skip | [.[] | select(
    (.file | startswith($root)) and
    (.file | ltrimstr($root) | test("^(platform|eventlog|upgrade|service|tools|installer)/")) and
    (.file | test("_(test|test_support|fuzz)\\.cpp$|/tests?/") | not) and
    (.file as $file | $skip | index($file) | not))]' \
  "$database" >"$selected/compile_commands.json"
count=$(jq length "$selected/compile_commands.json")
[[ $count -gt 0 ]] || { echo "no product sources in $database"; exit 1; }
echo "$tool: $count files of $database"
jq -r '.[].file' "$selected/compile_commands.json" | sed "s#^$source_dir/#  #"

jobs=$(nproc)
status=0
case $tool in
  clang-tidy)
    # The checks and their settings are in .clang-tidy, where every finding is an error. The
    # runner prints each file's command line and a count of the warnings it left out (those in
    # the system's headers), and asks for colours: only the findings are shown, in plain text.
    "$4" -clang-tidy-binary "$5" -p "$selected" -j "$jobs" -quiet >"$selected/output.txt" 2>&1 ||
      status=$?
    sed -E $'s/\x1b\\[[0-9;]*m//g' "$selected/output.txt" |
      grep -v -E "^(\S*clang-tidy\S* |[0-9]+ warnings?( and [0-9]+ errors?)? generated\.$)" || true
    ;;
  cppcheck)
    # cppcheck's platform sets type sizes only: the target's own macros are given as well.
    target=(--library=std)
    [[ $5 == win* ]] && target+=(--library=windows -D_WIN32 -D_WIN64)
    suppressions=(
      --suppress=missingIncludeSystem  # the system's headers are not read: --library describes them
      --suppress=useStlAlgorithm       # a plain loop often reads better than the algorithm
    )
    "$4" --project="$selected/compile_commands.json" --platform="$5" --std=c++20 "${target[@]}" \
      --enable=warning,style,performance,portability --inline-suppr "${suppressions[@]}" \
      --error-exitcode=1 --quiet -j "$jobs" --cppcheck-build-dir="$selected" \
      --template='{file}:{line}:{column}: error: {message} [{id}]\n{code}' 2>&1 || status=$?
    ;;
  *) echo "unknown tool $tool"; exit 2 ;;
esac
[[ $status -ne 0 ]] || echo "$tool: no findings"
exit "$status"
