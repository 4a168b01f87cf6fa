// The Orvale device's identity: its USB vendor and product ids and the device interface class of
// its WinUSB binding. The build writes the WinUSB driver package's INF from the four constants
// below (packaging/winusb-driver/make-inf.cmake reads them), so each keeps its name and form.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/service_manager.h"
#include "platform/text.h"

namespace qwus {

// The USB vendor id of the Orvale device.
inline constexpr std::uint16_t orvaleVendorId = 0xC4E2;
// Its product id in runtime mode.
inline constexpr std::uint16_t orvaleRuntimeProductId = 0x8351;
// Its product id in DFU mode, which it takes after the detach.
inline constexpr std::uint16_t orvaleDfuProductId = 0x8352;
// The device interface class that WinUSB announces for both modes:
// {5E1C7A93-2B64-4D0F-9A83-C61E27B4D850}.
inline constexpr Guid orvaleInterfaceClass = {
    0x5E1C7A93, 0x2B64, 0x4D0F, {0x9A, 0x83, 0xC6, 0x1E, 0x27, 0xB4, 0xD8, 0x50}};

// A text of N characters made at compile time.
template <std::size_t N>
struct FixedText {
  char16_t chars[N] = {};
  constexpr TextView view() const noexcept { return TextView(chars, N); }
};

namespace orvale_detail {
// Writes the four hexadecimal digits of `value` at `out`.
constexpr void putHex(char16_t* out, std::uint16_t value, bool upper) noexcept {
  const char16_t* digits = upper ? u"0123456789ABCDEF" : u"0123456789abcdef";
  for (int i = 3; i >= 0; --i) {
    out[i] = digits[value & 0xF];
    value = static_cast<std::uint16_t>(value >> 4);
  }
}
}  // namespace orvale_detail

// "c4e2:8351": the vendor id and `productId` as dfu-util lists a device and takes it after -d.
constexpr FixedText<9> usbIdPair(std::uint16_t productId) noexcept {
  FixedText<9> text;
  orvale_detail::putHex(text.chars, orvaleVendorId, false);
  text.chars[4] = u':';
  orvale_detail::putHex(text.chars + 5, productId, false);
  return text;
}

// "PID_8351": `productId` as a Windows device path names it.
constexpr FixedText<8> productIdInPath(std::uint16_t productId) noexcept {
  FixedText<8> text{{u'P', u'I', u'D', u'_'}};
  orvale_detail::putHex(text.chars + 4, productId, true);
  return text;
}

}  // namespace qwus
