#!/usr/bin/env bash
# Keeps the README and docs/*.md from naming what does not exist: every path of the repository they
# give in backticks, every QWUS_ option (of CMake, or an environment variable a script reads),
# every preset after --preset, and every test they name (a GoogleTest Suite.Name, a Wine scenario
# e2e_NAME, a CTest test registered in CMake).
#   doc_references_test.sh SOURCE_DIR RESULTS_DIR
# Writes RESULTS_DIR/e2e_doc-references.xml (JUnit).
set -uo pipefail
source_dir=$(cd "$1" && pwd)
results=$2
work=$(mktemp -d "${TMPDIR:-/tmp}/doc-references.XXXXXX")
mkdir -p "$results"
source "$source_dir/tests/e2e/checks.sh"
trap 'report_checks "$results" doc-references "$work"; status=$?; rm -rf "$work"; exit $status' EXIT

cd "$source_dir" || exit 1
pages=(README.md docs/*.md)
# Every backticked token of the pages, one per line with its page.
for page in "${pages[@]}"; do
  grep -oE '`[^`]+`' "$page" | tr -d '`' | sed "s|^|$page\t|"
done >"$work/tokens"
cmake_text=$(cat CMakeLists.txt CMakePresets.json cmake/*.cmake $(git ls-files '*CMakeLists.txt'))
# The QWUS_ environment variables that scripts and tests read.
script_names=$(git grep -hoE '\$\{?QWUS_[A-Z0-9_]+' -- scripts tests | tr -d '${' | sort -u)
gtests=$(grep -rhoE 'TEST(_F|_P)?\(\s*[A-Za-z0-9_]+,\s*[A-Za-z0-9_]+' tests service upgrade eventlog platform tools |
  sed -E 's/TEST(_F|_P)?\(\s*//; s/,\s*/./')
ctests=$(grep -rhoE '(add_test\(NAME|qwus_add_test\(|qwus_add_wine_test\() *[A-Za-z0-9_-]+' \
  CMakeLists.txt cmake tests | awk '{ print $NF }' | sed 's/.*(//')
scenarios=$(sed -n '/foreach(scenario/,/)$/p' tests/CMakeLists.txt | tr ' ()' '\n\n\n' | grep -E '^[a-z-]+$')
presets=$(jq -r '.configurePresets[].name, (.buildPresets // [])[].name, (.testPresets // [])[].name' CMakePresets.json)

# One check per kind, naming every token of that kind that names nothing.
missing() {  # missing KIND: reads "PAGE<TAB>TOKEN" lines of the missing ones
  local lines
  lines=$(sort -u)
  [[ -z $lines ]] || { echo "  $1 that do not exist:"; sed 's/^/    /' <<<"$lines"; false; }
}

# Paths: tokens that start with one of the repository's top folders; placeholders in capitals,
# globs and options after the path are taken off first.
paths() {
  local page token path
  while IFS=$'\t' read -r page token; do
    path=${token%% *}
    path=${path%%[,:;)]}
    [[ $path =~ ^(scripts|packaging|tests|docs|tools|cmake|platform|eventlog|upgrade|service|resources)/ ]] || continue
    # Placeholders, globs, and what a build makes (its executables, debug files, packages).
    [[ $path =~ [A-Z]{2,}|[*?]|\.\.\.|KEY|\.(exe|dll|debug|msi|map)$ ]] && continue
    [[ -e $path || -e ${path%/} ]] || printf '%s\t%s\n' "$page" "$path"
  done <"$work/tokens"
}
check "every path named exists" missing paths < <(paths)

options() {
  local page token option
  while IFS=$'\t' read -r page token; do
    for option in $(grep -oE 'QWUS_[A-Z0-9_]+' <<<"$token"); do
      [[ $option == *_ ]] && continue
      grep -qw -- "$option" <<<"$cmake_text" || grep -qx -- "$option" <<<"$script_names" ||
        printf '%s\t%s\n' "$page" "$option"
    done
  done <"$work/tokens"
}
check "every QWUS_ option named is one the build or a script reads" missing options < <(options)

presets_named() {
  local page
  for page in "${pages[@]}"; do
    grep -oE -- '--preset[ =][a-z-]+' "$page" | sed -E 's/--preset[ =]//' | while read -r preset; do
      grep -qx -- "$preset" <<<"$presets" || printf '%s\t%s\n' "$page" "$preset"
    done
  done
}
check "every preset named is in CMakePresets.json" missing presets < <(presets_named)

tests_named() {
  local page token test
  while IFS=$'\t' read -r page token; do
    for test in $token; do
      test=${test%%[,:;)]}
      if [[ $test =~ ^[A-Z][A-Za-z0-9]+\.[A-Z][A-Za-z0-9_]+$ ]]; then
        grep -qx -- "$test" <<<"$gtests" || printf '%s\t%s\n' "$page" "$test"
      elif [[ $test =~ ^e2e_([a-z-]+)$ ]]; then
        grep -qx -- "${BASH_REMATCH[1]}" <<<"$scenarios" || grep -qx -- "$test" <<<"$ctests" ||
          printf '%s\t%s\n' "$page" "$test"
      elif [[ $test =~ ^(windows_dfu_util|packaging|release|resources|docs)_[a-z0-9_]+$ ]]; then
        grep -qx -- "$test" <<<"$ctests" || printf '%s\t%s\n' "$page" "$test"
      fi
    done
  done <"$work/tokens"
}
check "every test named is registered" missing tests < <(tests_named)

# The check can fail: a name that exists nowhere is reported by each kind.
printf 'README.md\t%s\n' scripts/no-such-script QWUS_NO_SUCH_OPTION NoSuch.Test e2e_no-such-scenario \
  packaging_no_such_test \
  >"$work/tokens"
for kind in paths:1 options:1 tests_named:3; do
  check "the names that exist nowhere are found by ${kind%:*} (${kind#*:})" \
    test "$(${kind%:*} | wc -l)" = "${kind#*:}"
done
finished=1
