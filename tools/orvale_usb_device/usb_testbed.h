// The umockdev side: a sysfs testbed holding the bus's devices, an ioctl handler per device node
// answering usbdevfs requests, and the program run inside the testbed.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/orvale_usb_device/bus.h"

namespace qwus::usbdevice {

class UsbTestbed {
 public:
  UsbTestbed();
  ~UsbTestbed();
  UsbTestbed(const UsbTestbed&) = delete;
  UsbTestbed& operator=(const UsbTestbed&) = delete;

  // Puts `device` on the bus. Returns false with `error` set when the testbed refuses it.
  bool add(const BusDevice& device, std::string& error);

  // Runs `argv` (searched on PATH) with the testbed's preload library and environment, answering
  // its usbdevfs requests until it ends. Returns its exit status (128 + N for signal N), or -1
  // with `error` set when it could not be started.
  int run(const std::vector<std::string>& argv, std::string& error);

  // The emulated device that was added as the Orvale device, or null.
  const EmulatedDevice* orvale() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace qwus::usbdevice
