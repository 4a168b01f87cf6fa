# Reads the Orvale device's Microsoft OS 2.0 descriptors with pyusb over libusb, the requests
# Windows sends: the BOS, the vendor code from its platform capability, then the vendor request
# with wIndex 7 for the descriptor set. Prints one line per finding for the caller to compare;
# exits 1 when a length or a structure does not add up, 2 when no Orvale device is found.
#   /usr/bin/python3 ms_os_descriptors_reader.py
import errno
import struct
import sys
import uuid

import usb.core

MS_OS_20_PLATFORM = uuid.UUID("D8DD60DF-4589-4CC7-9CD2-659D9E648A9F")
REG_MULTI_SZ = 7


def fail(problem):
    print("malformed: " + problem)
    sys.exit(1)


def control_in(device, request_type, request, value, index, length):
    """The reply's bytes, or None when the device stalls the request."""
    try:
        return bytes(device.ctrl_transfer(request_type, request, value, index, length))
    except usb.core.USBError as error:
        if error.errno == errno.EPIPE:
            return None
        raise


def read_bos(device):
    """The whole BOS, or None when the device stalls the request."""
    header = control_in(device, 0x80, 6, 0x0F00, 0, 5)
    if header is None:
        return None
    length, kind, total, count = struct.unpack("<BBHB", header)
    if (length, kind) != (5, 0x0F):
        fail("BOS header %s" % header.hex())
    bos = control_in(device, 0x80, 6, 0x0F00, 0, total)
    if bos is None or len(bos) != total:
        fail("BOS of %d bytes announced, %s read" % (total, len(bos) if bos else "none"))
    print("BOS: %d bytes, %d capabilities" % (total, count))
    return bos


def platform_capability(bos):
    """The MS OS 2.0 platform capability's data: (Windows version, set length, vendor code, alt)."""
    offset = 5
    while offset < len(bos):
        length, kind, capability = bos[offset], bos[offset + 1], bos[offset + 2]
        if length < 3 or offset + length > len(bos):
            fail("capability of %d bytes at %d" % (length, offset))
        if kind == 0x10 and capability == 5:
            platform = uuid.UUID(bytes_le=bos[offset + 4:offset + 20])
            print("platform capability %s, %d bytes" % (str(platform).upper(), length))
            if platform == MS_OS_20_PLATFORM:
                if length != 28:
                    fail("MS OS 2.0 platform capability of %d bytes" % length)
                return struct.unpack("<IHBB", bos[offset + 20:offset + 28])
        offset += length
    return None


def utf16(data):
    return data.decode("utf-16-le")


def print_set(descriptor_set):
    length, kind, windows, total = struct.unpack("<HHIH", descriptor_set[:10])
    if (length, kind) != (10, 0) or total != len(descriptor_set):
        fail("set header %s for %d bytes" % (descriptor_set[:10].hex(), len(descriptor_set)))
    print("set header: Windows 0x%08X, %d bytes" % (windows, total))
    offset = 10
    while offset < total:
        length, kind = struct.unpack("<HH", descriptor_set[offset:offset + 4])
        if length < 4 or offset + length > total:
            fail("descriptor of %d bytes at %d" % (length, offset))
        body = descriptor_set[offset + 4:offset + length]
        if kind == 3 and length == 20:
            print("compatible ID %r, sub-compatible ID %r" %
                  (body[:8].rstrip(b"\0").decode(), body[8:16].rstrip(b"\0").decode()))
        elif kind == 4:
            data_type, name_length = struct.unpack("<HH", body[:4])
            name = body[4:4 + name_length]
            (data_length,) = struct.unpack("<H", body[4 + name_length:6 + name_length])
            data = body[6 + name_length:]
            if len(data) != data_length or not utf16(name).endswith("\0"):
                fail("registry property of %d bytes: name %d, data %d of %d" %
                     (length, name_length, len(data), data_length))
            if data_type != REG_MULTI_SZ or not utf16(data).endswith("\0\0"):
                fail("registry property type %d, data %r" % (data_type, utf16(data)))
            strings = utf16(data)[:-2].split("\0")
            print("registry property %s (REG_MULTI_SZ) = %s" %
                  (utf16(name)[:-1], " | ".join(strings)))
        elif kind in (1, 2) and length == 8:
            # A subset header holds the descriptors after it, up to its own total length.
            first, _, subset_length = struct.unpack("<BBH", body)
            if subset_length < 8 or offset + subset_length > total:
                fail("subset of %d bytes at %d" % (subset_length, offset))
            print("%s subset: %s %d, %d bytes" % (
                ("configuration", "configuration index", first, subset_length) if kind == 1 else
                ("function", "first interface", first, subset_length)))
        else:
            print("descriptor type %d of %d bytes" % (kind, length))
        offset += length


def main():
    device = usb.core.find(idVendor=0xC4E2)
    if device is None:
        print("no Orvale device")
        return 2
    print("device %04x:%04x, bcdUSB %x.%02x" %
          (device.idVendor, device.idProduct, device.bcdUSB >> 8, device.bcdUSB & 0xFF))
    bos = read_bos(device)
    if bos is None:
        print("BOS: stalled")
        # Without a BOS there is no vendor code to ask with: ask as the device would have it.
        vendor_code, set_length = 0x20, 255
    else:
        capability = platform_capability(bos)
        if capability is None:
            print("no MS OS 2.0 platform capability")
            return 0
        windows, set_length, vendor_code, alt_enum = capability
        print("MS OS 2.0: Windows 0x%08X, set of %d bytes, vendor code 0x%02X, alt enum %d" %
              (windows, set_length, vendor_code, alt_enum))
    # Asked for as many bytes as the capability says, as Windows asks: the set header's own total
    # length must then agree with what came.
    descriptor_set = control_in(device, 0xC0, vendor_code, 0, 7, set_length)
    if descriptor_set is None:
        print("vendor request 0x%02X, wIndex 7: stalled" % vendor_code)
        return 0
    print_set(descriptor_set)
    return 0


if __name__ == "__main__":
    sys.exit(main())
