#!/usr/bin/env bash
# The MSI under Wine's installer, in a private Wine prefix removed afterwards with its wineserver:
# builds a package that also carries dfu-util.exe (the device simulator) and a firmware package,
# installs it silently, checks the files and the service's registration, starts the service,
# removes the package silently and checks that nothing is left; then the same after the service
# has deleted its own registration, as it does after an upgrade.
#   msi_e2e.sh BUILD_DIR        (KEEP_PREFIX=1 keeps the Wine prefix for a look afterwards)
# Writes a JUnit report BUILD_DIR/test-results/e2e_msi.xml and exits non-zero on failure.
set -uo pipefail

build=$(cd "$1" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
service=QuorlanWindowsUpdateService
service_key='HKLM\System\CurrentControlSet\Services\QuorlanWindowsUpdateService'

work=$build/e2e/msi
rm -rf "$work"
mkdir -p "$work" "$build/test-results"
export WINEPREFIX
WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/qwus-e2e-msi.XXXXXX")
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=-all
install_dir=$WINEPREFIX/drive_c/Program\ Files/Quorlan/orvale/Services
install_dir_win='C:\Program Files\Quorlan\orvale\Services'

source "$here/checks.sh"

cleanup() {
  wineserver -k 2>/dev/null
  wineserver -w 2>/dev/null
  [[ -n ${KEEP_PREFIX:-} ]] || rm -rf "$WINEPREFIX"
  report_checks "$build/test-results" msi "$work"
  exit $?
}
trap cleanup EXIT

registered() { wine reg query "$service_key" >/dev/null 2>&1; }
not_registered() { ! registered; }
registry_value() { wine reg query "$service_key" /v "$1" 2>/dev/null | tr -d '\r' | awk -v v="$1" '$1 == v { $1 = ""; $2 = ""; sub(/^  */, ""); print }'; }
service_state() { wine sc query "$service" 2>/dev/null | tr -d '\r' | awk '$1 == "STATE" { print $4 }'; }
no_files_left() { [[ ! -e "$WINEPREFIX/drive_c/Program Files/Quorlan" ]]; }

head -c 1024 /dev/urandom >"$work/orvale-0102.dfu"
dfu-suffix -a "$work/orvale-0102.dfu" -v c4e2 -p 8351 -d 0x0102 >/dev/null
check "package builds" "$source_dir/packaging/build-msi" "$work/service.msi" \
  "$build/service/QuorlanWindowsUpdateService.exe" \
  --tool "$build/tools/dfu_simulator/bin/dfu-util.exe" --package "$work/orvale-0102.dfu"

# The prefix is made, then its wineserver restarted and kept alive for the whole test: right after
# wineboot the service control manager may still be starting the prefix's own services, and a
# service start then fails with "Service database locked".
wineserver -p </dev/null >/dev/null 2>&1
wine wineboot -i </dev/null >/dev/null 2>&1
wineserver -k 2>/dev/null
wineserver -w
wineserver -p </dev/null >/dev/null 2>&1

wine msiexec /i "$(winepath -w "$work/service.msi")" /qn /l*v "$(winepath -w "$work/install.log")" \
  </dev/null >"$work/msiexec-install.out" 2>&1
check "silent install exits 0" test $? = 0
check "service installed" cmp -s "$build/service/QuorlanWindowsUpdateService.exe" "$install_dir/QuorlanWindowsUpdateService.exe"
check "dfu-util.exe installed" cmp -s "$build/tools/dfu_simulator/bin/dfu-util.exe" "$install_dir/dfu-util.exe"
check "firmware package installed" cmp -s "$work/orvale-0102.dfu" "$install_dir/orvale-0102.dfu"

check "registered" registered
check "image path is the installed executable, no arguments" \
  test "$(registry_value ImagePath)" = "$install_dir_win\\QuorlanWindowsUpdateService.exe"
check "own process" test "$(registry_value Type)" = 0x10
check "auto start" test "$(registry_value Start)" = 0x2
check "critical error control" test "$(registry_value ErrorControl)" = 0x3
check "LocalSystem" test "$(registry_value ObjectName)" = LocalSystem
check "display name" test "$(registry_value DisplayName)" = "$service"
check "not started by the install" test "$(service_state)" = STOPPED

wine net start "$service" </dev/null >"$work/net-start.out" 2>&1
check "installed service starts" test "$(service_state)" = RUNNING

wine msiexec /x "$(winepath -w "$work/service.msi")" /qn /l*v "$(winepath -w "$work/uninstall.log")" \
  </dev/null >"$work/msiexec-uninstall.out" 2>&1
check "silent removal exits 0" test $? = 0
check "registration gone" not_registered
check "no files left" no_files_left

# After an upgrade the service deletes its own registration while the MSI stays installed; removing
# the MSI must still succeed then and leave nothing behind.
wine msiexec /i "$(winepath -w "$work/service.msi")" /qn </dev/null >"$work/msiexec-reinstall.out" 2>&1
check "installs again after removal" registered
wine "$install_dir_win\\QuorlanWindowsUpdateService.exe" uninstall </dev/null >"$work/self-removal.out" 2>&1
check "the service deletes its own registration" not_registered
wine msiexec /x "$(winepath -w "$work/service.msi")" /qn </dev/null >"$work/msiexec-uninstall2.out" 2>&1
check "silent removal without a registration exits 0" test $? = 0
check "no files left after that removal" no_files_left
