#!/usr/bin/env bash
# End-to-end tests of the service under Wine's service control manager. Each scenario runs in a
# private Wine prefix of its own, which is removed afterwards with its wineserver.
#   service_e2e.sh BUILD_DIR SCENARIO
# Scenarios: product (install, start, stop, uninstall of the real product), upgrade, up-to-date,
# absent, no-package, not-orvale, hundred-arrivals (the test host with the device simulator as dfu-util.exe),
# real-tool-no-device (the test host with the dfu-util.exe built from Debian's sources).
# Writes a JUnit report BUILD_DIR/test-results/e2e_SCENARIO.xml and exits non-zero on failure.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib/wine_address_space.sh" && without_address_randomisation "$0" "$@"

build=$(cd "$1" && pwd)
scenario=$2
here=$(cd "$(dirname "$0")" && pwd)

product=$build/service/QuorlanWindowsUpdateService.exe
test_host=$build/tools/QuorlanWindowsUpdateServiceTestHost.exe
svcctl=$build/tools/svcctl.exe
simulator=$build/tools/dfu_simulator/bin/dfu-util.exe
real_tool=$build/dfu-util/dfu-util.exe
tool=$simulator  # what the test host's scenarios install as dfu-util.exe
service=QuorlanWindowsUpdateService
service_key='HKLM\System\CurrentControlSet\Services\QuorlanWindowsUpdateService'
orvale_path='\\?\USB#VID_C4E2&PID_8351#A7X2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}'

work=$build/e2e/$scenario
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qwus-e2e-$scenario.XXXXXX")
export WINEDLLOVERRIDES="mscoree,mshtml="
# Quiet, but for the line Wine leaves when it cannot lay out a new process's address space.
export WINEDEBUG=-all,err+virtual
install_dir=$WINEPREFIX/drive_c/Program\ Files/Quorlan/orvale/Services
install_dir_win='C:\Program Files\Quorlan\orvale\Services'
services_log=$work/services.log

source "$here/checks.sh"

cleanup() {
  cp "$install_dir/events.tsv" "$install_dir/dfu-util.log" "$install_dir/dfu-util.state" "$work/" 2>/dev/null
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  rm -rf "$WINEPREFIX"
  report_checks "$build/test-results" "$scenario" "$work"
  exit $?
}
trap cleanup EXIT

# The prefix is made, then its wineserver is restarted so that the first program after the
# restart starts services.exe afresh: its standard error, which every service inherits, goes to
# services.log with the eventlog channel on, so the product's reports land there.
start_prefix() {
  wineserver -p </dev/null >/dev/null 2>&1
  wine wineboot -i </dev/null >/dev/null 2>&1
  wineserver -k 2>/dev/null
  wineserver -w
  wineserver -p </dev/null >/dev/null 2>&1
  WINEDEBUG=$WINEDEBUG,+eventlog,fixme+advapi wine cmd /c exit 0 </dev/null >/dev/null 2>"$services_log"
  mkdir -p "$install_dir"
}

# Events of one run's standard error as "ID TYPE TEXT" lines: Wine writes each report as a
# "ReportEventW (handle,type,category,id,...)" line and then its text, on the same thread.
events() {  # needs gawk
  gawk '
    match($0, /^([0-9a-f]+):fixme:advapi:ReportEventW \(([0-9A-F]+),0x([0-9a-f]+),0x[0-9a-f]+,0x([0-9a-f]+),/, m) {
      pending[m[1]] = strtonum("0x" m[4]) " " strtonum("0x" m[3]); next
    }
    match($0, /^([0-9a-f]+):[a-z]+:eventlog:ReportEventW L"(.*)"$/, m) {
      if (m[1] in pending) { print pending[m[1]] " " m[2]; delete pending[m[1]] }
    }' "$1"
}

# The texts of a run's events, one a line.
texts() { events "$1" | cut -d' ' -f3-; }

# True when the lines of file $1 contain the lines of file $2 in order (others may come between).
in_order() {
  awk 'BEGIN { i = 0 } NR == FNR { want[n++] = $0; next } i < n && $0 == want[i] { i++ } END { exit (i < n) }' "$2" "$1"
}

expect_events() {  # expect_events DESCRIPTION LOGFILE "ID TYPE TEXT"...
  local what=$1 log=$2
  shift 2
  printf '%s\n' "$@" >"$work/expected"
  events "$log" >"$work/actual"
  if in_order "$work/actual" "$work/expected"; then
    pass "$what"
  else
    fail "$what"
    echo "  expected, in order:"; sed 's/^/    /' "$work/expected"
    echo "  got:"; sed 's/^/    /' "$work/actual"
  fi
}

run_exe() {  # run_exe LOGNAME EXE ARGS...: runs with the event channel on; prints the exit status
  local name=$1
  shift
  WINEDEBUG=$WINEDEBUG,+eventlog,fixme+advapi wine "$@" </dev/null >"$work/$name.out" 2>"$work/$name.log"
  echo $?
}

check_registry() {  # check_registry DESCRIPTION NAME EXPECTED
  local value
  value=$(registry_value "$2")
  if [[ $value == "$3" ]]; then pass "$1"; else fail "$1: $2 is '$value', not '$3'"; fi
}

wait_for() {  # wait_for SECONDS COMMAND...: polls until COMMAND succeeds
  local deadline=$((SECONDS + $1))
  shift
  until "$@"; do
    ((SECONDS < deadline)) || return 1
    sleep 0.2
  done
}

net_start() { wine net start "$service" </dev/null >>"$work/net-start.out" 2>&1; }

# --- the real product -------------------------------------------------------------------------

scenario_product() {
  cp "$product" "$install_dir/"
  local exe="$install_dir_win\\QuorlanWindowsUpdateService.exe"

  check "install exits 0" test "$(run_exe install "$exe" install)" = 0
  expect_events "install reports" "$work/install.log" \
    "1 2 service start install." "2 0 create service success." "3 0 service install success."
  check_registry "image path is the executable's path, unquoted" ImagePath "$exe"
  check_registry "own process" Type 0x10
  check_registry "auto start" Start 0x2
  check_registry "critical error control" ErrorControl 0x3
  check_registry "LocalSystem" ObjectName LocalSystem
  check_registry "display name" DisplayName "$service"

  check "install again fails with -1" test "$(run_exe install2 "$exe" install)" = 255
  expect_events "install again reports" "$work/install2.log" \
    "2 1 create service failed." "3 1 service install failed."

  check "net start" net_start
  expect_events "start messages" "$services_log" \
    "1 2 run talvex windows update normally." \
    "2 4 enter service main function." \
    "3 4 enter initialize service function." \
    "4 4 register service control handler success." \
    "5 4 enter registerStart function." \
    "6 0 register device notification success." \
    "7 0 initialize service success."

  check "uninstall while running fails with -1" test "$(run_exe uninstall-running "$exe" uninstall)" = 255
  expect_events "uninstall while running reports" "$work/uninstall-running.log" \
    "1 1 service not stopped, can not delete this service." "2 1 service uninstall failed."
  check "still registered" registered

  wine net stop "$service" </dev/null >"$work/net-stop.out" 2>&1
  check "net stop" test $? = 0
  wait_for 10 grep -q 'run service success' "$services_log"
  expect_events "stop messages" "$services_log" \
    "8 4 control code: SERVICE_CONTROL_STOP." "9 4 enter onStop function." \
    "10 4 unregister device notification." "11 4 service control stop success." \
    "12 0 run service success"

  check "uninstall exits 0" test "$(run_exe uninstall "$exe" uninstall)" = 0
  expect_events "uninstall reports" "$work/uninstall.log" \
    "1 2 service stopped." "2 0 service delete success." "3 0 service uninstall success."
  check "registration gone" not_registered

  check "uninstall when not installed fails" test "$(run_exe uninstall-missing "$exe" uninstall)" = 255
  expect_events "uninstall when not installed reports" "$work/uninstall-missing.log" \
    "1 1 Open talvex windows update service failed." "2 1 service uninstall failed."

  check "bad parameter fails with -1" test "$(run_exe bad "$exe" Install)" = 255
  expect_events "bad parameter reports" "$work/bad.log" "1 1 service start with bad parameters."
  check "two arguments fail with -1" test "$(run_exe bad2 "$exe" install now)" = 255

  check "console start exits 0" test "$(run_exe console "$exe")" = 0
  expect_events "console start reports" "$work/console.log" \
    "1 2 run talvex windows update normally." \
    "2 1 start service control dispatcher failed, GetLastErrorCode: 1063"
}

# --- the test host with the simulator ---------------------------------------------------------

events_tsv=$install_dir/events.tsv

# write_state MODE VERSION PRESENT: the simulated device's state.
write_state() {
  printf 'mode=%s\nversion=%s\ndfu_version=%s\npresent=%s\n' "$1" "$2" "$2" "$3" \
    >"$install_dir/dfu-util.state"
}

# True once the detach's output has been read $1 times.
detaches_reach() {
  test "$(grep -c $'\thandlePipeInfo updev.mode 0 strOutput=' "$events_tsv" 2>/dev/null)" -ge "$1"
}

# setup_test_host MODE VERSION PRESENT [PACKAGE_VERSION]: installs the test host, the simulator in
# the given state and, unless PACKAGE_VERSION is "none", a package made by dfu-suffix.
setup_test_host() {
  local mode=$1 version=$2 present=$3 package=${4:-0102}
  cp "$test_host" "$svcctl" "$install_dir/"
  cp "$tool" "$install_dir/dfu-util.exe"
  write_state "$mode" "$version" "$present"
  if [[ $package != none ]]; then
    head -c 1024 /dev/urandom >"$work/firmware.dfu"
    dfu-suffix -a "$work/firmware.dfu" -v c4e2 -p 8351 -d "0x$package" >/dev/null
    cp "$work/firmware.dfu" "$install_dir/orvale-$package.dfu"
  fi
  echo 1000 >"$install_dir/time-divisor.txt"
  printf '%s\n' "$orvale_path" >"$install_dir/arrival.txt"
  local exe="$install_dir_win\\QuorlanWindowsUpdateServiceTestHost.exe"
  check "test host installs" test "$(run_exe install "$exe" install)" = 0
  check "test host starts" net_start
}

arrive() { wine "$install_dir_win\\svcctl.exe" "$service" 128 </dev/null >>"$work/svcctl.out" 2>&1; }
tsv_has() { grep -qF -- "$1" "$events_tsv" 2>/dev/null; }
state_of() { tr -d '\r' <"$install_dir/dfu-util.state" | sed -n "s/^$1=//p"; }
# Read anew at each poll: the simulator writes the state only once the detach has run.
state_is() { test "$(state_of "$1")" = "$2"; }

# Within each process, every source's event ids rise by one from its first (1 for the service's
# source, 21 for the engine's), with no gap; a new process starts again from the first.
ids_without_gaps() {
  awk -F'\t' '
    BEGIN { bad = 0 }
    {
      first = $1 == "OrvaleUpgradeProcess" ? 21 : 1
      if ($2 != first && (!($1 in last) || $2 != last[$1] + 1)) bad = 1
      last[$1] = $2
    }
    END { exit bad }' "$events_tsv"
}

expect_handled_and_removed() {
  check "handled" wait_for 60 tsv_has $'arrival device handled completely.'
  check "registration deleted" wait_for 30 not_registered
  check "stopped and deleted messages" tsv_has $'\tservice delete success.'
  check "event ids without gaps" ids_without_gaps
}

scenario_upgrade() {
  setup_test_host runtime 0100 1
  check "arrival accepted" arrive
  check "detach run" wait_for 60 tsv_has $'cmdline is dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e'
  check "device in DFU mode" wait_for 30 state_is mode dfu
  check "detach output read" wait_for 30 tsv_has $'handlePipeInfo updev.mode 0 strOutput='
  check "service still registered after the detach" registered
  check "second arrival accepted" arrive
  check "download run" wait_for 60 tsv_has "-S A7X2249 -D \"C:\\\\Program Files\\\\Quorlan\\\\orvale\\\\Services\\\\orvale-0102.dfu\""
  expect_handled_and_removed
  check "device runs 0102" test "$(state_of version)" = 0102
  check "device back in runtime mode" test "$(state_of mode)" = runtime
  check "package kept" test -f "$install_dir/orvale-0102.dfu"
}

scenario_up_to_date() {
  setup_test_host runtime 0102 1
  check "arrival accepted" arrive
  check "latest build" wait_for 60 tsv_has $'\treturn for latest build!'
  expect_handled_and_removed
}

scenario_absent() {
  setup_test_host runtime 0100 0
  check "arrival accepted" arrive
  check "listed twice" wait_for 60 tsv_has $'updev.mode is  2 retry is 0'
  expect_handled_and_removed
  check "two listings" test "$(grep -c -- '-l$' "$install_dir/dfu-util.log")" = 2
}

scenario_no_package() {
  setup_test_host runtime 0100 1 none
  check "arrival accepted" arrive
  check "listing step failed" wait_for 60 tsv_has $'\t2\tOrvaleUpgradeProcess.initDfuDevList failed!'
  check "no tool run" test ! -e "$install_dir/dfu-util.log"
  check "service keeps running" registered
  wine net stop "$service" </dev/null >"$work/net-stop.out" 2>&1
  check "net stop" test $? = 0
}

scenario_not_orvale() {
  setup_test_host runtime 0100 0
  printf '%s\n' '\\?\USB#VID_046D&PID_C52B#6&1#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}' >"$install_dir/arrival.txt"
  check "arrival accepted" arrive
  check "not an Orvale device, as an error" wait_for 60 tsv_has $'\t1\tarrival device is not Quorlan Orvale.'
  check "worker started all the same" wait_for 60 tsv_has $'doCmd updev.mode 2 cmdline is dfu-util.exe -l'
  expect_handled_and_removed
}

# expect_tsv DESCRIPTION: events.tsv is exactly the lines given on standard input ("|" for each
# tab), in order. Once the worker has published SERVICE_STOPPED ("unregister device
# notification."), the main thread's last report, "run service success", races the worker's
# "service stopped." and "service delete success.": from there on ids are not compared (that they
# have no gap is ids_without_gaps' check), and "run service success" must come once, anywhere.
expect_tsv() {
  local settle='
    racing && $4 == "run service success" { runs++; next }
    { if (racing) $2 = "-"; print }
    $4 == "unregister device notification." { racing = 1 }
    END { if (runs != 1) print "\"run service success\" " runs + 0 " times after the stop" }'
  tr '|' '\t' >"$work/expected.tsv"
  if diff <(awk -F'\t' -v OFS='\t' "$settle" "$work/expected.tsv") \
          <(awk -F'\t' -v OFS='\t' "$settle" "$events_tsv") >"$work/events.diff"; then
    pass "$1"
  else
    fail "$1"
    echo "  expected (<) and got (>), ids blanked once the service stopped:"
    sed 's/^/    /' "$work/events.diff"
  fi
}

# 100 arrivals in a row: 99 that find the device in runtime mode and detach it (the test puts it
# back into runtime mode each time), then one that downloads into it. The service must accept
# every arrival at once and number its events without a gap.
scenario_hundred_arrivals() {
  setup_test_host runtime 0100 1
  local detached accepted=0
  for i in $(seq 1 99); do
    write_state runtime 0100 1
    arrive && accepted=$((accepted + 1))
    wait_for 30 detaches_reach "$i" || break
  done
  check "99 arrivals accepted" test "$accepted" = 99
  detached=$(grep -c $'\tdoCmd updev.mode 0 cmdline is dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e' "$events_tsv")
  check "99 detaches" test "$detached" = 99
  check "still registered and running" registered
  write_state dfu 0100 1
  check "last arrival accepted" arrive
  expect_handled_and_removed
  check "device runs 0102" test "$(state_of version)" = 0102
  check "100 workers" test "$(grep -c $'\tarrival device is Quorlan Orvale.' "$events_tsv")" = 100
}

# The dfu-util.exe built from Debian's sources as dfu-util.exe, and no device: an arrival, two
# listings that find nothing, and the service's self-removal. Every event of both sources is
# checked, with the tool's output as the command runner reports it: its CR LF line ends kept, and
# cut with the rest of the report at 255 characters.
scenario_real_tool_no_device() {
  tool=$real_tool
  setup_test_host runtime 0100 0
  check "dfu-util.exe is the tool built from Debian's sources" cmp -s "$real_tool" "$install_dir/dfu-util.exe"
  check "arrival accepted" arrive
  expect_handled_and_removed
  check "the service's process ran to its end" wait_for 30 tsv_has $'\trun service success'
  local listing='handlePipeInfo updev.mode 2 strOutput= dfu-util 0.11\r\n\r\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\r\nCopyright 2010-2021 Tormod Volden and Stefan Schmidt\r\nThis program is Free Software and has ABSOLUTELY NO WARRANTY\r\nPlease report b'
  local packages='initUpgradeInfo packageList= C:\\Program Files\\Quorlan\\orvale\\Services\\*.dfu'
  local deleted="file delete   "$'\xef\xbc\x81'  # no file to delete: an empty name, then U+FF01
  expect_tsv "every event of both sources, in order" <<EVENTS
QuorlanWindowsUpdateService|1|2|service start install.
QuorlanWindowsUpdateService|2|0|create service success.
QuorlanWindowsUpdateService|3|0|service install success.
QuorlanWindowsUpdateService|1|2|run talvex windows update normally.
QuorlanWindowsUpdateService|2|4|enter service main function.
QuorlanWindowsUpdateService|3|4|enter initialize service function.
QuorlanWindowsUpdateService|4|4|register service control handler success.
QuorlanWindowsUpdateService|5|4|enter registerStart function.
QuorlanWindowsUpdateService|6|0|register device notification success.
QuorlanWindowsUpdateService|7|0|initialize service success.
QuorlanWindowsUpdateService|8|4|control code: SERVICE_CONTROL_DEVICEEVENT.
QuorlanWindowsUpdateService|9|4|dwEventType: 32768
QuorlanWindowsUpdateService|10|4|device event: device arrival, waiting for 5 seconds...
QuorlanWindowsUpdateService|11|4|Guid = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}
QuorlanWindowsUpdateService|12|2|arrival device is Quorlan Orvale.
OrvaleUpgradeProcess|21|4|$packages
OrvaleUpgradeProcess|22|4|$deleted
OrvaleUpgradeProcess|23|4|get targetVersion is 0102!
OrvaleUpgradeProcess|24|4|doCmd updev.mode 2 cmdline is dfu-util.exe -l
OrvaleUpgradeProcess|25|4|$listing
OrvaleUpgradeProcess|26|4|analyseBuffer updev.mode 2
OrvaleUpgradeProcess|27|4|updev.mode is  2 retry is 0
OrvaleUpgradeProcess|28|4|$packages
OrvaleUpgradeProcess|29|4|$deleted
OrvaleUpgradeProcess|30|4|get targetVersion is 0102!
OrvaleUpgradeProcess|31|4|doCmd updev.mode 2 cmdline is dfu-util.exe -l
OrvaleUpgradeProcess|32|4|$listing
OrvaleUpgradeProcess|33|4|analyseBuffer updev.mode 2
QuorlanWindowsUpdateService|13|2|arrival device handled completely.
QuorlanWindowsUpdateService|14|4|enter onStop function.
QuorlanWindowsUpdateService|15|4|unregister device notification.
QuorlanWindowsUpdateService|16|0|run service success
QuorlanWindowsUpdateService|17|2|service stopped.
QuorlanWindowsUpdateService|18|0|service delete success.
EVENTS
}

start_prefix
case $scenario in
  product) scenario_product ;;
  upgrade) scenario_upgrade ;;
  up-to-date) scenario_up_to_date ;;
  absent) scenario_absent ;;
  no-package) scenario_no_package ;;
  not-orvale) scenario_not_orvale ;;
  hundred-arrivals) scenario_hundred_arrivals ;;
  real-tool-no-device) scenario_real_tool_no_device ;;
  *) fail "unknown scenario $scenario" ;;
esac
