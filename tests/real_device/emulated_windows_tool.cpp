// dfu-util's Windows build over the libusb emulation (tools/emulated_libusb), for the tests under
// Wine: installed as dfu-util.exe with its device's state file, dfu-util.state, beside it.
#include <gtest/gtest.h>

#include "tests/fakes/stand_in_tool.h"
#include "tests/real_device/emulated_tool.h"

namespace qwus::testing {

void installEmulatedTool(const std::filesystem::path& folder, const DeviceStateFile& state) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(builtFile(QWUS_EMULATED_DFU_UTIL), folder / "dfu-util.exe",
                             std::filesystem::copy_options::overwrite_existing);
  EXPECT_TRUE(usbdevice::saveStateFile(emulatedStateFile(folder), state))
      << "cannot write " << emulatedStateFile(folder);
  std::error_code ignored;
  std::filesystem::remove(usbdevice::firmwareFile(emulatedStateFile(folder)), ignored);
}

std::filesystem::path emulatedStateFile(const std::filesystem::path& folder) {
  return folder / "dfu-util.state";
}

}  // namespace qwus::testing
