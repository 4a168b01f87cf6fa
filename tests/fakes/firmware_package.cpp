// Firmware package bytes for tests.
#include "tests/fakes/firmware_package.h"

namespace qwus::testing {

std::string firmwarePackage(std::uint16_t version, std::string_view image) {
  std::string data(image);
  const unsigned char suffix[12] = {static_cast<unsigned char>(version & 0xFF),
                                    static_cast<unsigned char>(version >> 8),
                                    0x52, 0x83, 0xE2, 0xC4, 0x00, 0x01, 'U', 'F', 'D', 16};
  data.append(reinterpret_cast<const char*>(suffix), sizeof suffix);
  // The suffix ends in the CRC-32 of everything before it, without the final inversion.
  std::uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  for (int i = 0; i < 4; ++i) data.push_back(static_cast<char>((crc >> (8 * i)) & 0xFFu));
  return data;
}

}  // namespace qwus::testing
