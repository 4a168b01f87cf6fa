// Where the emulated libusb finds its device's state file.
#pragma once

#include <filesystem>

namespace qwus::usbdevice {

// The state file that libusb_init reads: dfu-util.state in the running executable's folder,
// unless setStateFile chose another.
std::filesystem::path stateFile();

// Makes libusb_init read `file` from now on: for tests that run the emulation in their own process.
void setStateFile(const std::filesystem::path& file);

}  // namespace qwus::usbdevice
