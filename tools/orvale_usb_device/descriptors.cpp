// The emulated device's USB descriptors, byte by byte as USB 2.0 and DFU 1.1 lay them out.
#include "tools/orvale_usb_device/descriptors.h"

namespace qwus::usbdevice {
namespace {

constexpr std::uint8_t kDeviceType = 1;
constexpr std::uint8_t kConfigurationType = 2;
constexpr std::uint8_t kStringType = 3;
constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kDfuFunctionalType = 0x21;

constexpr std::uint8_t kCanDownload = 0x01;
constexpr std::uint8_t kWillDetach = 0x08;

void put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

}  // namespace

Bytes deviceDescriptor(const UsbIdentity& id) {
  Bytes d = {18, kDeviceType};
  put16(d, 0x0200);                  // USB 2.0
  d.insert(d.end(), {0, 0, 0, 64});  // class from the interface, control endpoint of 64 bytes
  put16(d, id.vendor);
  put16(d, id.product);
  put16(d, id.bcdDevice);
  d.insert(d.end(), {kManufacturerString, kProductString, kSerialString, 1});
  return d;
}

Bytes dfuFunctionalDescriptor(const UsbIdentity& id) {
  Bytes d = {9, kDfuFunctionalType,
             static_cast<std::uint8_t>(kCanDownload | (id.willDetach ? kWillDetach : 0))};
  put16(d, 1000);  // wDetachTimeOut in milliseconds
  put16(d, id.transferSize);
  put16(d, 0x0110);  // DFU 1.1
  return d;
}

Bytes configurationDescriptor(const UsbIdentity& id) {
  Bytes body;
  for (int alt = 0; alt < id.altSettings; ++alt) {
    body.insert(body.end(), {9, kInterfaceType, 0, static_cast<std::uint8_t>(alt), 0, 0xFE, 0x01,
                             static_cast<std::uint8_t>(id.dfuMode ? 2 : 1),
                             static_cast<std::uint8_t>(kFirstInterfaceString + alt)});
  }
  // One functional descriptor follows the interface descriptors.
  const Bytes functional = dfuFunctionalDescriptor(id);
  body.insert(body.end(), functional.begin(), functional.end());

  Bytes d = {9, kConfigurationType};
  put16(d, static_cast<std::uint16_t>(9 + body.size()));
  d.insert(d.end(), {1, 1, 0, 0x80, 50});  // one interface, configuration 1, bus powered, 100 mA
  d.insert(d.end(), body.begin(), body.end());
  return d;
}

Bytes stringDescriptor(const UsbIdentity& id, std::uint8_t index) {
  if (index == 0) return Bytes{4, kStringType, 0x09, 0x04};
  std::string text;
  if (index == kManufacturerString) {
    text = id.manufacturer;
  } else if (index == kProductString) {
    text = id.productName;
  } else if (index == kSerialString) {
    text = id.serial;
  } else if (index - kFirstInterfaceString < static_cast<int>(id.interfaceNames.size())) {
    // The indices below kFirstInterfaceString are all taken above.
    text = id.interfaceNames[index - kFirstInterfaceString];
  } else {
    return {};
  }
  // UTF-16LE of Latin-1 text, at most 126 characters.
  if (text.size() > 126) text.resize(126);
  Bytes d = {static_cast<std::uint8_t>(2 + 2 * text.size()), kStringType};
  for (unsigned char c : text) put16(d, c);
  return d;
}

}  // namespace qwus::usbdevice
