#!/usr/bin/env bash
# The Pester suites of the fleet's PowerShell (tests/fleet/*.Tests.ps1) under scripts/pwsh, over
# the recorded events of Wine scenarios: recorded/NAME.tsv is the events.tsv a scenario left,
# rendered here to Windows' event XML by fleet_query_test.py (which also checks the report's
# filter against them) for the tests' Get-WinEvent to answer from.
#   powershell_tests.sh REPO_ROOT RESULTS_DIR
# Writes the JUnit report RESULTS_DIR/powershell_pester.xml.
set -uo pipefail
root=$1 results=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/powershell-tests.XXXXXX")
trap 'rm -rf "$work"' EXIT

for tsv in "$here"/recorded/*.tsv; do
  name=$(basename "$tsv" .tsv)
  /usr/bin/python3 "$here/fleet_query_test.py" "$tsv" "$root/docs/fleet/outcomes-subscription.xml" \
    "$root/docs/fleet/outcomes-report.ps1" "$work/$name.xml" >"$work/$name.out" ||
    { echo "recorded/$name.tsv:"; cat "$work/$name.out"; exit 1; }
done
QWUS_RECORDED_EVENTS=$work "$root/scripts/pwsh" -NoProfile -NonInteractive \
  -File "$here/run-pester.ps1" "$results" powershell_pester
