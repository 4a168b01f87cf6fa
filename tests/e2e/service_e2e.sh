#!/usr/bin/env bash
# End-to-end tests of the service under Wine's service control manager. Each scenario runs in a
# private Wine prefix of its own, which is removed afterwards with its wineserver.
#   service_e2e.sh BUILD_DIR SCENARIO
# With QWUS_KEEP_WINEPREFIX=1 the scenario's Wine prefix is kept (its path in wineprefix.txt).
# Scenarios (the list is tests/CMakeLists.txt's): product (install, start, stop, uninstall of the
# real product); then the test host with the real dfu-util's Windows build over the emulated Orvale
# device (tools/emulated_libusb) as dfu-util.exe, the device announcing its own comings and goings:
# the reference device's upgrade (upgrade, upgrade-real-time, attached), other starting points,
# one scenario per misbehaviour of the device, a planted tool, and the shipped tool with no device.
# Writes a JUnit report BUILD_DIR/test-results/e2e_SCENARIO.xml and exits non-zero on failure.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib/wine_address_space.sh" && without_address_randomisation "$0" "$@"
source "$(dirname "$0")/../../scripts/lib/wine_prefix.sh"

build=$(cd "$1" && pwd)
scenario=$2
here=$(cd "$(dirname "$0")" && pwd)

product=$build/service/QuorlanWindowsUpdateService.exe
test_host=$build/tools/test_host/QuorlanWindowsUpdateServiceTestHost.exe
svcctl=$build/tools/svcctl.exe
# Renders an event's message from the message file as the event log does (FormatMessageW).
probe=$build/tests/resource_probe.exe
messages_dll=$build/eventlog/messages/QuorlanEventMessages.dll
real_tool=$build/dfu-util/dfu-util.exe  # the tool that ships, built from Debian's sources
# What the test host's scenarios install as dfu-util.exe: the real tool over the emulated device.
tool=$build/tools/emulated_libusb/bin/dfu-util.exe
attach_device=$build/tests/attach_device.exe  # makes the device's interface present in the prefix
service=QuorlanWindowsUpdateService
service_key='HKLM\System\CurrentControlSet\Services\QuorlanWindowsUpdateService'
orvale_path='\\?\USB#VID_C4E2&PID_8351#A7X2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}'
orvale_dfu_path='\\?\USB#VID_C4E2&PID_8352#A7X2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}'

work=$build/e2e/$scenario
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
wine_prefix_make "$(mktemp -d "${TMPDIR:-/tmp}/qwus-e2e-$scenario.XXXXXX")" ||
  { echo "no Wine prefix"; exit 1; }
install_dir=$WINEPREFIX/drive_c/Program\ Files/Quorlan/orvale/Services
install_dir_win='C:\Program Files\Quorlan\orvale\Services'
services_log=$work/services.log

source "$here/checks.sh"
source "$here/expected_events.sh"
lanes=$work/expected-lanes
mkdir -p "$lanes"

cleanup() {
  cp "$install_dir"/{events.tsv,events-threads.txt,bus-events.txt} "$install_dir"/dfu-util.state* \
    "$work/" 2>/dev/null
  # QWUS_KEEP_WINEPREFIX=1 keeps the prefix for a look at what the scenario left; its path is
  # in the scenario's log folder, in wineprefix.txt.
  if [[ ${QWUS_KEEP_WINEPREFIX:-} == 1 ]]; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
    printf '%s\n' "$WINEPREFIX" >"$work/wineprefix.txt"
  else
    wine_prefix_remove
  fi
  report_checks "$build/test-results" "$scenario" "$work"
  exit $?
}
trap cleanup EXIT

# The prefix, copied from a booted one, is not running yet: the first program starts services.exe,
# whose standard error, which every service inherits, goes to services.log with the eventlog
# channel on, so the product's reports land there.
start_prefix() {
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
  check_registry "image path is the executable's path, quoted" ImagePath "\"$exe\""
  check_registry "own process" Type 0x10
  check_registry "auto start" Start 0x2
  check_registry "critical error control" ErrorControl 0x3
  check_registry "LocalSystem" ObjectName LocalSystem
  check_registry "display name" DisplayName "$service"
  local outcome_key='HKLM\System\CurrentControlSet\Services\EventLog\Application\OrvaleUpgradeOutcome'
  check "the outcome source's message file is the one beside the executable" \
    test "$(registry_entry "$outcome_key" EventMessageFile)" = "REG_EXPAND_SZ $install_dir_win\\QuorlanEventMessages.dll"
  check "the outcome source takes errors, warnings and information" \
    test "$(registry_entry "$outcome_key" TypesSupported)" = "REG_DWORD 0x7"

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

  # Interactive users may send user-defined controls (128-255) to any service by default. The test
  # host turns 128-130 into device events; the product never does, and reports nothing for them.
  cp "$svcctl" "$install_dir/"
  local code
  for code in 128 129 130 200; do
    wine "$install_dir_win\\svcctl.exe" "$service" "$code" </dev/null >>"$work/svcctl.out" 2>&1
    check "user control $code accepted and ignored" test $? = 0
  done
  check "the product reports nothing for user controls" test "$(events "$services_log" | wc -l)" = 7

  check "uninstall while running fails with -1" test "$(run_exe uninstall-running "$exe" uninstall)" = 255
  expect_events "uninstall while running reports" "$work/uninstall-running.log" \
    "1 1 service not stopped, can not delete this service." "2 1 service uninstall failed."
  check "still registered" registered
  check "the outcome source stays while the service does" registered_key "$outcome_key"

  stop_by_hand
  wait_for 10 grep -q 'run service success' "$services_log"
  expect_events "stop messages" "$services_log" \
    "8 4 control code: SERVICE_CONTROL_STOP." "9 4 enter onStop function." \
    "10 4 unregister device notification." "11 4 service control stop success." \
    "12 0 run service success"

  check "uninstall exits 0" test "$(run_exe uninstall "$exe" uninstall)" = 0
  expect_events "uninstall reports" "$work/uninstall.log" \
    "1 2 service stopped." "2 0 service delete success." "3 0 service uninstall success."
  check "registration gone" not_registered
  check "the outcome source gone with it" key_missing "$outcome_key"

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

# --- the test host with the real tool over the emulated device --------------------------------

events_tsv=$install_dir/events.tsv

# make_package VERSION: orvale-VERSION.dfu in the install folder, made by dfu-suffix from an image
# of 1024 bytes that carries VERSION in its first two bytes, as the device expects.
make_package() {
  local version=$1
  printf "\\x${version:2:2}\\x${version:0:2}" >"$work/firmware.dfu"
  head -c 1022 /dev/zero | tr '\0' 'f' >>"$work/firmware.dfu"
  dfu-suffix -a "$work/firmware.dfu" -v c4e2 -p 8351 -d "0x$version" >/dev/null
  cp "$work/firmware.dfu" "$install_dir/orvale-$version.dfu"
}

# write_state KEY=VALUE...: the emulated device's state (orvale-usb-device's keys), which the tool
# reads when it starts and writes back when it ends.
write_state() { printf '%s\n' "$@" >"$install_dir/dfu-util.state"; }
state_of() { sed -n "s/^$1=//p" "$install_dir/dfu-util.state"; }
# Read anew at each poll: the tool writes the state back only when it ends.
state_is() { test "$(state_of "$1")" = "$2"; }

# setup_test_host PACKAGE_VERSION KEY=VALUE...: installs the test host, the tool with its device in
# the given state and, unless PACKAGE_VERSION is "none", a package made by dfu-suffix; then the
# test host's install and start, as expected events too. The test host announces the device's own
# comings and goings (bus-events.txt) with every wait divided by 10: a 50 s wait outlasts a tool
# run under Wine, as it does on a PC, so the runs overlap as they do there. With by_hand=1 it
# announces only what the scenario sends (arrive), with the waits divided by 1000; divisor=N sets
# another divisor.
setup_test_host() {
  local package=$1
  shift
  cp "$test_host" "$svcctl" "$install_dir/"
  cp "$tool" "$install_dir/dfu-util.exe"
  write_state "$@"
  [[ $package == none ]] || make_package "$package"
  if [[ ${by_hand:-} == 1 ]]; then
    announcer=control
    echo "${divisor:-1000}" >"$install_dir/time-divisor.txt"
  else
    : >"$install_dir/bus-events.txt"
    echo "${divisor:-10}" >"$install_dir/time-divisor.txt"
  fi
  arrival_path "$orvale_path"
  local exe="$install_dir_win\\QuorlanWindowsUpdateServiceTestHost.exe"
  check "test host installs" test "$(run_exe install "$exe" install)" = 0
  check "test host starts" net_start
  expect_install
  expect_start
}

# What a person does: plug the device in, pull it out; the device's path in the mode it is in.
plug_in() { printf 'arrive %s\n' "${1:-$orvale_path}" >>"$install_dir/bus-events.txt"; }
pull_out() { printf 'leave %s\n' "${1:-$orvale_path}" >>"$install_dir/bus-events.txt"; }

arrival_path() { printf '%s\n' "$1" >"$install_dir/arrival.txt"; }
arrive() { wine "$install_dir_win\\svcctl.exe" "$service" 128 </dev/null >>"$work/svcctl.out" 2>&1; }
tsv_has() { grep -qF -- "$1" "$events_tsv" 2>/dev/null; }
tsv_line() { grep -qxF -- "$1" "$events_tsv" 2>/dev/null; }  # a whole line of events.tsv
tsv_count() { grep -cF -- "$1" "$events_tsv" 2>/dev/null; }

# True once $1 detach runs have ended: each ends, as its listing did, with "analyseBuffer
# updev.mode 0". Waiting for a run's last event keeps the next arrival's events after it.
detach_runs_end() { test "$(tsv_count $'\tanalyseBuffer updev.mode 0')" -ge $((2 * $1)); }

# Within each process, every source's event ids are its first (1 for the service's source, 21 for
# the engine's) and the ones after it, in line order, each once, with no gap; a new process starts
# again from the first. A source takes an id and writes its report under one lock, so even threads
# that report at once (the main thread's "run service success" and the worker's last two) leave
# their lines in the order of their ids.
ids_without_gaps() {
  awk -F'\t' '
    BEGIN { bad = 0 }
    $1 == "OrvaleUpgradeOutcome" { next }  # its ids name outcomes
    {
      source = $1
      first = source == "OrvaleUpgradeProcess" ? 21 : 1
      if ($2 == first) next_id[source] = first
      if (!(source in next_id) || $2 != next_id[source]) bad = 1
      next_id[source] = $2 + 1
    }
    END { exit bad }' "$events_tsv"
}

# The main thread's "run service success" comes once, after the service's last "unregister device
# notification." (the worker's last two events may come before or after it).
run_success_after_stop() {
  awk -F'\t' '
    $4 == "unregister device notification." { unregistered = NR }
    $4 == "run service success" { count++; at = NR }
    END { exit !(count == 1 && at > unregistered && unregistered > 0) }' "$events_tsv"
}

# The test host's process is no longer running: every run under way has reported.
host_ended() { ! wine_prefix_runs QuorlanWindowsUpdateServiceTestHost.exe; }

# Every thread's events, in order, are exactly one lane the scenario expects, and every lane is
# one thread's (lanes.py; event ids aside, checked by ids_without_gaps). "run service success" is
# the main thread's last event, and comes once, after the stop.
check_all_events() {
  check "the service process ended" wait_for 60 host_ended
  on_lane main svc 0 'run service success'
  check "every thread's events, in order" \
    /usr/bin/python3 "$here/lanes.py" "$events_tsv" "$install_dir/events-threads.txt" "$lanes"
  check "run service success once, after the stop" run_success_after_stop
  check "event ids without gaps" ids_without_gaps
  if grep -q '^OrvaleUpgradeOutcome' "$lanes"/*; then
    check "each outcome event renders from the message file with its strings" outcomes_render
    # The events as Windows' event XML, in events.xml: the fleet's subscription, report and Azure
    # Monitor collection rule select the outcome events and nothing else.
    check "the fleet subscription's query selects exactly the outcome events" \
      /usr/bin/python3 "$here/../fleet/fleet_query_test.py" "$events_tsv" \
      "$here/../../docs/fleet/outcomes-subscription.xml" "$here/../../docs/fleet/outcomes-report.ps1" \
      "$work/events.xml" "$here/../../docs/fleet/outcomes-dcr.json"
  fi
}

# Each outcome line of events.tsv, its id and strings given to the message file as the event log
# gives them, renders as a sentence that holds its serial number and its package's file name and
# version; the sentences are kept in outcomes-rendered.txt.
outcomes_render() {
  local line source id type serial version package_version package last text count=0
  while IFS= read -r line; do
    [[ $line == OrvaleUpgradeOutcome$'\t'* ]] || continue
    # Split at tabs through a separator that is no white space, so that empty strings stay.
    IFS=$'\x1f' read -r source id type serial version package_version package last \
      <<<"${line//$'\t'/$'\x1f'}"
    count=$((count + 1))
    text=$(wine "$probe" message "$(winepath -w "$messages_dll")" "$id" "$serial" "$version" \
      "$package_version" "$package" "$last" </dev/null 2>>"$work/probe.log" | tr -d '\r')
    printf '%s\n' "$text" >>"$work/outcomes-rendered.txt"
    [[ $text == *"$package_version"* && $text == *"$package"* && $text == *"$serial"* ]] ||
      { echo "  outcome $id rendered as: $text"; return 1; }
  done <"$events_tsv"
  ((count > 0))
}

# The run's outcome is final: it stops the service and deletes the registration.
expect_handled_and_removed() {
  check "handled" wait_for 60 tsv_has $'arrival device handled completely.'
  check "registration deleted" wait_for 30 not_registered
  expect_handled
  check_all_events
}

# The device ends in MODE at VERSION.
expect_device() {
  check "device in $1 mode" test "$(state_of mode)" = "$1"
  check "device runs $2" test "$(state_of version)" = "$2"
}

# A service that keeps running is stopped with net stop (expect_stopped_by_hand: its events).
stop_by_hand() {
  wine net stop "$service" </dev/null >"$work/net-stop.out" 2>&1
  check "net stop" test $? = 0
}

# The arrival's listing step failed: the service warns, keeps running, and is stopped by hand
# (expect_failed_listing_and_stop: its events).
await_failed_listing_and_stop() {
  check "listing step failed" wait_for 60 tsv_has $'\t2\tOrvaleUpgradeProcess.initDfuDevList failed!'
  check "service keeps running" registered
  stop_by_hand
}

handled_runs() { test "$(tsv_count $'\tarrival device handled completely.')" -ge "$1"; }

# The reference device's whole upgrade from 0100, once it has been plugged in or found at start:
# the detach run; the device leaves and comes back in DFU mode; the download run, which waits the
# tool's 50 seconds; the device leaves and comes back in runtime mode at 0102; its run finds it up
# to date and removes the service before the download run has read the tool's report, which ends
# that run after the removal. The bus lane's announcements are the caller's.
#   reference_upgrade [DELETED_PACKAGE [SERIAL_ARGUMENT SERIAL [DFU_SERIAL_ARGUMENT DFU_SERIAL
#                     [OTHER_LINE]]]]
reference_upgrade() {
  local argument=${2:-A7X2249} serial=${3:-A7X2249}
  local dfu_argument=${4:-${2:-A7X2249}} dfu_serial=${5:-${3:-A7X2249}}
  check "both final runs handled" wait_for 120 handled_runs 2
  run_lane 1
  expect_package_choice "${1:-}"
  expect_listing "$(runtime_line 0100 "$serial")" 0 0100 "$serial" "${6:-}"
  expect_detach "$argument" "$serial"
  run_lane 2
  expect_package_choice
  expect_listing "$(dfu_line 0100 "$dfu_serial")" 1 0100 "$dfu_serial" "${6:-}"
  expect_download "$dfu_argument" "$dfu_serial"
  expect_handled after-another
  run_lane 3
  expect_package_choice
  expect_listing "$(runtime_line 0102 "$serial")" 0 0102 "$serial" "${6:-}"
  # The outcome names the listing's last line, the other device's when there is one.
  expect_outcome up-to-date "$serial" 0102 "${6:-$(runtime_line 0102 "$serial")}"
  expect_handled
  check_all_events
  check "registration deleted" not_registered
  expect_device runtime 0102
}

# The reference device's five announcements after it was plugged in: in, out for its detach, in
# DFU mode, out after manifestation, in at its new version.
expect_reference_announcements() {
  expect_arrival
  expect_removal
  expect_arrival
  expect_removal
  expect_arrival
}

# Plugged in at 0100 in runtime mode, with a package left from an earlier rollout, which the first
# run deletes.
scenario_upgrade() {
  setup_test_host 0102 mode=runtime version=0100
  make_package 0101
  plug_in
  expect_reference_announcements
  reference_upgrade orvale-0101.dfu
  check "the device holds the package's image" cmp -s "$install_dir/dfu-util.state.firmware" <(head -c 1024 "$install_dir/orvale-0102.dfu")
  check "older package deleted, newest kept" test ! -e "$install_dir/orvale-0101.dfu" -a -f "$install_dir/orvale-0102.dfu"
}

# Installed into another folder, with a blank in its name: the packages are chosen, deleted and
# downloaded there and only there. A newer package waiting in the standard folder, where a user
# might have made one, is neither read nor touched.
scenario_other_folder() {
  install_dir="$WINEPREFIX/drive_c/Tools/Orvale Plain"
  install_dir_win='C:\Tools\Orvale Plain'
  install_dir_text='C:\Tools\Orvale Plain\'
  events_tsv=$install_dir/events.tsv
  local standard=$WINEPREFIX/drive_c/Program\ Files/Quorlan/orvale/Services
  mkdir -p "$install_dir"
  make_package 0103
  mv "$install_dir/orvale-0103.dfu" "$work/planted.dfu"
  mkdir -p "$standard"
  cp "$work/planted.dfu" "$standard/orvale-0103.dfu"
  touch -d '2020-01-01' "$standard/orvale-0103.dfu"
  setup_test_host 0102 mode=runtime version=0100
  make_package 0101
  plug_in
  expect_reference_announcements
  reference_upgrade orvale-0101.dfu
  check "the device holds the install folder's package" \
    cmp -s "$install_dir/dfu-util.state.firmware" <(head -c 1024 "$install_dir/orvale-0102.dfu")
  check "older package deleted there, newest kept" \
    test ! -e "$install_dir/orvale-0101.dfu" -a -f "$install_dir/orvale-0102.dfu"
  # Its access time first: comparing its bytes reads it.
  check "the standard folder's package not read" \
    test "$(stat -c %X "$standard/orvale-0103.dfu")" = "$(date -d 2020-01-01 +%s)"
  check "nor changed" cmp -s "$standard/orvale-0103.dfu" "$work/planted.dfu"
  check "the standard folder holds nothing else" test "$(ls -A "$standard")" = orvale-0103.dfu
}

# The same at real time: every wait as long as the service makes it on a PC.
scenario_upgrade_real_time() {
  divisor=1 setup_test_host 0102 mode=runtime version=0100
  plug_in
  expect_reference_announcements
  reference_upgrade
}

# attach INSTANCE_ID: makes the device's interface present in the prefix, as an attached device's
# is, and sets `listed` to its path as SetupAPI lists it.
attach() {
  listed=$(wine "$(winepath -w "$attach_device")" "$1" </dev/null 2>"$work/attach.log" | tr -d '\r')
  check "the device's interface is present" test -n "$listed"
}

# Attached before the service is installed: the service finds its interface at start, and the
# device's own comings and goings do the rest.
scenario_attached() {
  local listed
  attach 'USB\VID_C4E2&PID_8351\A7X2249'
  setup_test_host 0102 mode=runtime version=0100
  expect_present_at_start "$listed"
  expect_removal
  expect_arrival
  expect_removal
  expect_arrival
  reference_upgrade
}

# Left in DFU mode at 0100 (an upgrade cut short), then plugged in: the download run, the device
# back in runtime mode at 0102, found up to date by a second run that removes the service while
# the download run is still waiting for the tool.
scenario_dfu() {
  setup_test_host 0102 mode=dfu version=0100
  plug_in "$orvale_dfu_path"
  expect_arrival
  expect_removal
  expect_arrival
  check "both runs handled" wait_for 60 handled_runs 2
  run_lane 1
  expect_package_choice
  expect_listing "$(dfu_line 0100)" 1 0100 A7X2249
  expect_download
  expect_handled after-another
  run_lane 2
  expect_package_choice
  expect_listing "$(runtime_line 0102)" 0 0102 A7X2249
  expect_outcome up-to-date A7X2249 0102 "$(runtime_line 0102)"
  expect_handled
  check_all_events
  expect_device runtime 0102
}

scenario_up_to_date() {
  setup_test_host 0102 mode=runtime version=0102
  plug_in
  expect_arrival
  expect_package_choice
  expect_listing "$(runtime_line 0102)" 0 0102 A7X2249
  expect_outcome up-to-date A7X2249 0102 "$(runtime_line 0102)"
  expect_handled_and_removed
  expect_device runtime 0102
}

# Plugged in and pulled out again before the service lists it: both listings find nothing.
scenario_absent() {
  setup_test_host 0102 absent_runs=2
  plug_in
  pull_out
  expect_arrival
  expect_removal
  expect_two_empty_listings
  expect_handled_and_removed
  check "two tool runs" state_is absent_runs 0
}

# The same at real time: the removal settles while the arrival's handler still waits its 5 s, and
# is announced as soon as the handler returns, before the run has ended.
scenario_absent_real_time() { divisor=1 scenario_absent; }

scenario_no_package() {
  setup_test_host none mode=runtime version=0100
  cp "$install_dir/dfu-util.state" "$work/state-before"
  plug_in
  await_failed_listing_and_stop
  expect_arrival
  eng 4 "initUpgradeInfo packageList= ${install_dir_text}*.dfu"
  eng 4 "initUpgradeInfo File not found ${install_dir_text}*.dfu!"
  eng 4 "initUpgradeInfo Failed ${install_dir_text}!"
  expect_failed_listing_and_stop
  check_all_events
  check "no tool run: the device's state untouched" cmp -s "$work/state-before" "$install_dir/dfu-util.state"
}

# Another maker's device of the same interface class is plugged in; no DFU device is on the bus.
scenario_not_orvale() {
  setup_test_host 0102 absent_runs=2
  plug_in '\\?\USB#VID_046D&PID_C52B#6&1#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}'
  expect_arrival not-orvale
  expect_two_empty_listings
  expect_handled_and_removed
}

# 100 arrivals announced by hand, in a row: 99 that find the device in runtime mode and detach it
# (the test puts it back into runtime mode each time), then one that downloads into it. The
# service must accept every arrival at once and number its events without a gap.
scenario_hundred_arrivals() {
  by_hand=1 setup_test_host 0102 mode=runtime version=0100
  local accepted=0 i
  for i in $(seq 1 99); do
    write_state mode=runtime version=0100
    arrive && accepted=$((accepted + 1))
    wait_for 30 detach_runs_end "$i" || break
    run_lane "$i"
    expect_arrival
    expect_package_choice
    expect_listing "$(runtime_line 0100)" 0 0100 A7X2249
    expect_detach
  done
  check "99 arrivals accepted" test "$accepted" = 99
  check "still registered and running" registered
  write_state mode=dfu version=0100
  arrival_path "$orvale_dfu_path"
  check "last arrival accepted" arrive
  run_lane 100
  expect_arrival
  expect_package_choice
  expect_listing "$(dfu_line 0100)" 1 0100 A7X2249
  expect_download
  expect_handled_and_removed
  expect_device runtime 0102
}

# --- each misbehaviour of the device, through the product --------------------------------------

# The detach run of a device plugged in at 0100 in runtime mode; returns once it has ended.
plug_in_and_detach() {
  plug_in
  check "detach run ended" wait_for 60 detach_runs_end 1
  expect_arrival
  expect_package_choice
  expect_listing "$(runtime_line 0100)" 0 0100 A7X2249
}

# After the detach the device stays off the bus: nothing announces it again, and the service keeps
# waiting for it until it is stopped. The device is left in DFU mode at its old version.
scenario_stays_away() {
  setup_test_host 0102 mode=runtime version=0100 absent_after_detach=5
  plug_in_and_detach
  expect_detach
  expect_removal
  check "service still registered after the detach" registered
  stop_by_hand
  expect_stopped_by_hand
  check_all_events
  expect_device dfu 0100
  check "no tool run since the detach" state_is absent_runs 5
}

# No bitWillDetach: the device leaves runtime mode only on a USB reset, which the tool asks for
# after the detach request and which WinUSB never carries out. The device stays in runtime mode,
# announces nothing more, and the service keeps waiting for it until it is stopped.
scenario_detach_on_reset() {
  setup_test_host 0102 mode=runtime version=0100 detach=reset
  plug_in_and_detach
  expect_detach A7X2249 A7X2249 'Resetting USB...'
  check "the device stays in runtime mode: it was never reset" state_is mode runtime
  check "service keeps waiting" registered
  stop_by_hand
  expect_stopped_by_hand
  check_all_events
  expect_device runtime 0100
}

# Not manifestation tolerant: after the download the device waits in dfuMANIFEST-WAIT-RESET for the
# host's reset, which WinUSB never carries out. It has received the image but stays in DFU mode at
# its old version, announcing nothing, until it is unplugged; the run counts as handled and the
# service removes itself.
scenario_manifest_wait_reset() {
  setup_test_host 0102 mode=dfu version=0100 manifest=wait-reset
  plug_in "$orvale_dfu_path"
  expect_arrival
  expect_package_choice
  expect_listing "$(dfu_line 0100)" 1 0100 A7X2249
  expect_download A7X2249 A7X2249 wait-reset
  expect_handled_and_removed
  expect_device dfu 0100
  check "the device holds the package's image" \
    cmp -s "$install_dir/dfu-util.state.firmware" <(head -c 1024 "$install_dir/orvale-0102.dfu")
}

# The device reports errWRITE during the download: the tool's report is only logged, the run counts
# as handled, and the device keeps its old firmware in DFU mode.
scenario_download_error() {
  setup_test_host 0102 mode=dfu version=0100 download_error=1
  plug_in "$orvale_dfu_path"
  check "handled" wait_for 60 tsv_has $'arrival device handled completely.'
  check "registration deleted" wait_for 30 not_registered
  check "the failed block is reported" \
    tsv_has $'strTmp= \\rDownload\\t[                         ]   0%            0 bytes failed!\\r'
  check "the device's error is reported" \
    tsv_has $'strTmp= DFU state(10) = dfuERROR, status(3) = Device is unable to write memory\\r'
  check "the outcome: a failed download, the device's error its last line" \
    tsv_line $'OrvaleUpgradeOutcome\t3221226473\t1\tA7X2249\t0100\t0102\torvale-0102.dfu\tDFU state(10) = dfuERROR, status(3) = Device is unable to write memory'
  expect_device dfu 0100
  check "no image written" test ! -e "$install_dir/dfu-util.state.firmware"
}

# No WinUSB driver for the device: the tool finds it but cannot open it, in both listings; the
# service removes itself and nothing is sent to the device.
scenario_unopenable() {
  setup_test_host 0102 mode=runtime version=0100 access=denied
  plug_in
  local line='Cannot open DFU device c4e2:8351 found on devnum 7 (LIBUSB_ERROR_NOT_SUPPORTED)' i
  expect_arrival
  for i in 1 2; do
    expect_package_choice
    eng 4 'doCmd updev.mode 2 cmdline is dfu-util.exe -l'
    eng 4 "handlePipeInfo updev.mode 2 strOutput= $tool_heading$line"$'\r\n'
    eng 4 "analyseBuffer strTmp= $line"$'\r'
    eng 4 "initDev devData= $line"$'\r'
    eng 4 'enter initDev 1'
    eng 4 'analyseBuffer updev.mode 2'
    ((i == 2)) || expect_listed_again
  done
  expect_outcome not-seen '' '' "$line"
  expect_handled_and_removed
  expect_device runtime 0100
}

# An unrelated DFU device on the bus: the tool lists it too, after the Orvale device. Its line is
# ignored in runtime mode and only reported in DFU mode; the upgrade completes.
scenario_other_device() {
  setup_test_host 0102 mode=runtime version=0100 other_device=1
  plug_in
  expect_reference_announcements
  reference_upgrade '' A7X2249 A7X2249 A7X2249 A7X2249 \
    'Found DFU: [0483:df11] ver=2200, devnum=9, cfg=1, intf=0, path="1-2", alt=0, name="@Internal Flash", serial="OTHER0001"'
}

# The device gives another serial number in DFU mode: the download names the DFU-mode one.
scenario_other_serial() {
  setup_test_host 0102 mode=runtime version=0100 dfu_serial=B0000
  plug_in
  expect_reference_announcements
  reference_upgrade '' A7X2249 A7X2249 B0000 B0000
}

# A bootloader that reports its own version, 0200, in DFU mode: the service detaches the device at
# 0100, finds it up to date in DFU mode, downloads nothing and removes itself, the device left in
# DFU mode with its old image.
scenario_dfu_version() {
  setup_test_host 0102 mode=runtime version=0100 dfu_version=0200
  plug_in
  expect_arrival
  expect_removal
  expect_arrival
  check "the DFU-mode run handled" wait_for 120 handled_runs 1
  run_lane 1
  expect_package_choice
  expect_listing "$(runtime_line 0100)" 0 0100 A7X2249
  expect_detach
  run_lane 2
  expect_package_choice
  expect_listing "$(dfu_line 0200)" 1 0200 A7X2249
  expect_outcome up-to-date A7X2249 0200 "$(dfu_line 0200)"
  expect_handled
  check_all_events
  check "registration deleted" not_registered
  expect_device dfu 0100
}

# Three alternate settings in DFU mode: the download names none, and the tool will not choose; the
# run counts as handled and the device keeps its old version.
scenario_alternates() {
  setup_test_host 0102 mode=dfu version=0100 alt_settings=3
  plug_in "$orvale_dfu_path"
  check "handled" wait_for 60 tsv_has $'arrival device handled completely.'
  check "registration deleted" wait_for 30 not_registered
  check "the tool refuses" tsv_has $'strTmp= More than one DFU capable USB device found! Try `--list\' and specify the serial number or disconnect all but one device\\r'
  check "the outcome: a failed download, the tool's refusal its last line" \
    tsv_line $'OrvaleUpgradeOutcome\t3221226473\t1\tA7X2249\t0100\t0102\torvale-0102.dfu\tMore than one DFU capable USB device found! Try `--list\' and specify the serial number or disconnect all but one device'
  expect_device dfu 0100
}

# A serial number of blanks, backslashes and an option, made to break out of its argument: quoted
# into the commands, it reaches the tool (the Windows C runtime splits its command line) as one
# argument, which finds the device by it; the upgrade completes and nothing else becomes an option.
scenario_hostile_serial() {
  local serial='A7 X\ 22 -U C:\x.bin\' quoted='"A7 X\ 22 -U C:\x.bin\\"'
  setup_test_host 0102 mode=runtime version=0100 "serial=$serial"
  plug_in
  expect_reference_announcements
  reference_upgrade '' "$quoted" "$serial"
  check "nothing uploaded" test ! -e "$WINEPREFIX/drive_c/x.bin"
}

# A serial number with quotes and a comma: the listing parser cuts it at the comma and drops the
# quotes, so the detach names a serial that no device has. The tool detaches nothing, the device
# stays as it is, and the service keeps waiting.
scenario_serial_with_quotes() {
  setup_test_host 0102 mode=runtime version=0100 'serial=A7 "X\" 22\,49 -U C:\x.bin\'
  plug_in
  check "detach run ended" wait_for 60 detach_runs_end 1
  check "detach names the cut serial, quoted" \
    tsv_has $'\tcmdline is dfu-util.exe -d c4e2:8351,c4e2:8352 -S "A7 X\\\\ 22\\\\\\\\" -c 1 -e'
  check "the tool found no device to detach" test "$(tsv_count 'strTmp= Device ID')" = 0
  check "the outcome: detached, under the cut serial number" \
    tsv_has $'OrvaleUpgradeOutcome\t1073742829\t4\tA7 X\\\\ 22\\\\\t0100\t0102\torvale-0102.dfu\t'
  check "service still registered" registered
  check "the device announced nothing more" test "$(grep -c . "$install_dir/bus-events.txt")" = 1
  expect_device runtime 0100
  check "nothing uploaded" test ! -e "$WINEPREFIX/drive_c/x.bin"
}

# --- the MSI with the device attached ----------------------------------------------------------

# The MSI installed while the device is attached in DFU mode at 0100 (an upgrade cut short): the
# product, at its true waits, finds the device at its start and downloads the package into it with
# no arrival announced, then removes its registration. The product reports to the event log only,
# which Wine writes to services.log. (Under Wine nothing announces the device's return afterwards.)
scenario_attached_msi() {
  local listed
  attach 'USB\VID_C4E2&PID_8352\A7X2249'
  mkdir -p "$install_dir"
  make_package 0102
  mv "$install_dir/orvale-0102.dfu" "$work/orvale-0102.dfu"
  write_state mode=dfu version=0100
  check "the MSI builds, with dfu-util.exe over the emulated device" \
    "$here/../../packaging/build-msi" "$work/attached.msi" "$product" --version 1.0.0 \
    --messages "$messages_dll" --tool "$tool" --package "$work/orvale-0102.dfu"
  wine msiexec /i "$(winepath -w "$work/attached.msi")" /qn \
    /l*v "$(winepath -w "$work/msiexec.log")" </dev/null >"$work/msiexec.out" 2>&1
  check "the MSI installs" test $? = 0
  check "the device runs 0102" wait_for 60 state_is version 0102
  # The run reads the tool's report after its 50 s wait, then removes the service.
  check "registration deleted" wait_for 90 not_registered
  expect_device runtime 0102
  # Wine's trace doubles every backslash of a text; an outcome shows its first string.
  local folder=${install_dir_text//\\/\\\\}
  expect_events "found at the start, downloaded, handled" "$services_log" \
    "7 0 initialize service success." \
    "8 4 device interface present at start: ${listed//\\/\\\\}" \
    "11 2 arrival device is Quorlan Orvale." "21 4 initUpgradeInfo packageList= ${folder}*.dfu" \
    "57 4 analyseBuffer countCmd == 1 strTmp= Download done.\\r" "1073742824 4 A7X2249" \
    "12 2 arrival device handled completely." "13 4 enter onStop function."
}

# A user who may write to a folder that every process searches (here C:\windows; on a PC any
# folder of PATH that users may write to) plants a dfu-util.exe there, while the install folder has
# none. A plain command that names dfu-util.exe runs the planted program; the service never does:
# it starts the tool only by its full path in its own folder, so the start fails.
scenario_planted_tool() {
  setup_test_host 0102 mode=runtime version=0100
  rm "$install_dir/dfu-util.exe" "$install_dir/dfu-util.state"
  local planted=$WINEPREFIX/drive_c/windows
  cp "$tool" "$planted/dfu-util.exe"
  # The planted program rewrites the state file beside it whenever it runs: that is its mark.
  printf 'mode=runtime\n' >"$planted/dfu-util.state"
  wine cmd /c 'cd /d C:\ && dfu-util.exe -l' </dev/null >"$work/plain-command.out" 2>&1
  check "control: a plain command runs the planted program" \
    grep -q '^version=0100' "$planted/dfu-util.state"
  printf 'mode=runtime\n' >"$planted/dfu-util.state"

  plug_in
  await_failed_listing_and_stop
  expect_arrival
  expect_package_choice
  eng 4 'doCmd updev.mode 2 cmdline is dfu-util.exe -l'
  eng 4 'CreateProcess Failed!'
  expect_failed_listing_and_stop
  check_all_events
  check "the planted program never ran" test "$(cat "$planted/dfu-util.state")" = mode=runtime
}

# The dfu-util.exe that ships, built from Debian's sources, and no device: an arrival, two listings
# that find nothing, and the service's self-removal, event for event as with the emulated tool's
# absent device: the same heading, the same CR LF line ends.
scenario_real_tool_no_device() {
  tool=$real_tool
  setup_test_host 0102 mode=runtime version=0100
  check "dfu-util.exe is the tool built from Debian's sources" cmp -s "$real_tool" "$install_dir/dfu-util.exe"
  plug_in
  expect_arrival
  expect_two_empty_listings
  expect_handled_and_removed
}

start_prefix
# The scenario's function is named after it ("up-to-date" runs scenario_up_to_date).
runner=scenario_${scenario//-/_}
if declare -F "$runner" >/dev/null; then "$runner"; else fail "unknown scenario $scenario"; fi
finished=1
