// Where the emulated libusb finds its device's state file, and the files beside it.
#pragma once

#include <filesystem>
#include <string>

namespace qwus::usbdevice {

// The state file that libusb_init reads: dfu-util.state in the running executable's folder,
// unless setStateFile chose another.
std::filesystem::path stateFile();

// Makes libusb_init read `file` from now on: for tests that run the emulation in their own process.
void setStateFile(const std::filesystem::path& file);

// The file whose lock stands for an open handle of device `sysName` of the bus that `stateFile`
// describes: STATE.SYSNAME.open.
std::filesystem::path holdFile(const std::filesystem::path& stateFile, const std::string& sysName);

}  // namespace qwus::usbdevice
