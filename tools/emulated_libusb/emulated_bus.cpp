// The emulated libusb's bus between the state file's reading and its writing back.
#include "tools/emulated_libusb/emulated_bus.h"

namespace qwus::usbdevice {

bool EmulatedBus::load(const std::filesystem::path& stateFile, std::string& error) {
  DeviceStateFile state;
  if (!loadStateFile(stateFile, state)) {
    error = "cannot read the state file " + stateFile.string();
    return false;
  }
  file_ = stateFile;
  before_ = state;
  devices_.clear();
  const std::vector<BusDevice> onBus = devicesOnBus(state);
  // Linux's libusb hands over the devices it saw last first.
  for (auto it = onBus.rbegin(); it != onBus.rend(); ++it) {
    devices_.push_back(
        std::make_unique<Device>(Device{*it, EmulatedDevice(it->identity, it->dfu)}));
  }
  open_ = true;
  return true;
}

bool EmulatedBus::finish(std::string& error) {
  if (!open_) return true;
  open_ = false;
  const DfuStateMachine* orvale = nullptr;
  for (const auto& device : devices_) {
    if (device->placement.isOrvale) orvale = &device->device.dfu();
  }
  return recordRun(file_, before_, orvale, error);
}

}  // namespace qwus::usbdevice
