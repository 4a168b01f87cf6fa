# Check counting and the JUnit report shared by the Wine end-to-end scripts (sourced).

failures=0
checks=0
pass() { checks=$((checks + 1)); echo "ok: $*"; }
fail() { checks=$((checks + 1)); failures=$((failures + 1)); echo "FAILED: $*"; }
check() {  # check DESCRIPTION COMMAND...
  local what=$1
  shift
  if "$@"; then pass "$what"; else fail "$what"; fi
}

# report_checks RESULTS_DIR NAME LOG_DIR: writes RESULTS_DIR/e2e_NAME.xml, which scripts/test
# counts, prints the tally and returns 1 when a check failed.
report_checks() {
  local results=$1 name=$2 logs=$3 status=0
  [[ $failures -eq 0 ]] || status=1
  cat >"$results/e2e_$name.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<testsuites tests="1" failures="$status" disabled="0" errors="0" name="e2e">
  <testsuite name="e2e" tests="1" failures="$status"><testcase name="$name" checks="$checks"/></testsuite>
</testsuites>
XML
  echo "$name: $checks checks, $failures failed (logs in $logs)"
  return $status
}
