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

// Ends a run that began in `before`, read from `file`: writes a completed download's image to
// firmwareFile(file), byte for byte, then the state after the run to `file`. Both transports end
// their runs here. Returns false with `error` set when a file cannot be written.
bool recordRun(const std::filesystem::path& file, const DeviceStateFile& before,
               const DfuStateMachine* orvale, std::string& error);

}  // namespace qwus::usbdevice
