// Firmware package files for tests: an image followed by a valid DFU suffix.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace qwus::testing {

// The bytes of a package: `image`, then a 16-byte DFU suffix naming `version` as bcdDevice, the
// Orvale DFU-mode ids (c4e2:8352), DFU 1.1, and the CRC-32 that the real dfu-util checks.
std::string firmwarePackage(std::uint16_t version, std::string_view image = "firmware image");

}  // namespace qwus::testing
