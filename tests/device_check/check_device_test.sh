#!/usr/bin/env bash
# scripts/check-device against the emulated Orvale device: a device that works on Windows passes
# every rule, each misbehaviour fails its own rule and no other, and the device ends where the
# output says; no device and bad usage end with status 2. Then the MS OS 2.0 descriptor checks on
# sets that are wrong in one way each.
#   check_device_test.sh ORVALE_USB_DEVICE REPO_ROOT RESULTS_DIR
# Writes a JUnit report RESULTS_DIR/e2e_device-check.xml.
set -uo pipefail

export ORVALE_USB_DEVICE=$1
root=$2 results=$3
check_device=$root/scripts/check-device
work=$(mktemp -d "${TMPDIR:-/tmp}/device-check.XXXXXX")

source "$(dirname "$0")/../e2e/checks.sh"  # pass, fail, check and their report
trap 'report_checks "$results" device-check "$work" && rm -rf "$work"; exit $?' EXIT

# A package at 0102: an image that carries its version in its first two bytes, and a DFU suffix.
printf '\x02\x01' >"$work/orvale-0102.dfu"
head -c 1022 /dev/zero | tr '\0' 'f' >>"$work/orvale-0102.dfu"
cp "$work/orvale-0102.dfu" "$work/image"
dfu-suffix -a "$work/orvale-0102.dfu" -v c4e2 -p 8351 -d 0x0102 >/dev/null
check "the package has a DFU suffix" test "$(stat -c %s "$work/orvale-0102.dfu")" = 1040

# run NAME PACKAGE KEY=VALUE...: check-device on a device in that state, with the package or
# "-"; leaves the output in $work/NAME.out, the exit status in $work/NAME.status.
run() {
  local name=$1 package=$2
  shift 2
  printf '%s\n' "$@" >"$work/$name.state"
  local args=(--emulated "$work/$name.state")
  [[ $package == - ]] || args+=(--package "$package")
  "$check_device" "${args[@]}" >"$work/$name.out" 2>&1
  echo $? >"$work/$name.status"
}
# The verdicts of rules 1 to 7, in order, e.g. "PASS SKIP PASS PASS PASS PASS PASS".
verdicts() {
  awk '$1 ~ /^(PASS|FAIL|SKIP)$/ && $2 ~ /^[1-7]$/ { v[$2] = $1 }
    END { print v[1], v[2], v[3], v[4], v[5], v[6], v[7] }' "$work/$1.out"
}
state_of() { sed -n "s/^$2=//p" "$work/$1.state"; }
says() { grep -qF -- "$2" "$work/$1.out" || { echo "  $1 said:"; sed 's/^/    /' "$work/$1.out"; false; }; }

pkg=$work/orvale-0102.dfu
# name | package | state | exit status | verdicts of rules 1-7 | mode and version at the end
while IFS='|' read -r name package state status expected end; do
  read -r -a keys <<<"$state"
  run "$name" "$package" "${keys[@]}"
  check "$name: exit status $status" test "$(cat "$work/$name.status")" = "$status"
  check "$name: $expected" test "$(verdicts "$name")" = "$expected"
  check "$name: ends in $end" test "$(state_of "$name" mode) $(state_of "$name" version)" = "$end"
done <<TABLE
works|-|mode=runtime|0|PASS SKIP PASS PASS PASS PASS PASS|runtime 0100
works-upgraded|$pkg|mode=runtime|0|PASS PASS PASS PASS PASS PASS PASS|runtime 0102
found-in-dfu|$pkg|mode=dfu|0|SKIP PASS PASS PASS PASS PASS PASS|runtime 0102
slow-to-return|-|absent_after_detach=3|0|PASS SKIP PASS PASS PASS PASS PASS|runtime 0100
detach-on-reset|$pkg|detach=reset|1|FAIL SKIP SKIP PASS SKIP SKIP PASS|runtime 0100
waits-for-reset|$pkg|manifest=wait-reset|1|PASS FAIL PASS PASS PASS PASS PASS|dfu 0100
no-ms-os|-|ms_os_descriptors=0|1|PASS SKIP FAIL PASS PASS PASS PASS|runtime 0100
ms-os-1.0|$pkg|ms_os_descriptors=1.0|0|PASS PASS PASS PASS PASS PASS PASS|runtime 0102
other-serial|$pkg|dfu_serial=B0000|0|PASS PASS PASS PASS PASS PASS PASS|runtime 0102
comma-serial|-|serial=A7,X2249|1|FAIL SKIP SKIP FAIL SKIP SKIP PASS|runtime 0100
alternates|-|alt_settings=3|1|PASS SKIP PASS PASS FAIL PASS PASS|runtime 0100
own-dfu-version|-|dfu_version=0200|1|PASS SKIP PASS PASS PASS FAIL PASS|runtime 0100
own-dfu-version-pkg|$pkg|dfu_version=0101|1|PASS SKIP PASS PASS PASS FAIL PASS|runtime 0100
held-none|$pkg|dfu_version=0000|0|PASS PASS PASS PASS PASS PASS PASS|runtime 0102
composite|-|runtime_interfaces=2|1|PASS SKIP PASS PASS PASS PASS FAIL|runtime 0100
subsets|$pkg|runtime_interfaces=2 ms_os_subsets=1|0|PASS PASS PASS PASS PASS PASS PASS|runtime 0102
one-interface-subsets|-|ms_os_subsets=1|1|PASS SKIP PASS PASS PASS PASS FAIL|runtime 0100
other-configuration|-|configuration=2|0|PASS SKIP PASS PASS PASS PASS PASS|runtime 0100
TABLE

check "works: says it found a runtime device" says works "Found the Orvale device in runtime mode"
check "works: says the reset brought it back" says works "a USB reset brought it back to runtime"
check "works-upgraded: the device got the image" cmp "$work/image" "$work/works-upgraded.state.firmware"
check "found-in-dfu: says it found a DFU-mode device" says found-in-dfu \
  "Found the Orvale device in DFU mode"
check "detach-on-reset: dfu-util's reset was skipped" says detach-on-reset \
  "dfu-util asked for a USB reset, which WinUSB does not make"
check "waits-for-reset: the last line says it is left in DFU mode" \
  grep -q "left in DFU mode" <(tail -n 1 "$work/waits-for-reset.out")
check "no-ms-os: the fix names the INF way too" says no-ms-os "or install an INF"
check "ms-os-1.0: says which descriptors bind WinUSB" says ms-os-1.0 \
  "PASS 3 WinUSB binding: MS OS 1.0 descriptors bind WinUSB"
check "other-configuration: detaches with the listing's configuration" says other-configuration \
  "-S A7X2249 -c 2 -e"
check "other-serial: downloads naming the serial DFU mode lists" says other-serial \
  "in DFU mode: each run names the device by the serial number it lists"
check "own-dfu-version-pkg: says the service downloads nothing" says \
  own-dfu-version-pkg "not downloaded: the service would download nothing (rule 6)"

run absent - absent_runs=99
check "no device: exit status 2" test "$(cat "$work/absent.status")" = 2
check "no device: says so" says absent "No Orvale device"
"$check_device" --emulated "$work/usage.state" --bogus >"$work/usage.out" 2>&1
check "an unknown option: exit status 2" test $? = 2
check "an unknown option: a usage line" says usage "usage: check-device"
"$check_device" --package "$work/image" --emulated "$work/usage.state" >"$work/suffix.out" 2>&1
check "a package without a DFU suffix: exit status 2" test $? = 2
check "a package without a DFU suffix: a usage line" says suffix "usage: check-device"
ORVALE_USB_DEVICE=$work/missing "$check_device" --emulated "$work/usage.state" \
  >"$work/no-emulator.out" 2>&1
check "no orvale-usb-device: exit status 2" test $? = 2
check "no orvale-usb-device: says how to build it" says no-emulator "--target orvale_usb_device"

# The MS OS 2.0 checks, one fault per set: each must be named, and the good set must pass, as
# must the bytes docs/device-makers.md gives (its first four text blocks: BOS and set, then the
# composite device's BOS and set, which must also keep the second interface's driver).
/usr/bin/python3 -B - "$root/scripts/lib" "$root/docs/device-makers.md" >"$work/ms-os.out" 2>&1 <<'PYTHON'
import re, struct, sys
sys.path.insert(0, sys.argv[1])
import ms_os_20

GUID = "{5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}"

def make_set(compatible=b"WINUSB", data_type=7, value=GUID + "\0\0", total=None):
    name = "DeviceInterfaceGUIDs\0".encode("utf-16-le")
    data = value.encode("utf-16-le")
    prop = struct.pack("<HHHH", 10 + len(name) + len(data), 4, data_type, len(name)) + name
    prop += struct.pack("<H", len(data)) + data
    compat = struct.pack("<HH", 20, 3) + compatible.ljust(8, b"\0") + bytes(8)
    size = 10 + len(compat) + len(prop)
    return struct.pack("<HHIH", 10, 0, 0x06030000, total or size) + compat + prop

def make_bos(set_length=162, windows=0x06030000, uuid=ms_os_20.PLATFORM_UUID):
    cap = struct.pack("<BBBB", 28, 0x10, 5, 0) + uuid + struct.pack("<IHBB", windows, set_length, 0x20, 0)
    return struct.pack("<BBHB", 5, 0x0F, 5 + len(cap), 1) + cap

def page_blocks():
    section = open(sys.argv[2]).read().split("# Firmware that works on Windows\n")[1]
    blocks = re.findall(r"```text\n(.*?)```", section, re.S)
    return [bytes.fromhex("".join(re.match(r"(?:[0-9A-F]{2}(?: |$))*", line).group(0)
                                  for line in block.splitlines())) for block in blocks[:4]]

good = make_set()
page_bos, page_set, composite_bos, composite_set = page_blocks()
cases = [  # name, bcdUSB, BOS, set, a piece of the one problem expected ("" for none)
    ("the page's bytes", 0x0210, page_bos, page_set, ""),
    ("the page's composite bytes", 0x0210, composite_bos, composite_set, ""),
    ("a good set", 0x0210, make_bos(), good, ""),
    ("a lower-case GUID", 0x0210, make_bos(), make_set(value=GUID.lower() + "\0\0"), ""),
    ("USB 2.00", 0x0200, make_bos(), good, "bcdUSB is 0200"),
    ("no BOS", 0x0210, None, None, "no BOS descriptor"),
    ("another platform UUID", 0x0210, make_bos(uuid=bytes(16)), None, "no MS OS 2.0 platform"),
    ("Windows 8", 0x0210, make_bos(windows=0x06020000), good, "dwWindowsVersion 06020000"),
    ("a stalled vendor request", 0x0210, make_bos(), None, "vendor request 0x20"),
    ("a set shorter than said", 0x0210, make_bos(set_length=170), good, "the capability says 170"),
    ("a header's wrong total", 0x0210, make_bos(), make_set(total=100), "wTotalLength is 100"),
    ("no WINUSB", 0x0210, make_bos(), make_set(compatible=b"WINUSC"), "no compatible ID WINUSB"),
    ("REG_SZ", 0x0210, make_bos(), make_set(data_type=1), "data type 1"),
    ("another GUID", 0x0210, make_bos(), make_set(value=GUID.replace("5E", "5F") + "\0\0"),
     "DeviceInterfaceGUIDs is"),
    ("one NUL at the end", 0x0210, make_bos(160), make_set(value=GUID + "\0"),
     "DeviceInterfaceGUIDs is"),
]
for name, bcd_usb, bos, msos_set, expected in cases:
    found = ms_os_20.problems(bcd_usb, bos, "stall", msos_set, "stall", GUID)
    right = found == [] if not expected else len(found) == 1 and expected in found[0]
    print(f"{'ok' if right else 'FAILED'}\t{name}\t{found}")
for name, msos_set, expected in [  # interface 0 the DFU interface, interface 1 another function
        ("the page's composite set, two interfaces", composite_set, ""),
        ("the page's plain set, two interfaces", page_set, "WINUSB for the whole device")]:
    found = ms_os_20.composite_problems([0, 1], 0, msos_set)
    right = found == [] if not expected else len(found) == 1 and expected in found[0]
    print(f"{'ok' if right else 'FAILED'}\t{name}\t{found}")
PYTHON
check "the MS OS 2.0 checks ran to the end" test $? = 0
check "the MS OS 2.0 checks: 17 cases" test "$(grep -c $'^\(ok\|FAILED\)\t' "$work/ms-os.out")" = 17
while IFS=$'\t' read -r verdict name found; do
  check "MS OS 2.0: $name ($found)" test "$verdict" = ok
done < <(grep $'^\(ok\|FAILED\)\t' "$work/ms-os.out")
finished=1
