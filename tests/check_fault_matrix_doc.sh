#!/usr/bin/env bash
# Keeps the fault matrix in docs/reliability.md true: every test a row names exists (a GoogleTest
# test, or a Wine scenario e2e_NAME that tests/CMakeLists.txt registers and whose function
# scenario_NAME service_e2e.sh holds),
# and every row of tests/reliability/fault_matrix_test.cpp is named in the document.
#   check_fault_matrix_doc.sh SOURCE_DIR RESULTS_DIR
# Writes RESULTS_DIR/fault_matrix_doc.xml (JUnit) and exits non-zero on a mismatch.
set -uo pipefail
source_dir=$1
results=$2
doc=$source_dir/docs/reliability.md
matrix=$source_dir/tests/reliability/fault_matrix_test.cpp
problems=()

rows=$(grep -oE '^ *\{"[a-z_]+",' "$matrix" | grep -oE '[a-z_]+')
named=$(sed -n '/^## Fault matrix/,$p' "$doc" | grep -oE '`[A-Za-z/_.]+`' | tr -d '`' | grep -E '^[A-Z][A-Za-z/_]*\.[A-Za-z/_]+$')

for test in $named; do
  if [[ $test == FaultMatrix/InjectedFault.IsReportedAndLeavesNothingBehind/* ]]; then
    grep -qx "${test##*/}" <<<"$rows" || problems+=("no matrix row ${test##*/}")
  else
    suite=${test%%.*} name=${test#*.}
    grep -rqE "TEST(_F|_P)?\($suite, $name\)" "$source_dir/tests" "$source_dir/service" "$source_dir/upgrade" \
      "$source_dir/eventlog" "$source_dir/platform" "$source_dir/tools" || problems+=("no test $test")
  fi
done
scenarios=$(sed -n '/^## Fault matrix/,$p' "$doc" | grep -oE '`e2e_[a-z-]+`' | tr -d '`')
registered=$(sed -n '/foreach(scenario/,/)$/p' "$source_dir/tests/CMakeLists.txt")
for test in $scenarios; do
  scenario=${test#e2e_}
  grep -qE "(^|[ (])$scenario( |\)|$)" <<<"$registered" || problems+=("no scenario $test in tests/CMakeLists.txt")
  grep -qE "^scenario_${scenario//-/_}\(\) " "$source_dir/tests/e2e/service_e2e.sh" ||
    problems+=("no scenario $test in service_e2e.sh")
done
for row in $rows; do
  grep -q "IsReportedAndLeavesNothingBehind/$row\`" "$doc" || problems+=("row $row not in the document")
done

mkdir -p "$results"
failed=$((${#problems[@]} > 0 ? 1 : 0))
cat >"$results/fault_matrix_doc.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="1" failures="$failed" disabled="0" errors="0" name="docs">
  <testsuite name="docs" tests="1" failures="$failed"><testcase name="fault_matrix_doc"/></testsuite>
</testsuites>
XML
printf '%s\n' "${problems[@]}"
exit $failed
