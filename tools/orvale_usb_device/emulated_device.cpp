// The emulated device's control endpoint.
#include "tools/orvale_usb_device/emulated_device.h"

#include <utility>

namespace qwus::usbdevice {
namespace {

constexpr std::uint8_t kGetStatus = 0;
constexpr std::uint8_t kClearFeature = 1;
constexpr std::uint8_t kSetFeature = 3;
constexpr std::uint8_t kGetDescriptor = 6;
constexpr std::uint8_t kGetConfiguration = 8;
constexpr std::uint8_t kSetConfiguration = 9;
constexpr std::uint8_t kGetInterface = 10;
constexpr std::uint8_t kSetInterface = 11;

constexpr std::uint8_t kVendorToHostDevice = 0xC0;  // bmRequestType: vendor, IN, to the device

}  // namespace

EmulatedDevice::EmulatedDevice(UsbIdentity identity, DfuStateMachine::Options dfu)
    : identity_(std::move(identity)), dfu_(dfu) {}

ControlReply EmulatedDevice::control(const SetupPacket& setup, const Bytes& data) {
  ControlReply reply;
  if (setup.type() == 0) {
    reply = standardRequest(setup);
  } else if (setup.type() == 1 && (setup.requestType & 0x1F) == 1 && (setup.index & 0xFF) == 0) {
    reply = dfu_.handle(setup, data);
  } else if (setup.requestType == kVendorToHostDevice && setup.request == kMsOsVendorCode &&
             setup.value == 0 && setup.index == kMsOs20DescriptorIndex) {
    reply = msOs20DescriptorSet(identity_);
    if (reply->empty()) reply.reset();
  } else if ((setup.requestType & ~1) == kVendorToHostDevice && setup.request == kMsOsVendorCode &&
             (setup.index == kMsOs10CompatibleIdIndex || setup.index == kMsOs10PropertiesIndex)) {
    // Windows asks for the extended properties of interface 0 with the interface as recipient
    // (0xC1); the device answers either recipient.
    reply = setup.index == kMsOs10CompatibleIdIndex ? msOs10CompatibleId(identity_)
                                                    : msOs10Properties(identity_);
    if (reply->empty()) reply.reset();
  }
  if (reply && reply->size() > setup.length) reply->resize(setup.length);
  return reply;
}

ControlReply EmulatedDevice::standardRequest(const SetupPacket& setup) {
  switch (setup.request) {
    case kGetDescriptor: {
      const auto type = static_cast<std::uint8_t>(setup.value >> 8);
      const auto index = static_cast<std::uint8_t>(setup.value & 0xFF);
      Bytes d;
      if (type == 1) d = deviceDescriptor(identity_);
      if (type == 2 && index == 0) d = configurationDescriptor(identity_);
      if (type == 3) d = stringDescriptor(identity_, index);
      if (type == 0x0F && index == 0) d = bosDescriptor(identity_);
      if (type == 0x21) d = dfuFunctionalDescriptor(identity_);
      if (d.empty()) return std::nullopt;
      return d;
    }
    case kGetStatus:
      return Bytes{0, 0};
    case kGetConfiguration:
      return Bytes{identity_.configurationValue};
    case kGetInterface:
      return Bytes{0};
    case kSetConfiguration:
    case kSetInterface:
    case kClearFeature:
    case kSetFeature:
      return Bytes{};
    default:
      return std::nullopt;
  }
}

}  // namespace qwus::usbdevice
