// The USB descriptors of an emulated DFU-capable device: device, configuration with its DFU
// interface (one per alternate setting) and DFU functional descriptor, and string descriptors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tools/orvale_usb_device/usb_types.h"

namespace qwus::usbdevice {

// What the descriptors say about one device.
struct UsbIdentity {
  std::uint16_t vendor = 0xc4e2;
  std::uint16_t product = 0x8351;
  std::uint16_t bcdDevice = 0x0100;
  bool dfuMode = false;    // DFU-mode interface protocol (2) rather than runtime (1)
  int altSettings = 1;     // interface descriptors of the DFU interface
  bool willDetach = true;  // bitWillDetach of the functional descriptor
  std::uint16_t transferSize = 1024;
  std::string manufacturer = "Quorlan";
  std::string productName = "Orvale";
  std::string serial;
  std::vector<std::string> interfaceNames;  // one per alternate setting
};

// String descriptor indexes.
inline constexpr std::uint8_t kManufacturerString = 1;
inline constexpr std::uint8_t kProductString = 2;
inline constexpr std::uint8_t kSerialString = 3;
inline constexpr std::uint8_t kFirstInterfaceString = 4;

// The 18-byte device descriptor.
Bytes deviceDescriptor(const UsbIdentity& id);
// The whole configuration: configuration, interface and DFU functional descriptors.
Bytes configurationDescriptor(const UsbIdentity& id);
// The 9-byte DFU functional descriptor alone.
Bytes dfuFunctionalDescriptor(const UsbIdentity& id);
// String descriptor `index` (0: the language list, US English); empty when there is none.
Bytes stringDescriptor(const UsbIdentity& id, std::uint8_t index);

}  // namespace qwus::usbdevice
