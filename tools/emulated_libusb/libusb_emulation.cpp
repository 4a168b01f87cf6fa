// The libusb-1.0 functions of include/libusb.h over the emulated bus, as libusb 1.0.26's Windows
// backend over WinUSB behaves wherever it differs from Linux (docs/winusb-emulation.md lists each
// difference): descriptors read once at enumeration and served from that copy, a device that one
// process holds open refused to every other opener, and a reset that resets nothing. One bus per
// process, read at libusb_init and written back once, at libusb_exit or at the process's exit
// (dfu-util's error paths end with exit() and never call libusb_exit).
#include <libusb.h>

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/emulated_libusb/device_hold.h"
#include "tools/emulated_libusb/emulated_bus.h"
#include "tools/emulated_libusb/state_location.h"

struct libusb_context {
  int unused = 0;
};

struct libusb_device {
  qwus::usbdevice::EmulatedBus::Device* onBus = nullptr;
  // What the enumeration read: the device descriptor and configuration 0 (empty when the device
  // did not answer).
  qwus::usbdevice::Bytes deviceDescriptor;
  qwus::usbdevice::Bytes configuration;
};

struct libusb_device_handle {
  libusb_device* dev = nullptr;
  qwus::usbdevice::DeviceHold hold;
};

namespace qwus::usbdevice {
namespace {

constexpr std::uint8_t kDescriptorInterface = 4;
constexpr std::uint8_t kDescriptorEndpoint = 5;

// A parsed configuration and the storage its pointers point into.
struct ParsedConfig {
  libusb_config_descriptor config{};
  Bytes raw;
  std::vector<libusb_interface> interfaces;
  std::vector<std::vector<libusb_interface_descriptor>> alternates;
};

struct Emulation {
  EmulatedBus bus;
  libusb_context context;
  std::vector<std::unique_ptr<libusb_device>> devices;
  std::map<const libusb_config_descriptor*, std::unique_ptr<ParsedConfig>> configs;
  bool loaded = false;
  bool exitHookSet = false;
};

// Never destroyed: the exit hook still needs it after static objects are gone.
Emulation& emulation() {
  static auto* instance = new Emulation;
  return *instance;
}

void finishRun() {
  Emulation& e = emulation();
  if (!e.loaded) return;
  e.loaded = false;
  std::string error;
  if (!e.bus.finish(error)) std::fprintf(stderr, "emulated libusb: %s\n", error.c_str());
}

// A standard GET_DESCRIPTOR request straight to the device, as the bus reads it while it
// enumerates (no handle needed, so an unopenable device still shows its descriptors).
ControlReply readDescriptor(EmulatedDevice& device, std::uint8_t type, std::uint8_t index) {
  SetupPacket setup;
  setup.requestType = LIBUSB_ENDPOINT_IN;
  setup.request = LIBUSB_REQUEST_GET_DESCRIPTOR;
  setup.value = static_cast<std::uint16_t>((type << 8) | index);
  setup.length = 0xFFFF;
  return device.control(setup, {});
}

std::uint16_t le16(const Bytes& bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// Splits a configuration as libusb does: the interface descriptors grouped by interface number,
// and after each descriptor, up to the next interface or endpoint descriptor, its "extra" bytes.
std::unique_ptr<ParsedConfig> parseConfiguration(Bytes raw) {
  if (raw.size() < 9 || raw[0] < 9 || raw[1] != LIBUSB_DT_CONFIG) return nullptr;
  auto parsed = std::make_unique<ParsedConfig>();
  parsed->raw = std::move(raw);
  const Bytes& bytes = parsed->raw;
  const std::size_t total = std::min<std::size_t>(le16(bytes, 2), bytes.size());

  struct Extra {
    std::size_t begin = 0;
    std::size_t end = 0;
  };
  Extra configExtra{bytes[0], bytes[0]};
  std::vector<std::vector<Extra>> extras;
  Extra* current = &configExtra;
  for (std::size_t at = bytes[0]; at + 2 <= total && bytes[at] >= 2;) {
    const std::size_t length = bytes[at];
    if (at + length > total) break;
    const std::uint8_t type = bytes[at + 1];
    if (type == kDescriptorInterface && length >= 9) {
      libusb_interface_descriptor alt{};
      alt.bLength = bytes[at];
      alt.bDescriptorType = type;
      alt.bInterfaceNumber = bytes[at + 2];
      alt.bAlternateSetting = bytes[at + 3];
      alt.bNumEndpoints = bytes[at + 4];
      alt.bInterfaceClass = bytes[at + 5];
      alt.bInterfaceSubClass = bytes[at + 6];
      alt.bInterfaceProtocol = bytes[at + 7];
      alt.iInterface = bytes[at + 8];
      const bool sameInterface =
          !parsed->alternates.empty() &&
          parsed->alternates.back().front().bInterfaceNumber == alt.bInterfaceNumber;
      if (!sameInterface) {
        parsed->alternates.emplace_back();
        extras.emplace_back();
      }
      parsed->alternates.back().push_back(alt);
      extras.back().push_back({at + length, at + length});
      current = &extras.back().back();
    } else if (type == kDescriptorEndpoint) {
      current = nullptr;  // the emulated devices have no endpoints beyond endpoint zero
    } else if (current != nullptr && current->end == at) {
      current->end = at + length;
    }
    at += length;
  }

  const auto pointer = [&bytes](const Extra& extra) {
    return extra.end > extra.begin ? bytes.data() + extra.begin : nullptr;
  };
  for (std::size_t i = 0; i < parsed->alternates.size(); ++i) {
    for (std::size_t alt = 0; alt < parsed->alternates[i].size(); ++alt) {
      parsed->alternates[i][alt].extra = pointer(extras[i][alt]);
      parsed->alternates[i][alt].extra_length =
          static_cast<int>(extras[i][alt].end - extras[i][alt].begin);
    }
    parsed->interfaces.push_back(
        {parsed->alternates[i].data(), static_cast<int>(parsed->alternates[i].size())});
  }
  libusb_config_descriptor& config = parsed->config;
  config.bLength = bytes[0];
  config.bDescriptorType = bytes[1];
  config.wTotalLength = le16(bytes, 2);
  config.bNumInterfaces =
      static_cast<std::uint8_t>(std::min<std::size_t>(bytes[4], parsed->interfaces.size()));
  config.bConfigurationValue = bytes[5];
  config.iConfiguration = bytes[6];
  config.bmAttributes = bytes[7];
  config.MaxPower = bytes[8];
  config.interface = parsed->interfaces.data();
  config.extra = pointer(configExtra);
  config.extra_length = static_cast<int>(configExtra.end - configExtra.begin);
  return parsed;
}

}  // namespace
}  // namespace qwus::usbdevice

using qwus::usbdevice::emulation;

int libusb_init(libusb_context** ctx) {
  auto& e = emulation();
  if (!e.loaded) {
    std::string error;
    if (!e.bus.load(qwus::usbdevice::stateFile(), error)) {
      std::fprintf(stderr, "emulated libusb: %s\n", error.c_str());
      return LIBUSB_ERROR_IO;
    }
    e.loaded = true;
    e.devices.clear();
    // Windows' libusb reads each device's descriptors from its hub when it enumerates, and
    // answers from that copy, whatever driver the device has.
    for (const auto& device : e.bus.devices()) {
      auto dev = std::make_unique<libusb_device>();
      dev->onBus = device.get();
      const auto d = qwus::usbdevice::readDescriptor(device->device, LIBUSB_DT_DEVICE, 0);
      const auto c = qwus::usbdevice::readDescriptor(device->device, LIBUSB_DT_CONFIG, 0);
      if (d) dev->deviceDescriptor = *d;
      if (c) dev->configuration = *c;
      e.devices.push_back(std::move(dev));
    }
    if (!e.exitHookSet) {
      e.exitHookSet = std::atexit(qwus::usbdevice::finishRun) == 0;
      if (!e.exitHookSet) std::fprintf(stderr, "emulated libusb: no state is written at exit()\n");
    }
  }
  if (ctx != nullptr) *ctx = &e.context;
  return LIBUSB_SUCCESS;
}

void libusb_exit(libusb_context*) { qwus::usbdevice::finishRun(); }

int libusb_set_option(libusb_context*, enum libusb_option, ...) { return LIBUSB_SUCCESS; }

const struct libusb_version* libusb_get_version(void) {
  static const libusb_version version = {
      1, 0, 26, 0, " (Orvale device emulation)", "libusb-1.0 emulated for tests"};
  return &version;
}

const char* libusb_error_name(int error_code) {
  switch (error_code) {
    case LIBUSB_SUCCESS: return "LIBUSB_SUCCESS / LIBUSB_TRANSFER_COMPLETED";
    case LIBUSB_ERROR_IO: return "LIBUSB_ERROR_IO";
    case LIBUSB_ERROR_INVALID_PARAM: return "LIBUSB_ERROR_INVALID_PARAM";
    case LIBUSB_ERROR_ACCESS: return "LIBUSB_ERROR_ACCESS";
    case LIBUSB_ERROR_NO_DEVICE: return "LIBUSB_ERROR_NO_DEVICE";
    case LIBUSB_ERROR_NOT_FOUND: return "LIBUSB_ERROR_NOT_FOUND";
    case LIBUSB_ERROR_BUSY: return "LIBUSB_ERROR_BUSY";
    case LIBUSB_ERROR_TIMEOUT: return "LIBUSB_ERROR_TIMEOUT";
    case LIBUSB_ERROR_OVERFLOW: return "LIBUSB_ERROR_OVERFLOW";
    case LIBUSB_ERROR_PIPE: return "LIBUSB_ERROR_PIPE";
    case LIBUSB_ERROR_INTERRUPTED: return "LIBUSB_ERROR_INTERRUPTED";
    case LIBUSB_ERROR_NO_MEM: return "LIBUSB_ERROR_NO_MEM";
    case LIBUSB_ERROR_NOT_SUPPORTED: return "LIBUSB_ERROR_NOT_SUPPORTED";
    case LIBUSB_ERROR_OTHER: return "LIBUSB_ERROR_OTHER";
    default: return "**UNKNOWN**";
  }
}

ssize_t libusb_get_device_list(libusb_context*, libusb_device*** list) {
  const auto& devices = emulation().devices;
  auto* array = new libusb_device*[devices.size() + 1];
  for (std::size_t i = 0; i < devices.size(); ++i) array[i] = devices[i].get();
  array[devices.size()] = nullptr;
  *list = array;
  return static_cast<ssize_t>(devices.size());
}

void libusb_free_device_list(libusb_device** list, int) { delete[] list; }

libusb_device* libusb_ref_device(libusb_device* dev) { return dev; }

void libusb_unref_device(libusb_device*) {}

int libusb_get_device_descriptor(libusb_device* dev, struct libusb_device_descriptor* desc) {
  using qwus::usbdevice::le16;
  const qwus::usbdevice::Bytes& d = dev->deviceDescriptor;
  if (d.size() < 18) return LIBUSB_ERROR_IO;
  *desc = {d[0],       d[1],        le16(d, 2),  d[4],  d[5],  d[6],  d[7],
           le16(d, 8), le16(d, 10), le16(d, 12), d[14], d[15], d[16], d[17]};
  return LIBUSB_SUCCESS;
}

int libusb_get_config_descriptor(libusb_device* dev, uint8_t config_index,
                                 struct libusb_config_descriptor** config) {
  // Every emulated device has one configuration.
  if (config_index != 0 || dev->configuration.empty()) return LIBUSB_ERROR_NOT_FOUND;
  auto parsed = qwus::usbdevice::parseConfiguration(dev->configuration);
  if (parsed == nullptr) return LIBUSB_ERROR_IO;
  *config = &parsed->config;
  emulation().configs.emplace(*config, std::move(parsed));
  return LIBUSB_SUCCESS;
}

void libusb_free_config_descriptor(struct libusb_config_descriptor* config) {
  emulation().configs.erase(config);
}

uint8_t libusb_get_bus_number(libusb_device*) { return 1; }

uint8_t libusb_get_device_address(libusb_device* dev) {
  return static_cast<uint8_t>(dev->onBus->placement.devnum);
}

int libusb_get_port_numbers(libusb_device* dev, uint8_t* port_numbers, int port_numbers_len) {
  // The sysfs name "1-2.3" is bus 1, port 2 of the root hub, port 3 of the hub behind it.
  const std::string& name = dev->onBus->placement.sysName;
  const auto dash = name.find('-');
  if (dash == std::string::npos) return LIBUSB_ERROR_NOT_FOUND;
  int count = 0;
  for (std::size_t at = dash + 1; at < name.size();) {
    auto end = name.find('.', at);
    if (end == std::string::npos) end = name.size();
    if (count == port_numbers_len) return LIBUSB_ERROR_OVERFLOW;
    unsigned port = 0;
    const auto parsed = std::from_chars(name.data() + at, name.data() + end, port);
    if (parsed.ec != std::errc() || parsed.ptr != name.data() + end) return LIBUSB_ERROR_NOT_FOUND;
    port_numbers[count++] = static_cast<uint8_t>(port);
    at = end + 1;
  }
  return count;
}

int libusb_open(libusb_device* dev, libusb_device_handle** dev_handle) {
  // Windows' libusb answers so for a device that has no WinUSB driver bound.
  if (dev->onBus->placement.accessDenied) return LIBUSB_ERROR_NOT_SUPPORTED;
  // WinUSB lets one handle at a time open a device: the CreateFile of every other opener fails
  // with ERROR_ACCESS_DENIED, which libusb's winusbx_open answers with LIBUSB_ERROR_ACCESS.
  qwus::usbdevice::DeviceHold hold(qwus::usbdevice::holdFile(
      qwus::usbdevice::stateFile(), dev->onBus->placement.sysName));
  if (!hold.held()) return LIBUSB_ERROR_ACCESS;
  auto* handle = new libusb_device_handle;
  handle->dev = dev;
  handle->hold = std::move(hold);
  *dev_handle = handle;
  return LIBUSB_SUCCESS;
}

void libusb_close(libusb_device_handle* dev_handle) { delete dev_handle; }

// WinUSB sends no SET_CONFIGURATION: libusb's winusbx_submit_control_transfer completes the one
// that names the active configuration (every emulated device's only one) without sending it, and
// refuses any other.
int libusb_set_configuration(libusb_device_handle* dev_handle, int configuration) {
  const qwus::usbdevice::Bytes& active = dev_handle->dev->configuration;
  const bool isActive = active.size() > 5 && configuration == active[5];
  return isActive ? LIBUSB_SUCCESS : LIBUSB_ERROR_NOT_SUPPORTED;
}

int libusb_claim_interface(libusb_device_handle*, int) { return LIBUSB_SUCCESS; }

int libusb_release_interface(libusb_device_handle*, int) { return LIBUSB_SUCCESS; }

int libusb_set_interface_alt_setting(libusb_device_handle* dev_handle, int interface_number,
                                     int alternate_setting) {
  const int sent = libusb_control_transfer(
      dev_handle, static_cast<uint8_t>(LIBUSB_RECIPIENT_INTERFACE), LIBUSB_REQUEST_SET_INTERFACE,
      static_cast<uint16_t>(alternate_setting), static_cast<uint16_t>(interface_number), nullptr, 0,
      1000);
  return sent < 0 ? sent : LIBUSB_SUCCESS;
}

// WinUSB cannot reset a port: libusb's winusbx_reset_device aborts, flushes and resets the
// interfaces' pipes (the emulated devices have none beyond endpoint zero) and returns success. The
// device is never reset, so it changes neither its mode nor its state.
int libusb_reset_device(libusb_device_handle*) { return LIBUSB_SUCCESS; }

int libusb_control_transfer(libusb_device_handle* dev_handle, uint8_t request_type,
                            uint8_t bRequest, uint16_t wValue, uint16_t wIndex, unsigned char* data,
                            uint16_t wLength, unsigned int) {
  qwus::usbdevice::SetupPacket setup;
  setup.requestType = request_type;
  setup.request = bRequest;
  setup.value = wValue;
  setup.index = wIndex;
  setup.length = wLength;
  qwus::usbdevice::Bytes sent;
  if (!setup.deviceToHost() && data != nullptr) sent.assign(data, data + wLength);
  const qwus::usbdevice::ControlReply reply = dev_handle->dev->onBus->device.control(setup, sent);
  if (!reply) return LIBUSB_ERROR_PIPE;
  if (!setup.deviceToHost()) return wLength;
  const std::size_t n = std::min<std::size_t>(reply->size(), wLength);
  if (n > 0) std::memcpy(data, reply->data(), n);
  return static_cast<int>(n);
}
