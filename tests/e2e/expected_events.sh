# The events the test host writes to events.tsv, block by block, as the Wine scenarios expect them
# with the real Windows dfu-util and the emulated device (sourced by service_e2e.sh; the caller sets
# expected_events, the file the blocks are appended to).
#
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
ev() {  # ev SOURCE TYPE TEXT
  printf '%s\t%s\t%s\n' "$1" "$2" "$(escape_field "${3:0:255}")" >>"$expected_events"
}
svc() { ev QuorlanWindowsUpdateService "$@"; }
eng() { ev OrvaleUpgradeProcess "$@"; }

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
  } >>"$expected_events"
}

expect_install() {
  svc 2 'service start install.'
  svc 0 'create service success.'
  svc 0 'service install success.'
}

expect_start() {
  svc 2 'run talvex windows update normally.'
  svc 4 'enter service main function.'
  svc 4 'enter initialize service function.'
  svc 4 'register service control handler success.'
  svc 4 'enter registerStart function.'
  svc 0 'register device notification success.'
  svc 0 'initialize service success.'
}

expect_arrival() {  # expect_arrival [not-orvale]
  svc 4 'control code: SERVICE_CONTROL_DEVICEEVENT.'
  svc 4 'dwEventType: 32768'
  svc 4 'device event: device arrival, waiting for 5 seconds...'
  svc 4 "Guid = $guid"
  if [[ ${1:-} == not-orvale ]]; then
    svc 1 'arrival device is not Quorlan Orvale.'
  else
    svc 2 'arrival device is Quorlan Orvale.'
  fi
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
  if [[ $version == 0102 ]]; then
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

# The service is stopped with net stop while it runs.
expect_stopped_by_hand() {
  svc 4 'control code: SERVICE_CONTROL_STOP.'
  svc 4 'enter onStop function.'
  svc 4 'unregister device notification.'
  svc 4 'service control stop success.'
}

# The listing step failed, so the service warned and kept running until it was stopped by hand.
expect_failed_listing_and_stop() {
  svc 2 'OrvaleUpgradeProcess.initDfuDevList failed!'
  expect_stopped_by_hand
}

# The run's outcome is final: the worker stops the service and deletes its registration. The main
# thread's "run service success" races with the worker's last two events and is checked apart.
expect_handled() {
  svc 2 'arrival device handled completely.'
  svc 4 'enter onStop function.'
  svc 4 'unregister device notification.'
  svc 2 'service stopped.'
  svc 0 'service delete success.'
}
