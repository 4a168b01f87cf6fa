# The libusb sessions of scripts/check-device, each a process of its own: the probe
# (orvale_usb_probe.py) and Debian's dfu-util with no_usb_reset.c preloaded. On real hardware they
# run as they are and a wait polls for seconds; with --emulated each runs under orvale-usb-device,
# whose device changes mode only between runs, so a wait is a number of runs.
import json
import os
import shutil
import subprocess
import sys
import time

RUNTIME, DFU = 0x8351, 0x8352
LIB = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(LIB))
DEVICE_IDS = "c4e2:8351,c4e2:8352"
EMULATION_FAILED = 125  # orvale-usb-device's own failure
EMULATED_LOOKS = 10
REAL_WAIT_SECONDS, REAL_POLL_SECONDS = 20.0, 0.5


class Unusable(Exception):
    """The check cannot run: what is missing and how to get it."""


def package_version(path):
    """bcdDevice of a package's DFU suffix."""
    try:
        with open(path, "rb") as package:
            data = package.read()
    except OSError as error:
        raise Unusable(f"cannot read the package: {error}")
    if len(data) < 16 or data[-8:-5] != b"UFD":
        raise Unusable(f"{path} has no DFU suffix; add one with "
                       "dfu-suffix -a FILE -v c4e2 -p 8351 -d 0xVVVV")
    return data[-16] | data[-15] << 8


def listed_value(line, key):
    """The value of `key` ("cfg=", say) in a dfu-util listing line as the service reads it: from
    the key's first occurrence to the next comma or the line's end, trimmed; None without the
    key. The serial number also loses every double quote."""
    start = line.find(key)
    if start < 0:
        return None
    value = line[start + len(key):].split(",", 1)[0]
    return (value.replace('"', "") if key == "serial=" else value).strip()


def runtime_line(output):
    """The first line of a listing that names the device in runtime mode, or None."""
    return next((line for line in output.splitlines() if "[c4e2:8351]" in line), None)


class Outcome:
    """A dfu-util run: its exit status, its output, and whether it asked for a USB reset."""

    def __init__(self, completed):
        self.returncode = completed.returncode
        self.output = completed.stdout + completed.stderr
        self.asked_for_reset = "no_usb_reset: libusb_reset_device skipped" in completed.stderr

    def last_line(self):
        lines = [line for line in self.output.splitlines()
                 if line.strip() and not line.startswith("no_usb_reset:")]
        return f"exit status {self.returncode}: {lines[-1] if lines else 'no output'}"


class Sessions:
    """Runs the sessions on this PC's bus, or on the emulated device's when given its state."""

    def __init__(self, state_file, scratch):
        self.prefix = []
        if state_file is not None:
            emulator = os.environ.get("ORVALE_USB_DEVICE") or os.path.join(
                ROOT, "build/host/tools/orvale_usb_device/orvale-usb-device")
            if not os.access(emulator, os.X_OK):
                raise Unusable(f"no emulated device at {emulator}: build it with 'cmake --preset "
                               "host && cmake --build --preset host --target orvale_usb_device', "
                               "or name it in ORVALE_USB_DEVICE")
            if not os.path.exists(state_file):
                open(state_file, "w").close()  # the default device
            self.prefix = [emulator, "--state", state_file, "--"]
        if shutil.which("dfu-util") is None:
            raise Unusable("no dfu-util: install Debian's (apt-get install dfu-util)")
        self.shim = os.path.join(scratch, "no_usb_reset.so")
        built = subprocess.run(["cc", "-shared", "-fPIC", "-o", self.shim,
                                os.path.join(LIB, "no_usb_reset.c")], capture_output=True,
                               text=True) if shutil.which("cc") else None
        if built is None or built.returncode != 0:
            raise Unusable("cannot build the USB reset shim (needs a C compiler: apt-get install "
                           "gcc)" + (f": {built.stderr.strip()}" if built else ""))

    def _run(self, argv, env=None):
        completed = subprocess.run(self.prefix + argv, capture_output=True, text=True, env=env)
        if self.prefix and completed.returncode == EMULATION_FAILED:
            raise Unusable(f"the emulated device failed: {completed.stderr.strip()}")
        return completed

    def _probe(self, command):
        completed = self._run([sys.executable, os.path.join(LIB, "orvale_usb_probe.py"), command])
        if completed.returncode != 0:
            raise Unusable(f"the USB probe failed: {completed.stderr.strip()}")
        return json.loads(completed.stdout)

    def devices(self):
        return self._probe("list")

    def reset(self):
        return self._probe("reset")

    def wait_for(self, product, serial=None):
        """The Orvale device once it shows up as product and opens (the one with serial first, if
        several do), or None when it has not within the wait. One that shows up but never opens
        (a new device node before udev gives it its permissions, say) ends the check."""
        deadline = time.monotonic() + REAL_WAIT_SECONDS
        looks, unopenable = 0, None
        while True:
            matches = [d for d in self.devices() if d["product"] == product]
            opened = [d for d in matches if not d["open_error"]]
            if opened:
                return next((d for d in opened if d["serial"] == serial), opened[0])
            unopenable = matches[0]["open_error"] if matches else unopenable
            looks += 1
            if (looks >= EMULATED_LOOKS) if self.prefix else (time.monotonic() >= deadline):
                break
            if not self.prefix:
                time.sleep(REAL_POLL_SECONDS)
        if unopenable:
            raise Unusable(f"the device showed up as c4e2:{product:04x} but cannot be opened "
                           f"({unopenable}): run as root, or give your user access to it (a udev "
                           "rule); unplug and replug it to bring it back to runtime mode")
        return None

    def listing_command(self):
        return ["dfu-util", "-l"]

    def detach_command(self, serial, configuration):
        return ["dfu-util", "-d", DEVICE_IDS, "-S", serial, "-c", configuration, "-e"]

    def download_command(self, serial, package):
        return ["dfu-util", "-d", DEVICE_IDS, "-S", serial, "-D", package]

    def _dfu_util(self, argv):
        # Preloaded into orvale-usb-device as well, which keeps it for the program it runs (after
        # umockdev's own) and never calls libusb itself.
        env = dict(os.environ)
        env["LD_PRELOAD"] = ":".join(filter(None, [env.get("LD_PRELOAD"), self.shim]))
        return Outcome(self._run(argv, env))

    def listing(self):
        return self._dfu_util(self.listing_command())

    def detach(self, serial, configuration):
        return self._dfu_util(self.detach_command(serial, configuration))

    def download(self, serial, package):
        return self._dfu_util(self.download_command(serial, package))
