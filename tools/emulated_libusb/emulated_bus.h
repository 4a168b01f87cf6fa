// The devices that one run of a program linked against the emulated libusb finds: read from the
// state file when the run begins, written back (with a completed download) when it ends.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "tools/orvale_usb_device/bus.h"
#include "tools/orvale_usb_device/emulated_device.h"

namespace qwus::usbdevice {

class EmulatedBus {
 public:
  // One device: where it sits on the bus, and what its control endpoint answers.
  struct Device {
    BusDevice placement;
    EmulatedDevice device;
  };

  // Reads `stateFile` and puts its devices on the bus. Returns false with `error` set when the
  // file cannot be read or holds a value it cannot take.
  bool load(const std::filesystem::path& stateFile, std::string& error);

  // The devices in the order the bus hands them to the program: that of Linux's libusb over the
  // umockdev testbed, so that both transports list them alike.
  const std::vector<std::unique_ptr<Device>>& devices() const noexcept { return devices_; }

  // Writes the state after the run back to the state file, and a completed download beside it;
  // only the first call after load() writes. Returns false with `error` set when writing failed.
  bool finish(std::string& error);

 private:
  std::filesystem::path file_;
  DeviceStateFile before_;
  std::vector<std::unique_ptr<Device>> devices_;
  bool open_ = false;
};

}  // namespace qwus::usbdevice
