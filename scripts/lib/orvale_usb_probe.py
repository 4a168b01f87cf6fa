# One libusb session of scripts/check-device, run as its own process (under orvale-usb-device for
# the emulated device), with pyusb:
#   orvale_usb_probe.py list    prints, as JSON, every Orvale device on the bus as it reads it
#   orvale_usb_probe.py reset   USB-resets the first Orvale device in DFU mode; prints the outcome
import json
import os
import sys

import usb.core
import usb.util

sys.dont_write_bytecode = True  # leaves no __pycache__ in the source tree
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ms_os_20  # noqa: E402

VENDOR = 0xC4E2
PRODUCTS = (0x8351, 0x8352)
DFU_FUNCTIONAL_TYPE = 0x21


def orvale_devices():
    return list(usb.core.find(find_all=True, custom_match=lambda d: d.idVendor == VENDOR and
                              d.idProduct in PRODUCTS))


def dfu_interfaces(device):
    """The DFU interfaces (class FE, subclass 1) of the first configuration, from the descriptors
    the system cached: number, alternate settings and the functional descriptor's fields."""
    found = {}
    for interface in device[0]:
        if interface.bInterfaceClass != 0xFE or interface.bInterfaceSubClass != 1:
            continue
        entry = found.setdefault(interface.bInterfaceNumber, {
            "number": interface.bInterfaceNumber, "alts": [], "attributes": None,
            "detach_timeout": None})
        entry["alts"].append(interface.bAlternateSetting)
        extra = bytes(interface.extra_descriptors)
        while len(extra) >= 2 and extra[0] >= 2:
            if extra[1] == DFU_FUNCTIONAL_TYPE and extra[0] >= 5:
                entry["attributes"] = extra[2]
                entry["detach_timeout"] = extra[3] | extra[4] << 8
            extra = extra[extra[0]:]
    return list(found.values())


def interface_numbers(device):
    """The numbers of the first configuration's interfaces, each once, in order."""
    return sorted({interface.bInterfaceNumber for interface in device[0]})


def control_in(device, request_type, request, value, index, length):
    """(bytes, None) or (None, what went wrong)."""
    try:
        return bytes(device.ctrl_transfer(request_type, request, value, index, length)), None
    except usb.core.USBError as error:
        return None, str(error)


def read(device):
    info = {"product": device.idProduct, "bcdDevice": device.bcdDevice, "bcdUSB": device.bcdUSB,
            "bus": device.bus, "address": device.address, "dfu_interfaces": dfu_interfaces(device),
            "interfaces": interface_numbers(device),
            "serial": None, "open_error": None, "bos": None, "bos_error": None,
            "msos_set": None, "msos_error": None, "msos10": None}
    try:
        info["serial"] = (usb.util.get_string(device, device.iSerialNumber)
                          if device.iSerialNumber else "")
    except (usb.core.USBError, ValueError) as error:
        info["open_error"] = str(error)
        return info
    header, info["bos_error"] = control_in(device, 0x80, 6, ms_os_20.BOS_TYPE << 8, 0, 5)
    if header is not None and len(header) == 5:
        total = header[2] | header[3] << 8
        info["bos"], info["bos_error"] = control_in(device, 0x80, 6, ms_os_20.BOS_TYPE << 8, 0,
                                                    total)
    capability = ms_os_20.platform_capability(info["bos"] or b"")
    if capability is not None:
        info["msos_set"], info["msos_error"] = control_in(
            device, 0xC0, capability["vendor_code"], 0, ms_os_20.DESCRIPTOR_INDEX,
            capability["set_length"])
    for key in ("bos", "msos_set"):
        if info[key] is not None:
            info[key] = info[key].hex()
    info["msos10"] = read_ms_os_10(device)
    return info


def read_whole(device, request_type, request, index):
    """A descriptor that starts with its 32-bit length: its header first, then all of it."""
    header, error = control_in(device, request_type, request, 0, index, 10)
    if header is None or len(header) < 4:
        return None, error or "short reply"
    whole, error = control_in(device, request_type, request, 0, index,
                              min(int.from_bytes(header[:4], "little"), 4096))
    return whole, error


def read_ms_os_10(device):
    """The MS OS 1.0 descriptors as Windows fetches them, as hex texts, or None when the device
    has no MS OS string descriptor (index 0xEE, "MSFT100")."""
    string, _ = control_in(device, 0x80, 6, 0x0300 | ms_os_20.OS_STRING_INDEX, 0, 18)
    vendor_code = ms_os_20.os_string_vendor_code(string or b"")
    if vendor_code is None:
        return None
    found = {"vendor_code": vendor_code}
    # The extended properties go to interface 0, as Windows sends them.
    for key, request_type, index in (("compat", 0xC0, 4), ("properties", 0xC1, 5)):
        data, error = read_whole(device, request_type, vendor_code, index)
        found[key] = data.hex() if data is not None else None
        found[key + "_error"] = error
    return found


def reset():
    """Resets the first Orvale device in DFU mode; a device that re-enumerates at once may be gone
    before libusb can say so, which counts as done."""
    for device in orvale_devices():
        if device.idProduct == PRODUCTS[1]:
            try:
                device.reset()
            except usb.core.USBError as error:
                # LIBUSB_ERROR_NO_DEVICE, LIBUSB_ERROR_NOT_FOUND: gone to re-enumerate
                if error.backend_error_code not in (-4, -5):
                    return {"reset": False, "error": str(error)}
            return {"reset": True, "error": None}
    return {"reset": False, "error": "no Orvale device in DFU mode"}


def main():
    if sys.argv[1:] == ["list"]:
        print(json.dumps([read(device) for device in orvale_devices()]))
    elif sys.argv[1:] == ["reset"]:
        print(json.dumps(reset()))
    else:
        print("usage: orvale_usb_probe.py list|reset", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
