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
# MSI again, a repair, the next release's MSI over it, and its removal.
#   msi_e2e.sh BUILD_DIR VERSION     (VERSION: the project's, carried by the built files;
#                                     KEEP_PREFIX=1 keeps the Wine prefix for a look afterwards)
# Writes a JUnit report BUILD_DIR/test-results/e2e_msi.xml and exits non-zero on failure.
set -uo pipefail
. "$(dirname "$0")/../../scripts/lib/wine_address_space.sh" && without_address_randomisation "$0" "$@"

build=$(cd "$1" && pwd)
version=$2
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

check_registration() {  # check_registration WHEN: the registration as "install" makes it
  check "$1: registered" registered
  check "$1: image path is the installed executable in double quotes, no arguments" \
    test "$(registry_value ImagePath)" = "\"$install_dir_win\\QuorlanWindowsUpdateService.exe\""
  check "$1: own process" test "$(registry_value Type)" = 0x10
  check "$1: auto start" test "$(registry_value Start)" = 0x2
  check "$1: critical error control" test "$(registry_value ErrorControl)" = 0x3
  check "$1: LocalSystem" test "$(registry_value ObjectName)" = LocalSystem
  check "$1: display name" test "$(registry_value DisplayName)" = "$service"
}

check_event_sources() {  # check_event_sources WHEN
  local source entry path
  for source in QuorlanWindowsUpdateService OrvaleUpgradeProcess OrvaleUpgradeOutcome; do
    entry=$(registry_entry "$sources_key\\$source" EventMessageFile)
    check "$1: $source's message file is an expandable path to the installed DLL ($entry)" \
      test "$entry" = "REG_EXPAND_SZ $install_dir_win\\QuorlanEventMessages.dll"
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
    --driver "$driver_dir/orvale-winusb.inf"
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
# installed with pnputil only with INSTALLWINUSBDRIVER=1, a choice the installation records and
# the next one and the removal read back. Its three actions run the system's 64-bit PowerShell
# with a command, deferred and elevated: 3122 = 50 (the program a property names, run with its
# arguments) + 1024 + 2048; 3186 = 3122 + 64 (its exit status ignored); 3442 = 3186 + 256
# (rollback).
check "the build's MSI has its folder winusb-driver in the install folder" \
  grep -qxP 'WinUsbDriverFolder\tINSTALLDIR\twinusb-driver' <(table Directory)
for file in orvale-winusb.inf orvale-winusb.cat; do
  check "the build's MSI installs $file into winusb-driver" test \
    "$(table File | awk -F '\t' -v f="$file" '$3 == f { print $2 }' |
       xargs -I{} awk -F '\t' -v c={} '$1 == c { print $3 }' <(table Component))" = WinUsbDriverFolder
done
add_driver_command="-NoLogo -NoProfile -NonInteractive -Command \"& '[System64Folder]pnputil.exe' /add-driver '[#WinUsbDriverInfFile]' /install; if (\$LASTEXITCODE -in 0, 259, 3010) { exit 0 }; exit \$LASTEXITCODE\""
remove_driver_command="-NoLogo -NoProfile -NonInteractive -Command \"\$pnputil = '[System64Folder]pnputil.exe'; \$failed = 0; Get-WindowsDriver -Online | Where-Object { \$_.OriginalFileName -like '*\\orvale-winusb.inf' } | ForEach-Object { & \$pnputil /delete-driver \$_.Driver /uninstall; if (\$LASTEXITCODE -notin 0, 3010) { \$failed = 1 } }; exit \$failed\""
custom_action() { table CustomAction | awk -F '\t' -v a="$1" '$1 == a { print $2 "|" $3 "|" $4 }'; }
check "the build's MSI adds the driver package with pnputil, deferred and elevated" \
  test "$(custom_action InstallWinUsbDriver)" = "3122|WINUSBPOWERSHELL|$add_driver_command"
check "the build's MSI removes it on removal, its failure ignored" \
  test "$(custom_action RemoveWinUsbDriver)" = "3186|WINUSBPOWERSHELL|$remove_driver_command"
check "the build's MSI removes it on rollback" \
  test "$(custom_action RemoveWinUsbDriverOnRollback)" = "3442|WINUSBPOWERSHELL|$remove_driver_command"
check "the build's MSI runs the system's 64-bit PowerShell" test \
  "$(custom_action FindWinUsbDriverPowerShell)" = '51|WINUSBPOWERSHELL|[System64Folder]WindowsPowerShell\v1.0\powershell.exe'
check "the build's MSI reads the recorded choice back unless the command line makes it" \
  test "$(custom_action KeepWinUsbDriverChoice)" = '51|INSTALLWINUSBDRIVER|[WINUSBDRIVERCHOSEN]'
check "the build's MSI records the choice" grep -qxP \
  '[^\t]+\t2\tSOFTWARE\\Quorlan\\orvale\\Services\tInstallWinUsbDriver\t\[INSTALLWINUSBDRIVER\]\tWinUsbDriverChoice' \
  <(table Registry)
check "the build's MSI reads that record" grep -qxP \
  'WinUsbDriverChoiceSearch\t2\tSOFTWARE\\Quorlan\\orvale\\Services\tInstallWinUsbDriver\t18' <(table RegLocator)
condition_of() { table InstallExecuteSequence | awk -F '\t' -v a="$1" '$1 == a { print $2 }'; }
check "the build's MSI adds the driver package only with INSTALLWINUSBDRIVER=1, and not on removal" \
  test "$(condition_of InstallWinUsbDriver)" = 'NOT REMOVE~="ALL" AND INSTALLWINUSBDRIVER="1"'
check "the build's MSI rolls back only an adding that no installation before made" test \
  "$(condition_of RemoveWinUsbDriverOnRollback)" = 'NOT REMOVE~="ALL" AND INSTALLWINUSBDRIVER="1" AND WINUSBDRIVERCHOSEN<>"1"'
check "the build's MSI removes it on a removal that no upgrade makes" test \
  "$(condition_of RemoveWinUsbDriver)" = 'REMOVE~="ALL" AND NOT UPGRADINGPRODUCTCODE AND INSTALLWINUSBDRIVER="1"'
check "the build's MSI keeps a recorded choice only when the command line makes none" \
  test "$(condition_of KeepWinUsbDriverChoice)" = 'NOT INSTALLWINUSBDRIVER AND WINUSBDRIVERCHOSEN'
driver_actions_in_order() {
  local search keep find remove files rollback add finalize
  search=$(sequence_of AppSearch) keep=$(sequence_of KeepWinUsbDriverChoice)
  find=$(sequence_of FindWinUsbDriverPowerShell) remove=$(sequence_of RemoveWinUsbDriver)
  files=$(sequence_of InstallFiles) rollback=$(sequence_of RemoveWinUsbDriverOnRollback)
  add=$(sequence_of InstallWinUsbDriver) finalize=$(sequence_of InstallFinalize)
  [[ -n $search && -n $keep && -n $find && -n $remove && -n $files && -n $rollback && -n $add &&
     -n $finalize ]] && ((search < keep && keep < find && find < remove && remove < files &&
     files < rollback && rollback < add && add < finalize))
}
check "the build's MSI: the choice read, then the removal, the files, the rollback, the adding" \
  driver_actions_in_order
check "the build's MSI lets INSTALLWINUSBDRIVER reach its elevated part" grep -qxP \
  'SecureCustomProperties\t([^\t]*;)?INSTALLWINUSBDRIVER(;[^\t]*)?' <(table Property)

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
# Wine has no pnputil, and its powershell.exe is a stub that exits 0 and prints the arguments it
# was given: what the installation ran is read from that line, with the installed INF's path.
choice() { registry_entry 'HKLM\SOFTWARE\Quorlan\orvale\Services' InstallWinUsbDriver; }
powershell_runs() {  # powershell_runs LOGNAME: the stub's lines, as Wine shows its arguments
  sed -n 's/^[0-9a-f]*:fixme:powershell:wmain stub: //p' "$work/$1.out" | tr -d '\r'
}
# msiexec with Wine's fixme lines of its powershell.exe on.
traced_msiexec() { WINEDEBUG=$WINEDEBUG,fixme+powershell msiexec "$@"; }
# As Wine prints them: each argument in L"...", a backslash doubled.
ran_add=$(cat <<'LINE'
L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe" L"-NoLogo" L"-NoProfile" L"-NonInteractive" L"-Command" L"& 'C:\\windows\\system32\\pnputil.exe' /add-driver 'C:\\Program Files\\Quorlan\\orvale\\Services\\winusb-driver\\orvale-winusb.inf' /install; if ($LASTEXITCODE -in 0, 259, 3010) { exit 0 }; exit $LASTEXITCODE"
LINE
)
ran_remove=$(cat <<'LINE'
L"C:\\windows\\system32\\WindowsPowerShell\\v1.0\\powershell.exe" L"-NoLogo" L"-NoProfile" L"-NonInteractive" L"-Command" L"$pnputil = 'C:\\windows\\system32\\pnputil.exe'; $failed = 0; Get-WindowsDriver -Online | Where-Object { $_.OriginalFileName -like '*\\orvale-winusb.inf' } | ForEach-Object { & $pnputil /delete-driver $_.Driver /uninstall; if ($LASTEXITCODE -notin 0, 3010) { $failed = 1 } }; exit $failed"
LINE
)
check "driver on: install exits 0" \
  test "$(traced_msiexec driver-on /i "$work/service-1.0.2.msi" INSTALLWINUSBDRIVER=1)" = 0
check "driver on: pnputil adds the installed INF, through PowerShell" \
  test "$(powershell_runs driver-on)" = "$ran_add"
check "driver on: the choice is recorded" test "$(choice)" = 'REG_SZ 1'
check "driver on: a repair exits 0" test \
  "$(traced_msiexec driver-repair /i "$work/service-1.0.2.msi" REINSTALL=ALL REINSTALLMODE=vomus)" = 0
check "driver on: a repair without the property keeps the choice and adds the package again" \
  test "$(powershell_runs driver-repair)" = "$ran_add"
check "driver on: the choice stays recorded" test "$(choice)" = 'REG_SZ 1'
registered && self_remove "self-removal with the driver package"
check "driver on: removal exits 0" \
  test "$(traced_msiexec driver-removal /x "$work/service-1.0.2.msi")" = 0
check "driver on: the removal deletes every package of orvale-winusb.inf from the driver store" \
  test "$(powershell_runs driver-removal)" = "$ran_remove"
check_nothing_left "driver on"
check "driver on: the choice's record is gone" test -z "$(choice)"
finished=1
