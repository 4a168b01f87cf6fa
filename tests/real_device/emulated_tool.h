// The real dfu-util with the emulated Orvale device, for tests: installed as dfu-util.exe in a
// folder (on Linux a script that runs Debian's dfu-util under orvale-usb-device, on Windows
// dfu-util's Windows build over the libusb emulation), its device's state file, packages made by
// dfu-suffix (Linux), and running a command line as the engine's launcher does.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "platform/text.h"
#include "tools/orvale_usb_device/state_file.h"

namespace qwus::testing {

using usbdevice::DeviceStateFile;

// Writes `folder`/dfu-util.exe, the real tool with the device that emulatedStateFile(folder)
// describes, and writes `state` there (a failed write fails the test).
void installEmulatedTool(const std::filesystem::path& folder, const DeviceStateFile& state);
// The state file of the device installed in `folder`.
std::filesystem::path emulatedStateFile(const std::filesystem::path& folder);
// The device's state as the last run left it. A missing or incomplete state file fails the
// running test and reads as mode and version "(unreadable)".
DeviceStateFile emulatedState(const std::filesystem::path& folder);

// An image of `size` bytes that carries `version` in its first two bytes, little-endian.
std::string firmwareImage(std::uint16_t version, std::size_t size = 23);
// Writes `file` as firmwareImage(version, imageSize) with a suffix appended by Debian's dfu-suffix
// for c4e2:8352 and `version`. false when dfu-suffix failed. Linux only.
bool makeDfuSuffixPackage(const std::filesystem::path& file, std::uint16_t version,
                          std::size_t imageSize = 23);

// Starts `commandLine` through the system's process launcher with `folder` first on PATH and
// returns everything it printed, standard error included.
std::string runWithToolFrom(const std::filesystem::path& folder, Text commandLine);

// The lines of `output` that describe a device ("Found ..."), each with its line end.
std::string deviceLines(const std::string& output);

}  // namespace qwus::testing
