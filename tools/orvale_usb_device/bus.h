// Which devices a run finds on the emulated bus, and what the state file says after the run.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tools/orvale_usb_device/emulated_device.h"
#include "tools/orvale_usb_device/state_file.h"

namespace qwus::usbdevice {

// One device on the bus: what it answers, and where the kernel puts it.
struct BusDevice {
  UsbIdentity identity;
  DfuStateMachine::Options dfu;
  int devnum = 7;             // bus 1 always
  std::string sysName;        // the sysfs name, which is also dfu-util's path="..."
  bool accessDenied = false;  // its device node cannot be opened
  bool isOrvale = false;
};

// The devices of one run as `state` describes them: the Orvale device unless it is away, and the
// unrelated device when asked for.
std::vector<BusDevice> devicesOnBus(const DeviceStateFile& state);

// The state after a run in which the Orvale device (when it was on the bus) ended as `orvale`
// left it: a detached device comes back in DFU mode (or stays away as asked), a manifested one
// in runtime mode at its image's version. A run while the device was away counts down.
DeviceStateFile stateAfterRun(DeviceStateFile state, const DfuStateMachine* orvale);

// The device interface path that Windows builds for the Orvale device as `state` has it, with the
// serial number of its mode as the instance id:
// \\?\USB#VID_C4E2&PID_8351#A7X2249#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}. A serial number that
// cannot be an instance id (empty, or holding a blank, a control or non-ASCII character, a comma
// or a backslash) gives way to a location-based id, as Windows' USB hub driver does.
std::string interfacePath(const DeviceStateFile& state);

// What the bus shows of a run that began in `before` and ended in `after`, as lines of the bus
// events file: when the Orvale device re-enumerated, "leave PATH" for its interface before, then,
// unless it stays away, "arrive PATH" for its interface after. Nothing otherwise.
std::vector<std::string> busChanges(const DeviceStateFile& before, const DeviceStateFile& after,
                                    const DfuStateMachine* orvale);

// The file that bus changes are appended to: bus-events.txt beside the state file FILE. It is
// written only when it exists, so that a test asks for the device's own announcements by
// creating it.
std::filesystem::path busEventsFile(const std::filesystem::path& stateFile);

// Ends a run that began in `before`, read from `file`: writes a completed download's image to
// firmwareFile(file), byte for byte, then the state after the run to `file`, and appends the
// run's bus changes to busEventsFile(file) when it exists. Both transports end
// their runs here. Returns false with `error` set when a file cannot be written.
bool recordRun(const std::filesystem::path& file, const DeviceStateFile& before,
               const DfuStateMachine* orvale, std::string& error);

}  // namespace qwus::usbdevice
