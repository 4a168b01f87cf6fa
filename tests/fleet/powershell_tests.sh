#!/usr/bin/env bash
# The Pester suites of the fleet's PowerShell (tests/fleet/*.Tests.ps1) under scripts/pwsh, over
# the recorded events of Wine scenarios: recorded/NAME.tsv is the events.tsv a scenario left,
# rendered here to Windows' event XML by fleet_query_test.py (which also checks the report's
# filter against them) for the tests' Get-WinEvent to answer from; and the hardware ids and
# instance ids that Windows builds from the emulated device's descriptors, as lsusb reads them,
# for the tests' Get-PnpDevice.
#   powershell_tests.sh REPO_ROOT RESULTS_DIR ORVALE_USB_DEVICE
# Writes the JUnit report RESULTS_DIR/powershell_pester.xml.
set -uo pipefail
root=$1 results=$2 device=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/powershell-tests.XXXXXX")
trap 'rm -rf "$work"' EXIT

for tsv in "$here"/recorded/*.tsv; do
  name=$(basename "$tsv" .tsv)
  /usr/bin/python3 "$here/fleet_query_test.py" "$tsv" "$root/docs/fleet/outcomes-subscription.xml" \
    "$root/docs/fleet/outcomes-report.ps1" "$work/$name.xml" "$root/docs/fleet/outcomes-dcr.json" \
    >"$work/$name.out" ||
    { echo "recorded/$name.tsv:"; cat "$work/$name.out"; exit 1; }
done
# NAME, then KEY=VALUE lines of the emulated device's state: one line of pnp-devices.txt, the ids
# as the USB hub driver composes them (USB\VID_v&PID_d&REV_r, USB\VID_v&PID_d; the instance id
# ends in the serial number), from idVendor, idProduct, bcdDevice and iSerial.
pnp_device() {
  local name=$1 descriptor
  shift
  printf '%s\n' "$@" >"$work/$name.state"
  descriptor=$("$device" --state "$work/$name.state" -- lsusb -v -d c4e2: 2>/dev/null) ||
    { echo "lsusb could not read the emulated device ($name)"; exit 1; }
  awk -v name="$name" '
    $1 == "idVendor" { vid = toupper(substr($2, 3)) }
    $1 == "idProduct" { pid = toupper(substr($2, 3)) }
    $1 == "bcdDevice" { split($2, v, "."); rev = toupper(substr("0" v[1], length(v[1])) v[2]) }
    $1 == "iSerial" { serial = $3 }
    END { id = "USB\\VID_" vid "&PID_" pid
          printf "%s\t%s&REV_%s\t%s\t%s\\%s\n", name, id, rev, id, id, serial }' \
    <<<"$descriptor" >>"$work/pnp-devices.txt"
}
pnp_device runtime-0102 mode=runtime version=0102
pnp_device runtime-0100 mode=runtime version=0100
pnp_device dfu-0100 mode=dfu version=0100

QWUS_RECORDED_EVENTS=$work "$root/scripts/pwsh" -NoProfile -NonInteractive \
  -File "$here/run-pester.ps1" "$results" powershell_pester
