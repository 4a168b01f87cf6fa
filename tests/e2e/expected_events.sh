# The events the test host writes to events.tsv, block by block, as the Wine scenarios expect them
# with the real Windows dfu-util and the emulated device (sourced by service_e2e.sh).
#
# Runs that overlap interleave their reports, so the events are expected thread by thread: one
# file per lane in the folder $lanes (set by the caller), compared by lanes.py. The lanes are:
#   install      the install command's process;
#   main         the process's main thread: "run talvex windows update normally." and "run
#                service success", which check_all_events adds;
#   control      the control handler's thread, as the service control manager calls it: the stops
#                by hand and the arrivals announced by hand;
#   service-main the service's main function: the start and the devices present at start;
#   bus          the test host's Plug and Play, which announces the device's own comings and goings;
#   run-N        the Nth upgrade run (the scenario calls `run_lane N` before its events).
# Each line is "SOURCE<TAB>TYPE<TAB>TEXT" as events.tsv holds it without the event id: the text cut
# to 255 characters as the service's formatter cuts it, then with backslash, tab, CR and LF escaped.
# An outcome's line keeps its id, which names the outcome, and has its five strings as fields:
# "OrvaleUpgradeOutcome<TAB>ID<TAB>TYPE<TAB>SERIAL<TAB>VERSION<TAB>0102<TAB>orvale-0102.dfu<TAB>LAST".

install_dir_text='C:\Program Files\Quorlan\orvale\Services\'
guid='{5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}'

# What the Windows build of dfu-util prints first, every run: its lines end in CR LF.
tool_heading=$'dfu-util 0.11\r\n\r\n'
tool_heading+=$'Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\r\n'
tool_heading+=$'Copyright 2010-2021 Tormod Volden and Stefan Schmidt\r\n'
tool_heading+=$'This program is Free Software and has ABSOLUTELY NO WARRANTY\r\n'
tool_heading+=$'Please report bugs to http://sourceforge.net/p/dfu-util/tickets/\r\n\r\n'

# A text as events.tsv writes it: backslash, tab, CR and LF escaped.
escape_field() {
  local text=$1
  text=${text//\\/\\\\}
  text=${text//$'\t'/\\t}
  text=${text//$'\r'/\\r}
  text=${text//$'\n'/\\n}
  printf '%s' "$text"
}
# The lane the blocks below append to; announcements go to $announcer's lane (bus or control).
lane=run-1
announcer=bus
run_lane() { lane=run-$1; }
ev() {  # ev SOURCE TYPE TEXT
  printf '%s\t%s\t%s\n' "$1" "$2" "$(escape_field "${3:0:255}")" >>"$lanes/$lane"
}
svc() { ev QuorlanWindowsUpdateService "$@"; }
eng() { ev OrvaleUpgradeProcess "$@"; }
on_lane() {  # on_lane LANE COMMAND...: runs a block's COMMAND with LANE as the current lane
  local previous=$lane
  lane=$1
  shift
  "$@"
  lane=$previous
}

# expect_outcome OUTCOME SERIAL VERSION LAST_LINE: the run's outcome event for package 0102. Its id
# is the outcome's number with its severity in the top bits, as the message file has it.
expect_outcome() {
  local id type field
  case $1 in
    downloaded) id=1073742824 type=4 ;;
    download-failed) id=3221226473 type=1 ;;
    up-to-date) id=1073742826 type=4 ;;
    not-seen) id=2147484651 type=2 ;;
    not-started) id=3221226476 type=1 ;;
    detached) id=1073742829 type=4 ;;
    *) echo "expect_outcome: no outcome $1" >&2; return 1 ;;
  esac
  {
    printf 'OrvaleUpgradeOutcome\t%s\t%s' "$id" "$type"
    for field in "$2" "$3" 0102 orvale-0102.dfu "$4"; do printf '\t%s' "$(escape_field "$field")"; done
    printf '\n'
  } >>"$lanes/$lane"
}

install_events() {
  svc 2 'service start install.'
  svc 0 'create service success.'
  svc 0 'service install success.'
}
expect_install() { on_lane install install_events; }

start_events() {
  svc 4 'enter service main function.'
  svc 4 'enter initialize service function.'
  svc 4 'register service control handler success.'
  svc 4 'enter registerStart function.'
  svc 0 'register device notification success.'
  svc 0 'initialize service success.'
}
expect_start() {
  on_lane main svc 2 'run talvex windows update normally.'
  on_lane service-main start_events
}

# What the service reports of an arrival record, whoever made it: not-orvale for another device.
arrival_events() {  # arrival_events [not-orvale]
  svc 4 'device event: device arrival, waiting for 5 seconds...'
  svc 4 "Guid = $guid"
  if [[ ${1:-} == not-orvale ]]; then
    svc 1 'arrival device is not Quorlan Orvale.'
  else
    svc 2 'arrival device is Quorlan Orvale.'
  fi
}
announced_arrival() {
  svc 4 'control code: SERVICE_CONTROL_DEVICEEVENT.'
  svc 4 'dwEventType: 32768'
  arrival_events "$@"
}
announced_removal() {
  svc 4 'control code: SERVICE_CONTROL_DEVICEEVENT.'
  svc 4 'dwEventType: 32772'
  svc 4 'device remove'
}
expect_arrival() { on_lane "$announcer" announced_arrival "$@"; }  # expect_arrival [not-orvale]
expect_removal() { on_lane "$announcer" announced_removal; }
# A device whose interface was there when the service started, at PATH as SetupAPI lists it.
expect_present_at_start() {  # expect_present_at_start PATH
  on_lane service-main svc 4 "device interface present at start: $1"
  on_lane service-main arrival_events
}

expect_package_choice() {  # expect_package_choice [DELETED_PACKAGE]: package 0102 chosen
  eng 4 "initUpgradeInfo packageList= ${install_dir_text}*.dfu"
  eng 4 'file delete   ！'
  [[ -z ${1:-} ]] || eng 4 "file delete  ${install_dir_text}$1 ！"
  eng 4 'get targetVersion is 0102!'
}

# expect_listing LINE MODE VERSION SERIAL [OTHER_LINE]: `dfu-util.exe -l` whose Orvale device line is
# LINE, of a device in MODE (0 runtime, 1 DFU) at VERSION, followed by the line of an unrelated
# device when given; an empty LINE lists no device.
expect_listing() {
  local line=$1 mode=$2 version=${3:-} serial=${4:-} other=${5:-}
  eng 4 'doCmd updev.mode 2 cmdline is dfu-util.exe -l'
  eng 4 "handlePipeInfo updev.mode 2 strOutput= $tool_heading${line:+$line$'\r\n'}${other:+$other$'\r\n'}"
  if [[ -z $line ]]; then
    eng 4 'analyseBuffer updev.mode 2'
    return
  fi
  # The parser splits the output at LF only: every line it reports keeps its CR.
  eng 4 "analyseBuffer strTmp= $line"$'\r'
  eng 4 "initDev devData= $line"$'\r'
  eng 4 'enter initDev 1'
  [[ $mode == 1 ]] || eng 4 'updev.mode is  0'
  eng 4 "curDev.version is $version targetVersion is 0102"
  # Four lower-case hexadecimal digits sort as their numbers do.
  if [[ ! $version < 0102 ]]; then
    eng 4 'The device is latest version'
    eng 4 "analyseBuffer updev.mode $mode"
    eng 4 'return for latest build!'
    return
  fi
  eng 4 'initDev updev.cfgId= 1'
  eng 4 "initDev updev.sn= $serial"
  eng 4 'leave initDev'
  # After a DFU-mode device line, the parser reports every further line.
  [[ -z $other || $mode != 1 ]] || eng 4 "analyseBuffer countCmd == 1 strTmp= $other"$'\r'
  eng 4 "analyseBuffer updev.mode $mode"
}

# runtime_line VERSION [SERIAL] / dfu_line VERSION [SERIAL]: the tool's line for the Orvale device.
runtime_line() {
  echo "Found Runtime: [c4e2:8351] ver=$1, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, name=\"Orvale\", serial=\"${2:-A7X2249}\""
}
dfu_line() {
  echo "Found DFU: [c4e2:8352] ver=$1, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, name=\"Orvale Firmware\", serial=\"${2:-A7X2249}\""
}

# The listing found no Orvale device: the run lists once more.
expect_listed_again() { eng 4 'updev.mode is  2 retry is 0'; }

# One arrival whose two listings both find no device: its outcome names the last line of the tool's
# heading.
expect_two_empty_listings() {
  expect_package_choice
  expect_listing '' 2
  expect_listed_again
  expect_package_choice
  expect_listing '' 2
  expect_outcome not-seen '' '' 'Please report bugs to http://sourceforge.net/p/dfu-util/tickets/'
}

# The detach run of a device at 0100, whose outcome names the tool's last line, LAST_LINE
# ("Device will detach and reattach..." unless given).
expect_detach() {  # expect_detach [SERIAL_ARGUMENT SERIAL [LAST_LINE]]
  local command="dfu-util.exe -d c4e2:8351,c4e2:8352 -S ${1:-A7X2249} -c 1 -e"
  eng 4 'starting doUpgrade '
  eng 4 'enter doDevDetach '
  eng 4 "cmdline is $command"
  eng 4 "doCmd updev.mode 0 cmdline is $command"
  eng 4 "handlePipeInfo updev.mode 0 strOutput= ${tool_heading}Opening DFU capable USB device..."
  # The detach's report names the device: read, and found to hold no device line.
  eng 4 $'analyseBuffer strTmp= Device ID c4e2:8351\r'
  eng 4 $'initDev devData= Device ID c4e2:8351\r'
  eng 4 'enter initDev 1'
  eng 4 'analyseBuffer updev.mode 0'
  expect_outcome detached "${2:-A7X2249}" 0100 "${3:-Device will detach and reattach...}"
}

# What the tool prints for a download of the 1024-byte image of package 0102, up to the end of
# manifestation.
download_output=$tool_heading
download_output+=$'Opening DFU capable USB device...\r\n'
download_output+=$'Device ID c4e2:8352\r\n'
download_output+=$'Device DFU version 0110\r\n'
download_output+=$'Claiming USB DFU Interface...\r\n'
download_output+=$'Setting Alternate Interface #0 ...\r\n'
download_output+=$'Determining device status...\r\n'
download_output+=$'DFU state(2) = dfuIDLE, status(0) = No error condition is present\r\n'
download_output+=$'DFU mode device DFU version 0110\r\n'
download_output+=$'Device returned transfer size 1024\r\n'
download_output+=$'Copying data from PC to DFU device\r\n'
download_output+=$'\rDownload\t[                         ]   0%            0 bytes'
download_output+=$'\rDownload\t[============             ]  50%         1024 bytes'
download_output+=$'\rDownload\t[=========================] 100%         1024 bytes\r\n'
download_output+=$'Download done.\r\n'
download_output+=$'DFU state(7) = dfuMANIFEST, status(0) = No error condition is present\r\n'
# How the download ends: a manifestation-tolerant device says so with dfuIDLE and restarts by
# itself; one that waits for the host's USB reset gets a reset that WinUSB never carries out.
download_end_tolerant=$'DFU state(2) = dfuIDLE, status(0) = No error condition is present\r\n'
download_end_tolerant+=$'Done!\r\n'
download_end_wait_reset=$'DFU state(8) = dfuMANIFEST-WAIT-RESET, status(0) = No error condition is present\r\n'
download_end_wait_reset+=$'Resetting USB to switch back to runtime mode\r\n'
download_end_wait_reset+=$'Done!\r\n'

expect_download() {  # expect_download [SERIAL_ARGUMENT SERIAL [wait-reset]]
  local output=$download_output$download_end_tolerant
  [[ ${3:-} != wait-reset ]] || output=$download_output$download_end_wait_reset
  local command="dfu-util.exe -d c4e2:8351,c4e2:8352 -S ${1:-A7X2249} -D \"${install_dir_text}orvale-0102.dfu\""
  eng 4 'starting doUpgrade '
  eng 4 "cmdline is $command"
  eng 4 "doCmd updev.mode 1 cmdline is $command"
  eng 4 'doCmd enter sleep'
  eng 4 'doCmd end sleep'
  eng 4 "handlePipeInfo updev.mode 1 strOutput= $output"
  # Every line after the first is reported, the CR-only ones too.
  local line first=1
  while IFS= read -r line; do
    if ((first)); then first=0; continue; fi
    [[ -z $line ]] || eng 4 "analyseBuffer countCmd == 1 strTmp= $line"
  done <<<"$output"
  eng 4 'analyseBuffer updev.mode 1'
  expect_outcome downloaded "${2:-A7X2249}" 0100 'Done!'
}

# The service is stopped with net stop while it runs: the control handler's events.
stopped_by_hand_events() {
  svc 4 'control code: SERVICE_CONTROL_STOP.'
  svc 4 'enter onStop function.'
  svc 4 'unregister device notification.'
  svc 4 'service control stop success.'
}
expect_stopped_by_hand() { on_lane control stopped_by_hand_events; }

# The listing step failed, so the service warned and kept running until it was stopped by hand.
expect_failed_listing_and_stop() {
  svc 2 'OrvaleUpgradeProcess.initDfuDevList failed!'
  expect_stopped_by_hand
}

# The run's outcome is final: the worker stops the service and deletes its registration. With
# `after-another`, another run has done both already: the notification is no longer registered,
# and the registration is marked for deletion, which refuses a second delete.
expect_handled() {  # expect_handled [after-another]
  svc 2 'arrival device handled completely.'
  svc 4 'enter onStop function.'
  if [[ ${1:-} == after-another ]]; then
    svc 2 'service stopped.'
    svc 1 'service delete failed.'
    return
  fi
  svc 4 'unregister device notification.'
  svc 2 'service stopped.'
  svc 0 'service delete success.'
}
