#!/usr/bin/env bash
# Readers that are not ours read the emulated Orvale device inside the umockdev testbed: lsusb -v
# (usbutils) prints its descriptors, its strings and its BOS; pyusb over libusb fetches the
# Microsoft OS 2.0 descriptor set as Windows does (ms_os_descriptors_reader.py), in runtime and DFU
# mode, and finds none when the state file says ms_os_descriptors=0. The composite layouts
# (runtime_interfaces=2, with and without ms_os_subsets=1) and a DFU-mode bcdDevice of its own
# (dfu_version) read as the state file says.
#   descriptor_readers_test.sh ORVALE_USB_DEVICE READER_PY RESULTS_DIR
# Writes a JUnit report RESULTS_DIR/e2e_device-descriptor-readers.xml.
set -uo pipefail

device=${1:-} reader=${2:-} results=${3:-}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../e2e/checks.sh"

# Every check below runs on every pass: fewer means one was skipped.
expected_checks=51
work=$(mktemp -d)
finish() {
  ((checks == expected_checks)) || fail "$expected_checks checks expected, $checks ran"
  report_checks "$results" device-descriptor-readers "$work" && rm -rf "$work"
}
trap 'finish; exit $?' EXIT

[[ -x $device ]] || { echo "no orvale-usb-device at '$device'"; exit 1; }
[[ -f $reader ]] || { echo "no reader at '$reader'"; exit 1; }
command -v lsusb >/dev/null || { echo "no lsusb: scripts/install-deps installs usbutils"; exit 1; }
/usr/bin/python3 -c 'import usb.core' ||
  { echo "no pyusb: scripts/install-deps installs python3-usb"; exit 1; }

# run NAME STATE PROGRAM [ARGS...]: PROGRAM's standard output in $work/NAME.out, with the device
# that the state file lines STATE describe.
run() {
  local name=$1 state=$2 status
  shift 2
  printf '%s\n' "$state" >"$work/$name.state"
  "$device" --state "$work/$name.state" -- "$@" >"$work/$name.out" 2>"$work/$name.err"
  status=$?
  check "$name: exit status 0 (got $status)" test "$status" -eq 0
  [[ $status -eq 0 ]] || sed 's/^/    /' "$work/$name.err"
}

# lsusb_run NAME STATE ID: lsusb -v -d ID, each line without its indentation and runs of spaces.
lsusb_run() {
  run "$1" "$2" lsusb -v -d "$3"
  sed -E 's/^ +//; s/ +/ /g; s/ +$//' "$work/$1.out" >"$work/$1.lines"
}

has_line() {  # has_line NAME LINE
  if grep -Fxq -- "$2" "$work/$1.lines"; then
    pass "$1: '$2'"
  else
    fail "$1: no line '$2'; lsusb printed:"
    sed 's/^/    /' "$work/$1.out"
  fi
}

no_bos() {  # no_bos NAME
  if grep -q 'Binary Object Store' "$work/$1.lines"; then
    fail "$1: a BOS"
    sed 's/^/    /' "$work/$1.out"
  else
    pass "$1: no BOS"
  fi
}

same_text() {  # same_text DESCRIPTION FILE EXPECTED_LINES
  if cmp -s "$2" <(printf '%s\n' "$3"); then
    pass "$1:"
    sed 's/^/    /' "$2"
  else
    fail "$1"
    diff <(printf '%s\n' "$3") "$2" | sed 's/^/    /'
  fi
}

bos_block() {  # bos_block NAME: lsusb's BOS, from its heading to the device status
  sed -n '/^Binary Object Store Descriptor:$/,/^Device Status:/p' "$work/$1.lines" | sed '$d'
}

bos='Binary Object Store Descriptor:
bLength 5
bDescriptorType 15
wTotalLength 0x0021
bNumDeviceCaps 1
Platform Device Capability:
bLength 28
bDescriptorType 16
bDevCapabilityType 5
bReserved 0
PlatformCapabilityUUID {d8dd60df-4589-4cc7-9cd2-659d9e648a9f}
CapabilityData[0] 0x00
CapabilityData[1] 0x00
CapabilityData[2] 0x03
CapabilityData[3] 0x06
CapabilityData[4] 0xa2
CapabilityData[5] 0x00
CapabilityData[6] 0x20
CapabilityData[7] 0x00'

for mode in runtime dfu; do
  name="lsusb $mode"
  lsusb_run "$name" "mode=$mode" c4e2:
  if [[ $mode == runtime ]]; then
    has_line "$name" 'Bus 001 Device 007: ID c4e2:8351 Quorlan Orvale'
  else
    has_line "$name" 'Bus 001 Device 008: ID c4e2:8352 Quorlan Orvale'
  fi
  has_line "$name" 'bcdUSB 2.10'
  has_line "$name" 'iManufacturer 1 Quorlan'
  has_line "$name" 'iProduct 2 Orvale'
  has_line "$name" 'iSerial 3 A7X2249'
  bos_block "$name" >"$work/$name.bos"
  same_text "$name: the BOS" "$work/$name.bos" "$bos"

  name="lsusb $mode without MS OS descriptors"
  lsusb_run "$name" "mode=$mode
ms_os_descriptors=0" c4e2:
  has_line "$name" 'bcdUSB 2.00'
  has_line "$name" 'iSerial 3 A7X2249'
  no_bos "$name"
done

name='lsusb other maker'
lsusb_run "$name" 'other_device=1' 0483:
has_line "$name" 'Bus 001 Device 009: ID 0483:df11 Other Maker Other Bootloader'
has_line "$name" 'bcdUSB 2.00'
has_line "$name" 'iSerial 3 OTHER0001'
no_bos "$name"

# The composite runtime firmware: the DFU interface 0 and a vendor-specific interface 1; DFU mode
# is the DFU interface alone. A DFU-mode version of its own shows in DFU mode only.
name='lsusb composite'
lsusb_run "$name" 'runtime_interfaces=2' c4e2:
has_line "$name" 'bNumInterfaces 2'
has_line "$name" 'bInterfaceNumber 1'
has_line "$name" 'bInterfaceClass 255'
has_line "$name" 'iInterface 5 Orvale Data'
has_line "$name" 'bcdDevice 1.00'
name='lsusb composite in DFU mode'
lsusb_run "$name" 'mode=dfu
runtime_interfaces=2
dfu_version=0200' c4e2:
has_line "$name" 'bNumInterfaces 1'
has_line "$name" 'bcdDevice 2.00'
name='lsusb composite with subsets'
lsusb_run "$name" 'runtime_interfaces=2
ms_os_subsets=1
dfu_version=0200' c4e2:
has_line "$name" 'CapabilityData[4] 0xb2'
has_line "$name" 'bcdDevice 1.00'

found='BOS: 33 bytes, 1 capabilities
platform capability D8DD60DF-4589-4CC7-9CD2-659D9E648A9F, 28 bytes
MS OS 2.0: Windows 0x06030000, set of 162 bytes, vendor code 0x20, alt enum 0
set header: Windows 0x06030000, 162 bytes
compatible ID '"'WINUSB'"', sub-compatible ID '"''"'
registry property DeviceInterfaceGUIDs (REG_MULTI_SZ) = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}'
none='BOS: stalled
vendor request 0x20, wIndex 7: stalled'
for mode in runtime dfu; do
  product=8351
  [[ $mode == dfu ]] && product=8352
  run "pyusb $mode" "mode=$mode" /usr/bin/python3 "$reader"
  same_text "pyusb $mode" "$work/pyusb $mode.out" "device c4e2:$product, bcdUSB 2.10
$found"
  run "pyusb $mode without" "mode=$mode
ms_os_descriptors=0" /usr/bin/python3 "$reader"
  same_text "pyusb $mode without" "$work/pyusb $mode without.out" "device c4e2:$product, bcdUSB 2.00
$none"
done

# The set of a composite device: WINUSB and the interface GUID inside a configuration subset and a
# function subset for the DFU interface, 16 bytes more than the plain set.
run 'pyusb composite' 'runtime_interfaces=2
ms_os_subsets=1' /usr/bin/python3 "$reader"
same_text 'pyusb composite' "$work/pyusb composite.out" "device c4e2:8351, bcdUSB 2.10
BOS: 33 bytes, 1 capabilities
platform capability D8DD60DF-4589-4CC7-9CD2-659D9E648A9F, 28 bytes
MS OS 2.0: Windows 0x06030000, set of 178 bytes, vendor code 0x20, alt enum 0
set header: Windows 0x06030000, 178 bytes
configuration subset: configuration index 0, 168 bytes
function subset: first interface 0, 160 bytes
compatible ID 'WINUSB', sub-compatible ID ''
registry property DeviceInterfaceGUIDs (REG_MULTI_SZ) = {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}"
run 'pyusb composite without subsets' 'runtime_interfaces=2' /usr/bin/python3 "$reader"
same_text 'pyusb composite without subsets' "$work/pyusb composite without subsets.out" \
  "device c4e2:8351, bcdUSB 2.10
$found"

finished=1
