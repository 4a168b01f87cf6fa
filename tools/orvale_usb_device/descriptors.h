// The USB descriptors of an emulated DFU-capable device: device, configuration with its DFU
// interface (one per alternate setting) and DFU functional descriptor, string descriptors, and the
// BOS with the Microsoft OS 2.0 descriptor set that has Windows bind WinUSB without an INF.
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
  std::uint8_t configurationValue = 1;  // bConfigurationValue of the one configuration
  bool willDetach = true;  // bitWillDetach of the functional descriptor
  bool manifestationTolerant = true;  // bitManifestationTolerant of the functional descriptor
  std::uint16_t transferSize = 1024;
  std::string manufacturer = "Quorlan";
  std::string productName = "Orvale";
  std::string serial;
  std::vector<std::string> interfaceNames;  // one per alternate setting
  // USB 2.1 with a BOS and a Microsoft OS 2.0 descriptor set; otherwise USB 2.0 without either.
  bool msOsDescriptors = true;
  // 1: the DFU interface alone. 2: a composite device, the DFU interface 0 and a vendor-specific
  // interface 1 named kDataInterfaceName.
  int interfaces = 1;
  // The descriptor set names WINUSB in a configuration subset and a function subset for the DFU
  // interface, as a composite device's must, rather than for the whole device.
  bool msOsSubsets = false;
  // Microsoft's OS 1.0 descriptors (with msOsDescriptors false): the string descriptor 0xEE
  // naming kMsOsVendorCode, and the extended compat ID and extended properties it leads to.
  bool msOs10 = false;
};

// The name of a composite device's second interface.
inline constexpr const char* kDataInterfaceName = "Orvale Data";

// String descriptor indexes.
inline constexpr std::uint8_t kManufacturerString = 1;
inline constexpr std::uint8_t kProductString = 2;
inline constexpr std::uint8_t kSerialString = 3;
inline constexpr std::uint8_t kFirstInterfaceString = 4;

// The vendor request that answers the Microsoft OS 2.0 descriptor set: bRequest is the vendor
// code the BOS announces, wIndex is MS_OS_20_DESCRIPTOR_INDEX. The MS OS 1.0 descriptors use the
// same vendor code, named by the string descriptor kMsOs10StringIndex, with wIndex 4 for the
// extended compat ID and 5 for the extended properties.
inline constexpr std::uint8_t kMsOsVendorCode = 0x20;
inline constexpr std::uint16_t kMsOs20DescriptorIndex = 7;
inline constexpr std::uint8_t kMsOs10StringIndex = 0xEE;
inline constexpr std::uint16_t kMsOs10CompatibleIdIndex = 4;
inline constexpr std::uint16_t kMsOs10PropertiesIndex = 5;

// The device interface class WinUSB registers for the device: the class whose arrivals the service
// watches (qwus::orvaleInterfaceClass in upgrade/orvale_device.h), in registry text form.
inline constexpr const char* kDeviceInterfaceClass = "{5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}";

// The 18-byte device descriptor.
Bytes deviceDescriptor(const UsbIdentity& id);
// The whole configuration: configuration, interface and DFU functional descriptors.
Bytes configurationDescriptor(const UsbIdentity& id);
// The 9-byte DFU functional descriptor alone.
Bytes dfuFunctionalDescriptor(const UsbIdentity& id);
// String descriptor `index` (0: the language list, US English; kMsOs10StringIndex: the MS OS 1.0
// string descriptor when id.msOs10); empty when there is none.
Bytes stringDescriptor(const UsbIdentity& id, std::uint8_t index);
// The BOS: its header and one platform capability pointing to the Microsoft OS 2.0 descriptor set;
// empty when the device has no Microsoft OS descriptors.
Bytes bosDescriptor(const UsbIdentity& id);
// The whole Microsoft OS 2.0 descriptor set: set header, compatible ID WINUSB and the
// DeviceInterfaceGUIDs registry property naming kDeviceInterfaceClass, the last two inside a
// configuration subset and a function subset for interface 0 when id.msOsSubsets; empty when the
// device has no Microsoft OS descriptors.
Bytes msOs20DescriptorSet(const UsbIdentity& id);
// The MS OS 1.0 extended compat ID (WINUSB for interface 0) and extended properties
// (DeviceInterfaceGUIDs naming kDeviceInterfaceClass); empty unless id.msOs10.
Bytes msOs10CompatibleId(const UsbIdentity& id);
Bytes msOs10Properties(const UsbIdentity& id);

}  // namespace qwus::usbdevice
