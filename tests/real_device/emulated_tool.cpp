// Debian's dfu-util with the emulated device, for tests.
#include "tests/real_device/emulated_tool.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "platform/process.h"
#include "tests/fakes/stand_in_tool.h"

namespace qwus::testing {

void installEmulatedTool(const std::filesystem::path& folder, const DeviceStateFile& state) {
  std::filesystem::create_directories(folder);
  const auto script = folder / "dfu-util.exe";
  std::ofstream(script, std::ios::binary | std::ios::trunc)
      << "#!/bin/sh\nexec '" << QWUS_ORVALE_USB_DEVICE << "' --state '"
      << emulatedStateFile(folder).string() << "' -- dfu-util \"$@\"\n";
  std::filesystem::permissions(script, std::filesystem::perms::owner_all |
                                           std::filesystem::perms::group_read |
                                           std::filesystem::perms::group_exec);
  EXPECT_TRUE(usbdevice::saveStateFile(emulatedStateFile(folder), state))
      << "cannot write " << emulatedStateFile(folder);
}

std::filesystem::path emulatedStateFile(const std::filesystem::path& folder) {
  return folder / "device.state";
}

bool makeDfuSuffixPackage(const std::filesystem::path& file, std::uint16_t version,
                          std::size_t imageSize) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << firmwareImage(version, imageSize);
  char bcd[8];
  std::snprintf(bcd, sizeof bcd, "%04x", static_cast<unsigned>(version));
  const std::string command =
      "dfu-suffix -a '" + file.string() + "' -v c4e2 -p 8352 -d 0x" + bcd + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace qwus::testing
