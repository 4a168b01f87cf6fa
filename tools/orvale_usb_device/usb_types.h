// The few USB pieces the emulated device deals in: a control request's setup packet and the reply.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace qwus::usbdevice {

using Bytes = std::vector<std::uint8_t>;

// The eight bytes that open every control transfer.
struct SetupPacket {
  std::uint8_t requestType = 0;  // bmRequestType: direction, type and recipient
  std::uint8_t request = 0;      // bRequest
  std::uint16_t value = 0;       // wValue
  std::uint16_t index = 0;       // wIndex
  std::uint16_t length = 0;      // wLength

  bool deviceToHost() const noexcept { return (requestType & 0x80) != 0; }
  // 0 standard, 1 class, 2 vendor.
  int type() const noexcept { return (requestType >> 5) & 0x03; }

  // Reads the packet from the first eight bytes of `raw`, little-endian.
  static SetupPacket parse(const std::uint8_t* raw) noexcept {
    SetupPacket p;
    p.requestType = raw[0];
    p.request = raw[1];
    p.value = static_cast<std::uint16_t>(raw[2] | (raw[3] << 8));
    p.index = static_cast<std::uint16_t>(raw[4] | (raw[5] << 8));
    p.length = static_cast<std::uint16_t>(raw[6] | (raw[7] << 8));
    return p;
  }
};

// The device's answer to a control transfer: the data it returns (empty for a transfer to the
// device), or nothing when it stalls the request.
using ControlReply = std::optional<Bytes>;

}  // namespace qwus::usbdevice
