// The emulated device's state between runs: key=value lines in a file, and how one run's end
// changes it (re-enumeration after a detach or a download, runs left while the device is away).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "tools/orvale_usb_device/usb_types.h"

namespace qwus::usbdevice {

struct DeviceStateFile {
  std::string mode = "runtime";  // "runtime" or "dfu"
  std::string version = "0100";  // bcdDevice, four lower-case hexadecimal digits
  std::string serial = "A7X2249";
  std::string dfuSerial;  // the serial number in DFU mode; empty: the same
  int altSettings = 1;    // alternate settings of the DFU-mode interface
  int configuration = 1;  // bConfigurationValue of the one configuration
  std::string dfuVersion;  // bcdDevice in DFU mode; empty: `version`, the held image's
  // Interfaces in runtime mode: 1, the DFU interface alone, or 2, a composite device whose
  // interface 1 is a vendor-specific function of its own.
  int runtimeInterfaces = 1;
  // "ms_os_subsets=1": the MS OS 2.0 set puts WINUSB in a function subset for the DFU interface
  // instead of naming it for the whole device.
  bool msOsSubsets = false;
  // Misbehaviour on request.
  int absentRuns = 0;             // the device is off the bus for this many more runs
  int absentAfterDetach = 0;      // after a detach, it stays away for this many runs
  bool detachNeedsReset = false;  // "detach=reset": no bitWillDetach; leaves only on a USB reset
  // "manifest=wait-reset": not manifestation tolerant; after a download it waits in
  // dfuMANIFEST-WAIT-RESET for the host's USB reset before it runs the new image.
  bool manifestWaitsForReset = false;
  bool msOsDescriptors = true;    // "ms_os_descriptors=0": no BOS, no MS OS 2.0 set, USB 2.00
  // "ms_os_descriptors=1.0": USB 2.00 with the older MS OS 1.0 descriptors instead: the string
  // descriptor 0xEE, the extended compat ID and the extended properties.
  bool msOs10 = false;
  bool downloadError = false;     // reports errWRITE during the download, keeps its firmware
  bool accessDenied = false;      // "access=denied": the device node cannot be opened
  bool otherDevice = false;       // an unrelated DFU-mode device is on the bus as well
};

// The state as key=value lines.
std::string formatStateFile(const DeviceStateFile& state);
// Reads key=value lines; unknown keys and lines without "=" are ignored, missing keys keep their
// default. Returns nothing when a known key has a value it cannot take.
std::optional<DeviceStateFile> parseStateFile(std::string_view text);

// The version as bcdDevice; nothing unless it is four hexadecimal digits.
std::optional<std::uint16_t> parseVersion(std::string_view text);
// bcdDevice as four lower-case hexadecimal digits.
std::string versionText(std::uint16_t version);
// The version an image carries in its first two bytes, little-endian.
std::optional<std::uint16_t> imageVersion(const Bytes& image);

bool loadStateFile(const std::filesystem::path& file, DeviceStateFile& state);
bool saveStateFile(const std::filesystem::path& file, const DeviceStateFile& state);
// Where a completed download's image is written: FILE.firmware beside the state file FILE.
std::filesystem::path firmwareFile(const std::filesystem::path& stateFile);

}  // namespace qwus::usbdevice
