// The emulated device's USB descriptors, byte by byte as USB 2.0, DFU 1.1 and Microsoft's OS 2.0
// descriptors lay them out.
#include "tools/orvale_usb_device/descriptors.h"

#include <iterator>
#include <string_view>

namespace qwus::usbdevice {
namespace {

constexpr std::uint8_t kDeviceType = 1;
constexpr std::uint8_t kConfigurationType = 2;
constexpr std::uint8_t kStringType = 3;
constexpr std::uint8_t kInterfaceType = 4;
constexpr std::uint8_t kDfuFunctionalType = 0x21;

constexpr std::uint8_t kCanDownload = 0x01;
constexpr std::uint8_t kManifestationTolerant = 0x04;
constexpr std::uint8_t kWillDetach = 0x08;

void put16(Bytes& out, std::uint16_t value) {
  out.push_back(static_cast<std::uint8_t>(value & 0xFF));
  out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Bytes& out, std::uint32_t value) {
  put16(out, static_cast<std::uint16_t>(value & 0xFFFF));
  put16(out, static_cast<std::uint16_t>(value >> 16));
}

// UTF-16LE of ASCII text followed by `nuls` NUL characters.
void putUtf16(Bytes& out, std::string_view text, int nuls) {
  for (unsigned char c : text) put16(out, c);
  for (int i = 0; i < nuls; ++i) put16(out, 0);
}

constexpr std::uint8_t kBosType = 0x0F;
constexpr std::uint8_t kDeviceCapabilityType = 0x10;
constexpr std::uint8_t kPlatformCapability = 0x05;
// {D8DD60DF-4589-4CC7-9CD2-659D9E648A9F}, Microsoft's OS 2.0 platform capability, as it goes on
// the wire: the first three fields little-endian, the last eight bytes in order.
constexpr std::uint8_t kMsOs20PlatformUuid[16] = {0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,
                                                  0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F};
constexpr std::uint32_t kWindows81 = 0x06030000;  // the oldest Windows that reads the set

constexpr std::uint16_t kSetHeaderLength = 10;
constexpr std::uint16_t kSetHeaderType = 0x00;
constexpr std::uint16_t kSubsetHeaderLength = 8;
constexpr std::uint16_t kConfigurationSubsetType = 0x01;
constexpr std::uint16_t kFunctionSubsetType = 0x02;
constexpr std::uint16_t kCompatibleIdType = 0x03;
constexpr std::uint16_t kRegistryPropertyType = 0x04;
constexpr std::uint16_t kRegMultiSz = 7;

// Appends one feature descriptor of the set: wLength, wDescriptorType, then `body`.
void putFeature(Bytes& out, std::uint16_t type, const Bytes& body) {
  put16(out, static_cast<std::uint16_t>(4 + body.size()));
  put16(out, type);
  out.insert(out.end(), body.begin(), body.end());
}

// The registry property that names the device's interface class, as both MS OS versions carry
// it: its name and its REG_MULTI_SZ value (one string, then the list's end), each in UTF-16LE.
Bytes interfaceGuidsName() {
  Bytes name;
  putUtf16(name, "DeviceInterfaceGUIDs", 1);
  return name;
}
Bytes interfaceGuidsValue() {
  Bytes data;
  putUtf16(data, kDeviceInterfaceClass, 2);
  return data;
}

// The set's features, without its header.
Bytes msOs20Features() {
  Bytes compatibleId;
  const std::string_view winusb = "WINUSB";
  compatibleId.insert(compatibleId.end(), winusb.begin(), winusb.end());
  compatibleId.resize(16);  // NUL padding to 8 bytes, then an empty sub-compatible ID

  const Bytes name = interfaceGuidsName();
  const Bytes data = interfaceGuidsValue();
  Bytes property;
  put16(property, kRegMultiSz);
  put16(property, static_cast<std::uint16_t>(name.size()));
  property.insert(property.end(), name.begin(), name.end());
  put16(property, static_cast<std::uint16_t>(data.size()));
  property.insert(property.end(), data.begin(), data.end());

  Bytes features;
  putFeature(features, kCompatibleIdType, compatibleId);
  putFeature(features, kRegistryPropertyType, property);
  return features;
}

}  // namespace

Bytes deviceDescriptor(const UsbIdentity& id) {
  Bytes d = {18, kDeviceType};
  put16(d, id.msOsDescriptors ? 0x0210 : 0x0200);  // USB 2.1 has a BOS
  d.insert(d.end(), {0, 0, 0, 64});  // class from the interface, control endpoint of 64 bytes
  put16(d, id.vendor);
  put16(d, id.product);
  put16(d, id.bcdDevice);
  d.insert(d.end(), {kManufacturerString, kProductString, kSerialString, 1});
  return d;
}

Bytes dfuFunctionalDescriptor(const UsbIdentity& id) {
  Bytes d = {9, kDfuFunctionalType,
             static_cast<std::uint8_t>(kCanDownload |
                                       (id.manifestationTolerant ? kManifestationTolerant : 0) |
                                       (id.willDetach ? kWillDetach : 0))};
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

  if (id.interfaces > 1) {
    // A vendor-specific function with no endpoints beyond endpoint zero.
    body.insert(body.end(), {9, kInterfaceType, 1, 0, 0, 0xFF, 0x00, 0x00,
                             static_cast<std::uint8_t>(kFirstInterfaceString + id.altSettings)});
  }

  Bytes d = {9, kConfigurationType};
  put16(d, static_cast<std::uint16_t>(9 + body.size()));
  // no configuration string, bus powered, 100 mA
  d.insert(d.end(),
           {static_cast<std::uint8_t>(id.interfaces), id.configurationValue, 0, 0x80, 50});
  d.insert(d.end(), body.begin(), body.end());
  return d;
}

Bytes stringDescriptor(const UsbIdentity& id, std::uint8_t index) {
  if (index == 0) return Bytes{4, kStringType, 0x09, 0x04};
  if (index == kMsOs10StringIndex && id.msOs10) {
    // qwSignature "MSFT100", bMS_VendorCode, bPad.
    Bytes d = {18, kStringType};
    putUtf16(d, "MSFT100", 0);
    d.insert(d.end(), {kMsOsVendorCode, 0});
    return d;
  }
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
  } else if (id.interfaces > 1 && index == kFirstInterfaceString + id.altSettings) {
    text = kDataInterfaceName;
  } else {
    return {};
  }
  // UTF-16LE of Latin-1 text, at most 126 characters.
  if (text.size() > 126) text.resize(126);
  Bytes d = {static_cast<std::uint8_t>(2 + 2 * text.size()), kStringType};
  for (unsigned char c : text) put16(d, c);
  return d;
}

Bytes bosDescriptor(const UsbIdentity& id) {
  if (!id.msOsDescriptors) return {};
  Bytes platform = {0, kDeviceCapabilityType, kPlatformCapability, 0};
  platform.insert(platform.end(), std::begin(kMsOs20PlatformUuid), std::end(kMsOs20PlatformUuid));
  put32(platform, kWindows81);
  put16(platform, static_cast<std::uint16_t>(msOs20DescriptorSet(id).size()));
  platform.insert(platform.end(), {kMsOsVendorCode, 0});  // no alternate enumeration
  platform[0] = static_cast<std::uint8_t>(platform.size());

  Bytes d = {5, kBosType};
  put16(d, static_cast<std::uint16_t>(5 + platform.size()));
  d.push_back(1);  // one capability
  d.insert(d.end(), platform.begin(), platform.end());
  return d;
}

Bytes msOs20DescriptorSet(const UsbIdentity& id) {
  if (!id.msOsDescriptors) return {};
  Bytes features = msOs20Features();
  if (id.msOsSubsets) {
    Bytes function;
    put16(function, kSubsetHeaderLength);
    put16(function, kFunctionSubsetType);
    function.insert(function.end(), {0, 0});  // bFirstInterface: the DFU interface; reserved
    put16(function, static_cast<std::uint16_t>(kSubsetHeaderLength + features.size()));
    function.insert(function.end(), features.begin(), features.end());
    Bytes configuration;
    put16(configuration, kSubsetHeaderLength);
    put16(configuration, kConfigurationSubsetType);
    // Windows takes this byte as the configuration's index, 0 for the first, whatever its
    // bConfigurationValue.
    configuration.insert(configuration.end(), {0, 0});
    put16(configuration, static_cast<std::uint16_t>(kSubsetHeaderLength + function.size()));
    configuration.insert(configuration.end(), function.begin(), function.end());
    features = configuration;
  }
  Bytes d;
  put16(d, kSetHeaderLength);
  put16(d, kSetHeaderType);
  put32(d, kWindows81);
  put16(d, static_cast<std::uint16_t>(kSetHeaderLength + features.size()));
  d.insert(d.end(), features.begin(), features.end());
  return d;
}

Bytes msOs10CompatibleId(const UsbIdentity& id) {
  if (!id.msOs10) return {};
  Bytes d;
  put32(d, 16 + 24);  // dwLength: the header and one function section
  put16(d, 0x0100);   // bcdVersion 1.00
  put16(d, kMsOs10CompatibleIdIndex);
  d.push_back(1);  // bCount
  d.resize(16);    // reserved
  d.insert(d.end(), {0, 1});  // bFirstInterfaceNumber: the DFU interface; reserved, 1
  const std::string_view winusb = "WINUSB";
  d.insert(d.end(), winusb.begin(), winusb.end());
  d.resize(16 + 24);  // NUL padding, an empty subCompatibleID, reserved
  return d;
}

Bytes msOs10Properties(const UsbIdentity& id) {
  if (!id.msOs10) return {};
  const Bytes name = interfaceGuidsName();
  const Bytes data = interfaceGuidsValue();
  Bytes section;
  put32(section, static_cast<std::uint32_t>(14 + name.size() + data.size()));  // dwSize
  put32(section, kRegMultiSz);
  put16(section, static_cast<std::uint16_t>(name.size()));
  section.insert(section.end(), name.begin(), name.end());
  put32(section, static_cast<std::uint32_t>(data.size()));
  section.insert(section.end(), data.begin(), data.end());
  Bytes d;
  put32(d, static_cast<std::uint32_t>(10 + section.size()));  // dwLength
  put16(d, 0x0100);                                           // bcdVersion 1.00
  put16(d, kMsOs10PropertiesIndex);
  put16(d, 1);  // wCount
  d.insert(d.end(), section.begin(), section.end());
  return d;
}

}  // namespace qwus::usbdevice
