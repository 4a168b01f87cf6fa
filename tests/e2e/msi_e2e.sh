#!/usr/bin/env bash
# The MSI's life cycle under Wine's installer, in a private Wine prefix removed afterwards with its
# wineserver. Builds version 1.0.0 (carrying the stand-in tool as another build of dfu-util.exe,
# and package 0102), 1.0.1 and 1.0.2 (carrying, as the build's own MSI does, the dfu-util.exe built
# from Debian's sources with its licences and source note, and packages 0103 and 0104), then:
# checks that the build's own MSI carries that tool; installs 1.0.0 silently and checks files,
# version resources, the service's registration, the event sources and the running service;
# installs 1.0.1 over it (one product left, the newer files, the tool runs); tries 1.0.0 over
# 1.0.1, which must be refused and change nothing; removes it and checks that nothing is left.
# Then, after the service has deleted its own registration as it does after an upgrade: the same
# MSI again, a repair, the next release's MSI over it, and its removal. Then the WinUSB driver
# package: chosen in the default folder with Wine's own newdev.dll; and chosen in another folder,
# whose name holds an apostrophe and a space, against a newdev.dll that keeps a driver store, with
# the next release and the removal there.
#   msi_e2e.sh BUILD_DIR VERSION DRIVER_ACTIONS_DLL STORE_DOUBLE_DLL
#     VERSION: the project's, carried by the built files; KEEP_PREFIX=1 keeps the Wine prefix for
#     a look afterwards.
# Writes a JUnit report BUILD_DIR/test-results/e2e_msi.xml and exits non-zero on failure.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib/wine_address_space.sh" && without_address_randomisation "$0" "$@"

build=$(cd "$1" && pwd)
version=$2
driver_actions=$3  # QuorlanDriverActions.dll
store_double=$4    # the newdev.dll that keeps a driver store
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
service=QuorlanWindowsUpdateService
service_key='HKLM\System\CurrentControlSet\Services\QuorlanWindowsUpdateService'
sources_key='HKLM\System\CurrentControlSet\Services\EventLog\Application'
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
product_exe=$build/service/QuorlanWindowsUpdateService.exe
messages_dll=$build/eventlog/messages/QuorlanEventMessages.dll
stand_in=$build/tools/stand_in_tool/bin/dfu-util.exe
tool_dir=$build/dfu-util  # the tool built from Debian's sources, with what goes beside it
notices=(dfu-util-COPYING.txt libusb-COPYING.txt dfu-util-sources.txt)
probe=$build/tests/resource_probe.exe
driver_dir=$build/winusb-driver  # the WinUSB driver package the build makes

work=$build/e2e/msi
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
source "$here/../../scripts/lib/wine_prefix.sh"
wine_prefix_make "$(mktemp -d "${TMPDIR:-/tmp}/qwus-e2e-msi.XXXXXX")" || { echo "no Wine prefix"; exit 1; }
install_dir=$WINEPREFIX/drive_c/Program\ Files/Quorlan/orvale/Services
install_dir_win='C:\Program Files\Quorlan\orvale\Services'

source "$here/checks.sh"

cleanup() {
  if [[ -n ${KEEP_PREFIX:-} ]]; then
    wineserver -k 2>/dev/null
    wineserver -w 2>/dev/null
  else
    wine_prefix_remove
  fi
  report_checks "$build/test-results" msi "$work"
  exit $?
}
trap cleanup EXIT

no_event_source() { key_missing "$sources_key\\$1"; }
service_state() { wine sc query "$service" 2>>"$work/wine.log" | tr -d '\r' | awk '$1 == "STATE" { print $4 }'; }
no_files_left() { [[ ! -e "$WINEPREFIX/drive_c/Program Files/Quorlan" ]]; }
# The DisplayVersion of every installed product named like this one, one a line; fails when Wine's
# reg could not read the uninstall key, which every prefix has.
installed_versions() {
  local listing
  listing=$(wine reg query "$uninstall_key" /s </dev/null 2>>"$work/wine.log") || return 1
  tr -d '\r' <<<"$listing" | awk '
    /^HKEY/ { name = ""; shown = "" }
    $1 == "DisplayName" { $1 = ""; $2 = ""; sub(/^ +/, ""); name = $0 }
    $1 == "DisplayVersion" { shown = $3 }
    name == "Quorlan Windows Update Service" && shown != "" { print shown; name = "" }'
}
no_product_installed() { local versions; versions=$(installed_versions) && [[ -z $versions ]]; }
# msiexec LOGNAME /i|/x PACKAGE [PROPERTY=VALUE...]: silently, with a verbose log; prints the exit
# status.
msiexec() {
  local name=$1 option=$2 package=$3
  shift 3
  wine msiexec "$option" "$(winepath -w "$package")" "$@" /qn /l*v "$(winepath -w "$work/$name.log")" \
    </dev/null >"$work/$name.out" 2>&1
  echo $?
}

never_ran() { ! grep -q "Action start .*: $1\\." "$2"; }  # never_ran ACTION LOG

check_registration() {  # check_registration WHEN [FOLDER]: the registration as "install" makes it
  local folder=${2:-$install_dir_win}
  check "$1: registered" registered
  check "$1: image path is the installed executable in double quotes, no arguments" \
    test "$(registry_value ImagePath)" = "\"$folder\\QuorlanWindowsUpdateService.exe\""
  check "$1: own process" test "$(registry_value Type)" = 0x10
  check "$1: auto start" test "$(registry_value Start)" = 0x2
  check "$1: critical error control" test "$(registry_value ErrorControl)" = 0x3
  check "$1: LocalSystem" test "$(registry_value ObjectName)" = LocalSystem
  check "$1: display name" test "$(registry_value DisplayName)" = "$service"
}

check_event_sources() {  # check_event_sources WHEN [FOLDER]
  local source entry path folder=${2:-$install_dir_win}
  for source in QuorlanWindowsUpdateService OrvaleUpgradeProcess OrvaleUpgradeOutcome; do
    entry=$(registry_entry "$sources_key\\$source" EventMessageFile)
    check "$1: $source's message file is an expandable path to the installed DLL ($entry)" \
      test "$entry" = "REG_EXPAND_SZ $folder\\QuorlanEventMessages.dll"
    path=$(winepath -u "${entry#REG_EXPAND_SZ }" 2>/dev/null)
    check "$1: $source's message file exists" cmp -s "$messages_dll" "$path"
    check "$1: $source supports error, warning and information events" \
      test "$(registry_entry "$sources_key\\$source" TypesSupported)" = "REG_DWORD 0x7"
  done
}

check_file_versions() {  # check_file_versions WHEN: the installed files' version resources
  local file
  for file in QuorlanWindowsUpdateService.exe QuorlanEventMessages.dll; do
    wine "$probe" version "$install_dir_win\\$file" </dev/null 2>&1 | tr -d '\r' >"$work/version-$file.txt"
    check "$1: $file has version $version" \
      grep -qx "FixedVersion=$version.0" "$work/version-$file.txt"
    check "$1: $file's FileVersion is $version" grep -qx "FileVersion=$version" "$work/version-$file.txt"
  done
}

check_nothing_left() {  # check_nothing_left WHEN
  check "$1: registration gone" not_registered
  check "$1: no files left" no_files_left
  check "$1: event source QuorlanWindowsUpdateService gone" no_event_source QuorlanWindowsUpdateService
  check "$1: event source OrvaleUpgradeProcess gone" no_event_source OrvaleUpgradeProcess
  check "$1: event source OrvaleUpgradeOutcome gone" no_event_source OrvaleUpgradeOutcome
  check "$1: no product installed" no_product_installed
}

# The versions differ by their firmware package, as a deployer's new MSI would.
for package in 0102 0103 0104; do
  head -c 1024 /dev/urandom >"$work/orvale-$package.dfu"
  dfu-suffix -a "$work/orvale-$package.dfu" -v c4e2 -p 8351 -d "0x$package" >/dev/null
done
check "1.0.0 builds" "$source_dir/packaging/build-msi" "$work/service-1.0.0.msi" "$product_exe" \
  --version 1.0.0 --messages "$messages_dll" --tool "$stand_in" --package "$work/orvale-0102.dfu"
notice_args=()
for file in "${notices[@]}"; do notice_args+=(--tool-notice "$tool_dir/$file"); done
# The tool's complete source, as the build passes it.
mapfile -t tool_sources < <(cd "$tool_dir/dfu-util-source" && ls)
for file in "${tool_sources[@]}"; do notice_args+=(--tool-source "$tool_dir/dfu-util-source/$file"); done
check "the tool's source: the six pinned files, the pins, two scripts, two copyrights" \
  test "${#tool_sources[@]}" = 11
for release in 1.0.1:0103 1.0.2:0104; do
  check "${release%:*} builds" "$source_dir/packaging/build-msi" "$work/service-${release%:*}.msi" \
    "$product_exe" --version "${release%:*}" --messages "$messages_dll" \
    --tool "$tool_dir/dfu-util.exe" "${notice_args[@]}" --package "$work/orvale-${release#*:}.dfu" \
    --driver "$driver_dir/orvale-winusb.inf" --driver-actions "$driver_actions"
done

# The build's own MSI carries the same tool and notes.
mkdir -p "$work/own-msi"
extract_own_msi() { (cd "$work/own-msi" && msiextract "$build/QuorlanWindowsUpdateService.msi" >/dev/null); }
check "the build's MSI extracts" extract_own_msi
for file in dfu-util.exe "${notices[@]}"; do
  check "the build's MSI carries $file" cmp -s "$tool_dir/$file" "$(find "$work/own-msi" -name "$file")"
done
check "the build's MSI carries the notices of the runtime in its executables" \
  cmp -s "$build/third-party-notices.txt" "$(find "$work/own-msi" -name third-party-notices.txt)"
for file in "${tool_sources[@]}"; do
  check "the build's MSI carries the tool's source $file" \
    cmp -s "$tool_dir/dfu-util-source/$file" "$(find "$work/own-msi" -path "*/dfu-util-source/$file")"
done
for file in orvale-winusb.inf orvale-winusb.cat; do
  check "the build's MSI carries the WinUSB driver package's $file" \
    cmp -s "$driver_dir/$file" "$(find "$work/own-msi" -path "*/winusb-driver/$file")"
done

# The service is registered by its own "install", which quotes the image path, run elevated from
# the installed file after the files are in place and before the service is started; a rollback
# runs its "uninstall". There is no ServiceInstall row, whose image path Wine's installer writes
# unquoted.
table() { msiinfo export "$build/QuorlanWindowsUpdateService.msi" "$1" | tr -d '\r' | tail -n +4; }
# The fleet's detection script finds the product by the UpgradeCode that every release shares.
check "the detection script names the MSI's UpgradeCode" test \
  "$(table Property | awk -F '\t' '$1 == "UpgradeCode" { print $2 }')" = \
  "$(sed -n "s/^\$UpgradeCode = '\(.*\)'\r\{0,1\}$/\1/p" "$source_dir/docs/fleet/detect-installed.ps1")"
check "the build's MSI has no ServiceInstall row" test -z "$(table ServiceInstall 2>/dev/null)"
# 3090 = 18 (an installed file run with arguments) + 1024 (deferred) + 2048 (not impersonated);
# 3410 = 18 + 64 (its exit status ignored) + 256 (rollback) + 1024 + 2048.
check "the build's MSI registers the service with \"install\", deferred and elevated" \
  grep -qxP 'RegisterService\t3090\tServiceExe\tinstall\t' <(table CustomAction)
check "the build's MSI deletes that registration with \"uninstall\" on rollback" \
  grep -qxP 'UnregisterServiceOnRollback\t3410\tServiceExe\tuninstall\t' <(table CustomAction)
sequence_of() { table InstallExecuteSequence | awk -F '\t' -v a="$1" '$1 == a { print $3 }'; }
registered_between_files_and_start() {
  local files register rollback start
  files=$(sequence_of InstallFiles) register=$(sequence_of RegisterService)
  rollback=$(sequence_of UnregisterServiceOnRollback) start=$(sequence_of StartServices)
  [[ -n $files && -n $register && -n $rollback && -n $start ]] &&
    ((files < rollback && rollback < register && register < start))
}
check "the build's MSI registers after InstallFiles and before StartServices" \
  registered_between_files_and_start
check "the build's MSI registers only an executable being installed, and no registration twice" \
  test "$(table InstallExecuteSequence | awk -F '\t' '$1 == "RegisterService" { print $2 }')" = \
  '$ServiceExecutable>2 AND (NOT SERVICEREGISTERED OR WIX_UPGRADE_DETECTED)'

# The WinUSB driver package: its two files in the folder winusb-driver of the install folder;
# added to the driver store only with INSTALLWINUSBDRIVER=1, a choice the installation records and
# the next one and the removal read back. What its actions do is seen below, when they run.
check "the build's MSI has its folder winusb-driver in the install folder" \
  grep -qxP 'WinUsbDriverFolder\tINSTALLDIR\twinusb-driver' <(table Directory)
for file in orvale-winusb.inf orvale-winusb.cat; do
  check "the build's MSI installs $file into winusb-driver" test \
    "$(table File | awk -F '\t' -v f="$file" '$3 == f { print $2 }' |
       xargs -I{} awk -F '\t' -v c={} '$1 == c { print $3 }' <(table Component))" = WinUsbDriverFolder
done
# No script: no table of the MSI names PowerShell, and no action that runs a program is given a
# formatted value ([...]) in its command line, where a folder's name could change what runs. The
# base types that run a program: 2 (from the Binary table), 18 (an installed file), 34 (in a
# folder), 50 (the program a property names).
every_table() {  # msiinfo writes the streams of the Binary table into a folder Binary where it runs
  local name
  mkdir -p "$work/tables"
  for name in $(msiinfo tables "$build/QuorlanWindowsUpdateService.msi"); do
    (cd "$work/tables" && table "$name")
  done
}
check "the build's MSI names no PowerShell in any table" \
  test "$(every_table | grep -ci powershell)" = 0
formatted_command_lines() {
  table CustomAction | awk -F '\t' '{ base = $2 % 64 } (base == 2 || base == 18 || base == 34 ||
    base == 50) && $4 ~ /\[/ { print $1 }'
}
check "the build's MSI formats nothing into a command line" test -z "$(formatted_command_lines)"
# The driver store is changed in the installation's script, and undone by it: the choice read
# first, the package removed before the files go, the rollback of the adding before the adding
# (a rollback action scheduled after a failed action never runs), each CustomActionData set just
# before its action, the restart asked for once the script has run.
driver_actions_in_order() {
  local order=(AppSearch KeepWinUsbDriverChoice SetRemoveWinUsbDriverData RemoveWinUsbDriver
               InstallFiles SetRemoveWinUsbDriverOnRollbackData RemoveWinUsbDriverOnRollback
               SetInstallWinUsbDriverData InstallWinUsbDriver InstallFinalize
               RequestWinUsbDriverRestart) action previous=0 at
  for action in "${order[@]}"; do
    at=$(sequence_of "$action")
    [[ -n $at ]] && ((at > previous)) || { echo "$action is out of order"; return 1; }
    previous=$at
  done
}
check "the build's MSI: choice, removal, files, rollback, adding, restart, in that order" \
  driver_actions_in_order
# wixl writes Execute="rollback" as an immediate action, which would remove the package while the
# installer plans; build-msi sets the rollback bit (256) and the in-script bit (1024).
rollback_bits() {
  table CustomAction |
    awk -F '\t' -v a="$1" '$1 == a { print int($2 / 256) % 2 int($2 / 1024) % 2 }'
}
check "the build's MSI removes the package on rollback only" \
  test "$(rollback_bits RemoveWinUsbDriverOnRollback)" = 11
# Only an administrator's own command line sets the choice: a property that is not secure does not
# reach the elevated part of an installation that a standard user starts.
secure_properties() { table Property | awk -F '\t' '$1 == "SecureCustomProperties" { print $2 }'; }
check "INSTALLWINUSBDRIVER is not a secure property" \
  test -z "$(secure_properties | grep -w INSTALLWINUSBDRIVER)"

# The prefix's wineserver is kept alive for the whole test.
wineserver -p </dev/null >/dev/null 2>&1

# --- install 1.0.0 ----------------------------------------------------------------------------
check "1.0.0: silent install exits 0" test "$(msiexec install-1.0.0 /i "$work/service-1.0.0.msi")" = 0
check "1.0.0: service installed" cmp -s "$product_exe" "$install_dir/QuorlanWindowsUpdateService.exe"
check "1.0.0: message DLL installed" cmp -s "$messages_dll" "$install_dir/QuorlanEventMessages.dll"
check "1.0.0: dfu-util.exe installed" cmp -s "$stand_in" "$install_dir/dfu-util.exe"
check "1.0.0: firmware package installed" cmp -s "$work/orvale-0102.dfu" "$install_dir/orvale-0102.dfu"
check_file_versions 1.0.0
check_registration 1.0.0
check_event_sources 1.0.0
check "1.0.0: started by the install" test "$(service_state)" = RUNNING
check "1.0.0: one product, 1.0.0" test "$(installed_versions)" = 1.0.0

# --- 1.0.1 over it ----------------------------------------------------------------------------
check "1.0.1: upgrade exits 0" test "$(msiexec upgrade-1.0.1 /i "$work/service-1.0.1.msi")" = 0
check "1.0.1: one product, 1.0.1" test "$(installed_versions)" = 1.0.1
check "1.0.1: the newer package installed" cmp -s "$work/orvale-0103.dfu" "$install_dir/orvale-0103.dfu"
check "1.0.1: the older package removed" test ! -e "$install_dir/orvale-0102.dfu"
check "1.0.1: service installed" cmp -s "$product_exe" "$install_dir/QuorlanWindowsUpdateService.exe"
check "1.0.1: the tool built from Debian's sources replaced the other" \
  cmp -s "$tool_dir/dfu-util.exe" "$install_dir/dfu-util.exe"
for file in "${notices[@]}"; do
  check "1.0.1: $file installed beside it" cmp -s "$tool_dir/$file" "$install_dir/$file"
done
for file in "${tool_sources[@]}"; do
  check "1.0.1: its source $file installed in dfu-util-source" \
    cmp -s "$tool_dir/dfu-util-source/$file" "$install_dir/dfu-util-source/$file"
done
check "1.0.1: dfu-util.exe -V reports 0.11" \
  test "$(wine "$install_dir_win\\dfu-util.exe" -V </dev/null 2>&1 | head -n 1)" = $'dfu-util 0.11\r'
for file in orvale-winusb.inf orvale-winusb.cat; do
  check "1.0.1: the driver package's $file installed in winusb-driver" \
    cmp -s "$driver_dir/$file" "$install_dir/winusb-driver/$file"
done
check "1.0.1: the driver package is not added without INSTALLWINUSBDRIVER=1" \
  never_ran InstallWinUsbDriver "$work/upgrade-1.0.1.log"
check_registration 1.0.1
check_event_sources 1.0.1
check "1.0.1: running" test "$(service_state)" = RUNNING

# --- 1.0.0 over 1.0.1: refused ----------------------------------------------------------------
# Refused with 1603 (ERROR_INSTALL_FAILURE), of which a Linux shell sees the low byte, 67.
status=$(msiexec downgrade-1.0.0 /i "$work/service-1.0.0.msi")
check "downgrade: refused with 1603 (exit status $status)" test "$status" = 67
# Windows shows the failed launch condition's text; Wine's silent install logs only the failure.
check "downgrade: the package says why" grep -qP '^NOT WIX_DOWNGRADE_DETECTED\tA newer version of the service is already installed\.$' \
  <(msiinfo export "$work/service-1.0.0.msi" LaunchCondition | tr -d '\r')
check "downgrade: still one product, 1.0.1" test "$(installed_versions)" = 1.0.1
check "downgrade: the newer package stays" cmp -s "$work/orvale-0103.dfu" "$install_dir/orvale-0103.dfu"
check "downgrade: the older package not installed" test ! -e "$install_dir/orvale-0102.dfu"
check_registration downgrade
check_event_sources downgrade
check "downgrade: still running" test "$(service_state)" = RUNNING

# --- removal ----------------------------------------------------------------------------------
check "removal: exits 0" test "$(msiexec remove-1.0.1 /x "$work/service-1.0.1.msi")" = 0
check_nothing_left removal

# --- after the service has deleted its own registration ----------------------------------------
# After its upgrade the service stops and deletes its own registration while the MSI stays
# installed: what a fleet does next starts from there.
check "reinstall: exits 0" test "$(msiexec reinstall-1.0.1 /i "$work/service-1.0.1.msi")" = 0
check "reinstall: running" test "$(service_state)" = RUNNING
# A repair while the service is registered keeps that registration: "install" would refuse an
# existing one and fail the repair.
check "repair while registered: exits 0" \
  test "$(msiexec repair-registered-1.0.1 /i "$work/service-1.0.1.msi" REINSTALL=ALL REINSTALLMODE=vomus)" = 0
check "repair while registered: the registration is not made again" \
  never_ran RegisterService "$work/repair-registered-1.0.1.log"
check_registration "repair while registered"
check "repair while registered: running" test "$(service_state)" = RUNNING
self_remove() {  # self_remove WHEN: as the service does it, stopped and its registration deleted
  wine net stop "$service" </dev/null >"$work/net-stop-$1.out" 2>&1
  check "$1: net stop" test $? = 0
  wine "$install_dir_win\\QuorlanWindowsUpdateService.exe" uninstall </dev/null >"$work/$1.out" 2>&1
  check "$1: uninstall exits 0" test $? = 0
  check "$1: the service deletes its own registration" not_registered
}
self_remove self-removal

# The same MSI again is harmless: one product, the package kept. Windows Installer takes it as
# the installed product's maintenance and does nothing; Wine's installs it once more, and so
# registers and starts the service again. Either way nothing is left half done.
check "same MSI again: exits 0" test "$(msiexec again-1.0.1 /i "$work/service-1.0.1.msi")" = 0
check "same MSI again: still one product, 1.0.1" test "$(installed_versions)" = 1.0.1
check "same MSI again: the package stays" cmp -s "$work/orvale-0103.dfu" "$install_dir/orvale-0103.dfu"
unregistered_or_running() { not_registered || [[ $(service_state) == RUNNING ]]; }
check "same MSI again: the service is unregistered, or registered and running" unregistered_or_running
registered && self_remove "self-removal after the same MSI again"

# A repair, msiexec /fvomus, which is the same as REINSTALL=ALL REINSTALLMODE=vomus (Wine's
# msiexec takes only the second form), reinstalls every file and registers and starts the service
# again.
check "repair: exits 0" \
  test "$(msiexec repair-1.0.1 /i "$work/service-1.0.1.msi" REINSTALL=ALL REINSTALLMODE=vomus)" = 0
check_registration repair
check_event_sources repair
check "repair: running" test "$(service_state)" = RUNNING
check "repair: still one product, 1.0.1" test "$(installed_versions)" = 1.0.1
self_remove "self-removal after the repair"

# The next release's MSI, with the next firmware package, installs over it: the usual path.
check "1.0.2 after self-removal: upgrade exits 0" \
  test "$(msiexec upgrade-1.0.2 /i "$work/service-1.0.2.msi")" = 0
check "1.0.2 after self-removal: one product, 1.0.2" test "$(installed_versions)" = 1.0.2
check "1.0.2 after self-removal: the new package installed" \
  cmp -s "$work/orvale-0104.dfu" "$install_dir/orvale-0104.dfu"
check "1.0.2 after self-removal: only the new package" \
  test "$(cd "$install_dir" && ls -- *.dfu)" = orvale-0104.dfu
check_registration "1.0.2 after self-removal"
check_event_sources "1.0.2 after self-removal"
check "1.0.2 after self-removal: running" test "$(service_state)" = RUNNING

# Removal after the service has deleted its own registration leaves nothing either.
self_remove "self-removal before the removal"
check "self-removal: removal exits 0" \
  test "$(msiexec remove-after-self-removal /x "$work/service-1.0.2.msi")" = 0
check_nothing_left "self-removal"

# --- the WinUSB driver package turned on --------------------------------------------------------
# Wine's own newdev.dll: its DiInstallDriverW succeeds without keeping a driver store, and it has
# no DiUninstallDriverW, as Windows before 10 1703 has none. The actions say in the log what they
# did.
choice() { registry_entry 'HKLM\SOFTWARE\Quorlan\orvale\Services' InstallWinUsbDriver; }
action_said() {  # action_said LOGNAME ACTION: the action's own lines in that installation's log
  tr -d '\r' <"$work/$1.log" | sed -n "s/^$2: //p"
}
added="The WinUSB driver package $install_dir_win\\winusb-driver\\orvale-winusb.inf is in the"
added+=" driver store, and installed on the matching devices plugged in now."
check "driver on: install exits 0" \
  test "$(msiexec driver-on /i "$work/service-1.0.2.msi" INSTALLWINUSBDRIVER=1)" = 0
check "driver on: the native action adds the installed INF" \
  test "$(action_said driver-on InstallWinUsbDriver)" = "$added"
check "driver on: the choice is recorded" test "$(choice)" = 'REG_SZ 1'
check "driver on: a repair exits 0" test \
  "$(msiexec driver-repair /i "$work/service-1.0.2.msi" REINSTALL=ALL REINSTALLMODE=vomus)" = 0
check "driver on: a repair without the property keeps the choice and adds the package again" \
  test "$(action_said driver-repair InstallWinUsbDriver)" = "$added"
check "driver on: the choice stays recorded" test "$(choice)" = 'REG_SZ 1'
registered && self_remove "self-removal with the driver package"
check "driver on: removal exits 0" test "$(msiexec driver-removal /x "$work/service-1.0.2.msi")" = 0
check "driver on: without DiUninstallDriverW the removal goes on, and says the package stays" \
  grep -q '^DiUninstallDriverW is missing .* stays in the driver store' \
  <(action_said driver-removal RemoveWinUsbDriver)
check_nothing_left "driver on"
check "driver on: the choice's record is gone" test -z "$(choice)"

# --- another folder, with a driver store ---------------------------------------------------------
# An administrator's folder whose name holds an apostrophe and a space, and a newdev.dll that keeps
# a driver store as Windows 10's does (tests/wine/driver_store_double.cpp), asked to report that a
# restart is due. C:\Tools is the administrator's own, there before and after.
check "the driver store stand-in goes into the prefix's System32" \
  cp "$store_double" "$WINEPREFIX/drive_c/windows/system32/newdev.dll"
store=$WINEPREFIX/drive_c/windows/DriverStoreDouble
with_store() { WINEDLLOVERRIDES="$WINEDLLOVERRIDES;newdev=n" "$@"; }
journal() { cat "$store/journal.txt" 2>/dev/null; }
mkdir -p "$WINEPREFIX/drive_c/Tools"
other_dir_win="C:\\Tools\\It's here"
other_dir="$WINEPREFIX/drive_c/Tools/It's here"
other_inf_win="$other_dir_win\\winusb-driver\\orvale-winusb.inf"
nothing_in_program_files() { [[ ! -e "$WINEPREFIX/drive_c/Program Files/Quorlan" ]]; }
status=$(QWUS_DRIVER_STORE_RESTART=1 with_store msiexec elsewhere-1.0.1 /i \
  "$work/service-1.0.1.msi" INSTALLWINUSBDRIVER=1 "INSTALLDIR=$other_dir_win\\")
# ERROR_SUCCESS_REBOOT_REQUIRED, 3010, of which a Linux shell sees the low byte, 194.
check "elsewhere: the install ends with 3010, the restart that the driver store asks for" \
  test "$status" = 194
check "elsewhere: the driver action is given the installed INF's path whole" \
  test "$(journal)" = "DiInstallDriverW $other_inf_win"
check "elsewhere: the driver store holds the shipped INF" \
  cmp -s "$driver_dir/orvale-winusb.inf" "$store/orvale-winusb.inf"
check "elsewhere: the service is installed there" \
  cmp -s "$product_exe" "$other_dir/QuorlanWindowsUpdateService.exe"
check "elsewhere: its package is there" cmp -s "$work/orvale-0103.dfu" "$other_dir/orvale-0103.dfu"
check "elsewhere: nothing under Program Files\\Quorlan" nothing_in_program_files
check_registration elsewhere "$other_dir_win"
check_event_sources elsewhere "$other_dir_win"
check "elsewhere: running" test "$(service_state)" = RUNNING

check "elsewhere: the next release, with no INSTALLDIR given, exits 0" \
  test "$(with_store msiexec elsewhere-1.0.2 /i "$work/service-1.0.2.msi")" = 0
check "elsewhere: the next release is in the same folder, with only its package" \
  test "$(cd "$other_dir" && ls -- *.dfu)" = orvale-0104.dfu
check "elsewhere: the next release's service is there" \
  cmp -s "$product_exe" "$other_dir/QuorlanWindowsUpdateService.exe"
check "elsewhere: after the next release, nothing under Program Files\\Quorlan" \
  nothing_in_program_files
check_registration "elsewhere, next release" "$other_dir_win"
check "elsewhere: the driver package stays in the store through the upgrade" \
  test -e "$store/orvale-winusb.inf"
rm -f "$other_dir/QuorlanEventMessages.dll"
check "elsewhere: a repair, with no INSTALLDIR given, exits 0" test "$(with_store msiexec \
  elsewhere-repair /i "$work/service-1.0.2.msi" REINSTALL=ALL REINSTALLMODE=vomus)" = 0
check "elsewhere: the repair puts a missing file back in the same folder" \
  cmp -s "$messages_dll" "$other_dir/QuorlanEventMessages.dll"
check "elsewhere: after the repair, nothing under Program Files\\Quorlan" nothing_in_program_files

check "elsewhere: removal exits 0" \
  test "$(with_store msiexec elsewhere-removal /x "$work/service-1.0.2.msi")" = 0
check "elsewhere: the removal takes the package out of the driver store" \
  test ! -e "$store/orvale-winusb.inf"
check "elsewhere: the removal gives DiUninstallDriverW the installed INF's path whole" \
  test "$(journal | tail -n 1)" = "DiUninstallDriverW $other_inf_win"
check "elsewhere: the removal leaves nothing in the folder" test ! -e "$other_dir"
check "elsewhere: the administrator's C:\\Tools stays" test -d "$WINEPREFIX/drive_c/Tools"
check_nothing_left "elsewhere"
check "elsewhere: the folder's record is gone" \
  test -z "$(registry_entry 'HKLM\SOFTWARE\Quorlan\orvale\Services' InstallDir)"

# A driver store that refuses: the removal stops, says why, and leaves the product installed. (It is
# the last removal here: Wine's rollback of a removal does not put the registry values back.)
check "refused: install exits 0" test "$(with_store msiexec refused-install /i \
  "$work/service-1.0.2.msi" INSTALLWINUSBDRIVER=1 "INSTALLDIR=$other_dir_win\\")" = 0
status=$(QWUS_DRIVER_STORE_REFUSES=1 with_store msiexec refused /x "$work/service-1.0.2.msi")
check "refused: a removal whose driver package cannot be removed fails with 1603 ($status)" \
  test "$status" = 67
check "refused: the removal says why" grep -q \
  "^The WinUSB driver package .* could not be removed: DiUninstallDriverW failed with error 5 " \
  <(action_said refused RemoveWinUsbDriver)
check "refused: after it, still one product, 1.0.2" \
  test "$(installed_versions)" = 1.0.2
check "refused: after it, the service is still there" \
  cmp -s "$product_exe" "$other_dir/QuorlanWindowsUpdateService.exe"
check "refused: after it, the package is still in the store" \
  test -e "$store/orvale-winusb.inf"
finished=1
