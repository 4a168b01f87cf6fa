# Microsoft OS 2.0 descriptors as Windows reads them to bind WinUSB by itself: the platform
# capability in the BOS descriptor, and the descriptor set it points to. Plain parsing, no USB.
import struct

# The MS OS 2.0 platform capability's UUID {D8DD60DF-4589-4CC7-9CD2-659D9E648A9F}, as on the wire.
PLATFORM_UUID = bytes.fromhex("DF60DDD88945C74C9CD2659D9E648A9F")
# Windows 8.1: the oldest version that reads MS OS 2.0 descriptors.
MIN_WINDOWS_VERSION = 0x06030000
# The set is fetched with wIndex MS_OS_20_DESCRIPTOR_INDEX.
DESCRIPTOR_INDEX = 7
REG_MULTI_SZ = 7

# The MS OS 1.0 string descriptor's index and signature.
OS_STRING_INDEX = 0xEE
OS_STRING_SIGNATURE = "MSFT100".encode("utf-16-le")

BOS_TYPE = 0x0F
DEVICE_CAPABILITY_TYPE = 0x10
PLATFORM_CAPABILITY = 0x05

SET_HEADER = 0
CONFIGURATION_SUBSET = 1
FUNCTION_SUBSET = 2
COMPATIBLE_ID = 3
REGISTRY_PROPERTY = 4


def platform_capability(bos):
    """The MS OS 2.0 platform capability of a BOS descriptor as a dict, or None."""
    offset = 5 if len(bos) >= 5 and bos[1] == BOS_TYPE else len(bos)
    while offset + 3 <= len(bos):
        length, kind, capability = bos[offset], bos[offset + 1], bos[offset + 2]
        if length < 3:
            break
        body = bos[offset:offset + length]
        if (kind == DEVICE_CAPABILITY_TYPE and capability == PLATFORM_CAPABILITY and
                len(body) >= 28 and body[4:20] == PLATFORM_UUID):
            windows, total, vendor, alt = struct.unpack_from("<IHBB", body, 20)
            return {"windows_version": windows, "set_length": total, "vendor_code": vendor,
                    "alt_enum_code": alt}
        offset += length
    return None


def _utf16(data):
    return data.decode("utf-16-le", errors="replace")


def parse_set(data):
    """The features of a descriptor set: {"header": (windows, total) or None, "compatible_ids":
    [...], "properties": [(data type, name, data bytes)], "errors": [...], "winusb_scopes": [...],
    "function_subsets": [...]}. winusb_scopes holds, for each compatible ID WINUSB, the first
    interface of the function subset it stands in, or None when it is for the whole device;
    function_subsets the first interface of each function subset."""
    found = {"header": None, "compatible_ids": [], "properties": [], "errors": [],
             "winusb_scopes": [], "function_subsets": []}
    function, function_end = None, 0
    offset = 0
    while offset + 4 <= len(data):
        length, kind = struct.unpack_from("<HH", data, offset)
        if length < 4 or offset + length > len(data):
            found["errors"].append(f"a descriptor at byte {offset} has a bad wLength {length}")
            return found
        body = data[offset:offset + length]
        if function is not None and offset >= function_end:
            function = None
        if kind == FUNCTION_SUBSET and length >= 8:
            function = body[4]
            function_end = offset + struct.unpack_from("<H", body, 6)[0]
            found["function_subsets"].append(function)
        elif kind == SET_HEADER and offset == 0 and length >= 10:
            found["header"] = struct.unpack_from("<IH", body, 4)
        elif kind == COMPATIBLE_ID and length >= 20:
            found["compatible_ids"].append(body[4:12].rstrip(b"\0").decode("ascii", "replace"))
            if found["compatible_ids"][-1] == "WINUSB":
                found["winusb_scopes"].append(function)
        elif kind == REGISTRY_PROPERTY and length >= 10:
            data_type, name_length = struct.unpack_from("<HH", body, 4)
            name = body[8:8 + name_length]
            (value_length,) = struct.unpack_from("<H", body, 8 + name_length)
            value = body[10 + name_length:10 + name_length + value_length]
            found["properties"].append((data_type, _utf16(name).rstrip("\0"), value))
        offset += length
    if offset != len(data):
        found["errors"].append(f"{len(data) - offset} bytes left over after the last descriptor")
    return found


def problems(bcd_usb, bos, bos_error, msos_set, msos_error, interface_guid):
    """What keeps Windows from binding WinUSB by itself with interface_guid, as sentences; empty
    when nothing does."""
    if bcd_usb < 0x0201:
        return [f"bcdUSB is {bcd_usb:04x}: Windows asks for a BOS descriptor only from 0201 on"]
    if bos is None:
        return [f"no BOS descriptor ({bos_error})"]
    capability = platform_capability(bos)
    if capability is None:
        return ["the BOS descriptor has no MS OS 2.0 platform capability"]
    found = []
    if capability["windows_version"] < MIN_WINDOWS_VERSION:
        found.append(f"dwWindowsVersion {capability['windows_version']:08x} is below 06030000")
    if msos_set is None:
        return found + [f"vendor request {capability['vendor_code']:#04x} (wIndex 7) for the "
                        f"descriptor set failed ({msos_error})"]
    if len(msos_set) != capability["set_length"]:
        found.append(f"the descriptor set has {len(msos_set)} bytes, the capability says "
                     f"{capability['set_length']}")
    parsed = parse_set(msos_set)
    found += parsed["errors"]
    if parsed["header"] is None:
        found.append("the descriptor set does not start with a set header")
    elif parsed["header"][1] != len(msos_set):
        found.append(f"the set header's wTotalLength is {parsed['header'][1]}, the set has "
                     f"{len(msos_set)} bytes")
    if "WINUSB" not in parsed["compatible_ids"]:
        found.append(f"no compatible ID WINUSB (found {parsed['compatible_ids'] or 'none'})")
    guids = [p for p in parsed["properties"] if p[1] == "DeviceInterfaceGUIDs"]
    if not guids:
        found.append("no registry property DeviceInterfaceGUIDs")
    elif guids[0][0] != REG_MULTI_SZ:
        found.append(f"DeviceInterfaceGUIDs has data type {guids[0][0]}, not 7 (REG_MULTI_SZ)")
    elif _utf16(guids[0][2]).upper() != (interface_guid + "\0\0").upper():
        found.append(f"DeviceInterfaceGUIDs is {_utf16(guids[0][2])!r}, not {interface_guid}")
    return found


def composite_problems(interfaces, dfu_interface, msos_set):
    """What, in a device with the interface numbers `interfaces`, keeps Windows from binding WinUSB
    to the DFU interface alone while the composite driver keeps the others; empty when nothing
    does. Windows reads a set without subsets as the whole device's."""
    parsed = parse_set(msos_set or b"")
    if len(interfaces) == 1:
        if parsed["function_subsets"]:
            return ["a function subset in a device of one interface, where Windows takes only a "
                    "set for the whole device"]
        return []
    others = ", ".join(str(n) for n in interfaces if n != dfu_interface)
    if msos_set is None:
        return [f"{len(interfaces)} interfaces and no MS OS 2.0 set: the driver package, which "
                "names the whole device, would take interface " + others + " from its driver"]
    if None in parsed["winusb_scopes"]:
        return [f"{len(interfaces)} interfaces, and the MS OS 2.0 set names WINUSB for the whole "
                "device: WinUSB would replace the composite driver and interface " + others +
                " would lose its driver"]
    if dfu_interface not in parsed["winusb_scopes"]:
        return [f"{len(interfaces)} interfaces, and no function subset for the DFU interface "
                f"{dfu_interface} names WINUSB"]
    return []


def os_string_vendor_code(string):
    """The vendor code of an MS OS 1.0 string descriptor, or None when it is not one."""
    if len(string) >= 18 and string[0] >= 18 and string[1] == 3 and \
            string[2:16] == OS_STRING_SIGNATURE:
        return string[16]
    return None


def problems_10(compat, compat_error, properties, properties_error, interface_guid):
    """What keeps Windows from binding WinUSB with interface_guid through MS OS 1.0 descriptors
    (the extended compat ID and the extended properties of interface 0), as sentences."""
    found = []
    if compat is None:
        found.append(f"the extended compat ID request (wIndex 4) failed ({compat_error})")
    else:
        functions = [compat[at:at + 24] for at in range(16, len(compat) - 23, 24)]
        ids = [(f[0], f[2:10].rstrip(b"\0").decode("ascii", "replace")) for f in functions]
        if (0, "WINUSB") not in ids:
            found.append(f"the extended compat ID names no WINUSB for interface 0 (found {ids})")
    if properties is None:
        return found + [f"the extended properties request (wIndex 5) failed ({properties_error})"]
    offset, guids = 10, None
    while offset + 14 <= len(properties):
        size, data_type, name_length = struct.unpack_from("<IIH", properties, offset)
        if size < 14:
            break
        name = _utf16(properties[offset + 10:offset + 10 + name_length]).rstrip("\0")
        (value_length,) = struct.unpack_from("<I", properties, offset + 10 + name_length)
        value = properties[offset + 14 + name_length:offset + 14 + name_length + value_length]
        if name == "DeviceInterfaceGUIDs":
            guids = (data_type, value)
        offset += size
    if guids is None:
        found.append("the extended properties have no DeviceInterfaceGUIDs")
    elif guids[0] != REG_MULTI_SZ:
        found.append(f"DeviceInterfaceGUIDs has data type {guids[0]}, not 7 (REG_MULTI_SZ)")
    elif _utf16(guids[1]).upper() != (interface_guid + "\0\0").upper():
        found.append(f"DeviceInterfaceGUIDs is {_utf16(guids[1])!r}, not {interface_guid}")
    return found
