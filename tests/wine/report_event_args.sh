#!/usr/bin/env bash
# Runs report_events.exe under Wine with the eventlog debug channel on and compares every
# ReportEventW call it shows with the arguments the Windows event log adapter must pass: the
# event's type, category 0, the event id, no user SID, one string (five for the outcome event), no
# raw data, and the strings.
# Wine prints the string as an error line for an error, a warning line for a warning, and a
# trace line otherwise.
# The expected lines are Wine 8.0's exact wording of its ReportEventW stub (Debian's wine
# 8.0~repack-4, whose "wine --version" says "wine-8.0 (Debian 8.0~repack-4)"): under another Wine
# the test stops with a message instead of comparing them.
#   report_event_args.sh WINE_RUN REPORT_EVENTS_EXE
set -uo pipefail
wine_run=$1
program=$2

written_for=wine-8.0
wine_version=$("$wine_run" --version 2>/dev/null | head -n 1)
if [[ ${wine_version%% *} != "$written_for" ]]; then
  echo "This test matches the debug output of $written_for, but this Wine says '$wine_version':"
  echo "check its ReportEventW lines (WINEDEBUG=+eventlog) and update the expected lines here."
  exit 1
fi

output=$(WINEDEBUG=+eventlog "$wine_run" "$program" 2>&1 >/dev/null) || { echo "$program failed"; exit 1; }
# The thread id, the source handle and the strings' address vary; both must be non-null.
actual=$(grep 'ReportEventW' <<<"$output" | sed -E \
  -e 's/^[0-9a-f]+://' \
  -e 's/\(0*[1-9A-F][0-9A-F]*,(([^,]*,){6})0*[1-9A-F][0-9A-F]*,/(source,\1strings,/')
expected=$(cat <<'LINES'
fixme:advapi:ReportEventW (source,0x0000,0x0000,0x00000001,0000000000000000,0x0001,0x00000000,strings,0000000000000000): stub
trace:eventlog:ReportEventW L"run service success"
fixme:advapi:ReportEventW (source,0x0001,0x0000,0x00000002,0000000000000000,0x0001,0x00000000,strings,0000000000000000): stub
err:eventlog:ReportEventW L"service install failed."
fixme:advapi:ReportEventW (source,0x0002,0x0000,0x00000003,0000000000000000,0x0001,0x00000000,strings,0000000000000000): stub
warn:eventlog:ReportEventW L"service stopped."
fixme:advapi:ReportEventW (source,0x0004,0x0000,0x00000015,0000000000000000,0x0001,0x00000000,strings,0000000000000000): stub
trace:eventlog:ReportEventW L"cmdline is dfu-util.exe -D \"C:\\Program Files\\\00e9.dfu\" 100%"
fixme:advapi:ReportEventW (source,0x0001,0x0000,0xc00003e9,0000000000000000,0x0005,0x00000000,strings,0000000000000000): stub
err:eventlog:ReportEventW L"A7X2249"
err:eventlog:ReportEventW L"0100"
err:eventlog:ReportEventW L"0102"
err:eventlog:ReportEventW L"orvale-0102.dfu"
err:eventlog:ReportEventW L""
LINES
)
if [[ $actual != "$expected" ]]; then
  echo "ReportEventW calls differ (expected, then seen):"
  diff <(echo "$expected") <(echo "$actual")
  exit 1
fi
echo "ReportEventW: 5 calls with the expected arguments"
