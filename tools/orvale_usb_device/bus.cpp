// The emulated bus between runs.
#include "tools/orvale_usb_device/bus.h"

#include <algorithm>
#include <fstream>

namespace qwus::usbdevice {
namespace {

// The names of the DFU-mode interface's alternate settings, in order.
std::vector<std::string> dfuInterfaceNames(int count) {
  const char* known[] = {"Orvale Firmware", "Orvale Settings", "Orvale Bootloader"};
  std::vector<std::string> names;
  names.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (int alt = 0; alt < count; ++alt) {
    names.push_back(alt < 3 ? known[alt] : "Orvale Area " + std::to_string(alt));
  }
  return names;
}

}  // namespace

std::vector<BusDevice> devicesOnBus(const DeviceStateFile& state) {
  std::vector<BusDevice> devices;
  if (state.absentRuns == 0) {
    BusDevice orvale;
    const bool dfu = state.mode == "dfu";
    orvale.isOrvale = true;
    orvale.identity.product = dfu ? 0x8352 : 0x8351;
    const std::string& version =
        dfu && !state.dfuVersion.empty() ? state.dfuVersion : state.version;
    orvale.identity.bcdDevice = parseVersion(version).value_or(0);
    orvale.identity.dfuMode = dfu;
    orvale.identity.altSettings = dfu ? state.altSettings : 1;
    orvale.identity.willDetach = !state.detachNeedsReset;
    orvale.identity.serial = dfu && !state.dfuSerial.empty() ? state.dfuSerial : state.serial;
    orvale.identity.interfaceNames =
        dfu ? dfuInterfaceNames(state.altSettings) : std::vector<std::string>{"Orvale"};
    orvale.identity.msOsDescriptors = state.msOsDescriptors;
    orvale.identity.msOs10 = state.msOs10;
    // DFU mode is the bootloader's: the DFU interface alone, whatever the runtime firmware has.
    orvale.identity.interfaces = dfu ? 1 : state.runtimeInterfaces;
    orvale.identity.msOsSubsets = state.msOsSubsets;
    orvale.identity.configurationValue = static_cast<std::uint8_t>(state.configuration);
    orvale.dfu.dfuMode = dfu;
    orvale.dfu.willDetach = !state.detachNeedsReset;
    orvale.identity.manifestationTolerant = !state.manifestWaitsForReset;
    orvale.dfu.manifestationTolerant = !state.manifestWaitsForReset;
    if (state.downloadError) orvale.dfu.failDownloadAtBlock = 0;
    // A re-enumerated device gets a new address, as on a real bus.
    orvale.devnum = dfu ? 8 : 7;
    orvale.sysName = "1-1";
    orvale.accessDenied = state.accessDenied;
    devices.push_back(orvale);
  }
  if (state.otherDevice) {
    BusDevice other;
    other.identity.vendor = 0x0483;
    other.identity.product = 0xdf11;
    other.identity.bcdDevice = 0x2200;
    other.identity.dfuMode = true;
    other.identity.manufacturer = "Other Maker";
    other.identity.productName = "Other Bootloader";
    other.identity.serial = "OTHER0001";
    other.identity.interfaceNames = {"@Internal Flash"};
    other.identity.msOsDescriptors = false;  // another maker's USB 2.0 device, without a BOS
    other.dfu.dfuMode = true;
    other.devnum = 9;
    other.sysName = "1-2";
    devices.push_back(other);
  }
  return devices;
}

DeviceStateFile stateAfterRun(DeviceStateFile state, const DfuStateMachine* orvale) {
  if (state.absentRuns > 0) {
    --state.absentRuns;
    return state;
  }
  if (orvale == nullptr) return state;
  switch (orvale->reenumeration()) {
    case Reenumeration::AsDfu:
      state.mode = "dfu";
      state.absentRuns = state.absentAfterDetach;
      break;
    case Reenumeration::AsRuntime:
      state.mode = "runtime";
      if (orvale->manifestedImage()) {
        if (const auto version = imageVersion(*orvale->manifestedImage())) {
          state.version = versionText(*version);
        }
      }
      break;
    case Reenumeration::None:
      break;
  }
  return state;
}

std::string interfacePath(const DeviceStateFile& state) {
  const bool dfu = state.mode == "dfu";
  const std::string& serial = dfu && !state.dfuSerial.empty() ? state.dfuSerial : state.serial;
  const bool usable = !serial.empty() && std::all_of(serial.begin(), serial.end(), [](char c) {
    const auto code = static_cast<unsigned char>(c);
    return code > 0x20 && code < 0x80 && c != ',' && c != '\\';
  });
  return std::string("\\\\?\\USB#VID_C4E2&PID_") + (dfu ? "8352" : "8351") + "#" +
         (usable ? serial : "6&1f0e3c2a&0&1") + "#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}";
}

std::vector<std::string> busChanges(const DeviceStateFile& before, const DeviceStateFile& after,
                                    const DfuStateMachine* orvale) {
  if (orvale == nullptr || orvale->reenumeration() == Reenumeration::None) return {};
  std::vector<std::string> changes{"leave " + interfacePath(before)};
  if (after.absentRuns == 0) changes.push_back("arrive " + interfacePath(after));
  return changes;
}

std::filesystem::path busEventsFile(const std::filesystem::path& stateFile) {
  return stateFile.parent_path() / "bus-events.txt";
}

bool recordRun(const std::filesystem::path& file, const DeviceStateFile& before,
               const DfuStateMachine* orvale, std::string& error) {
  if (orvale != nullptr && orvale->manifestedImage()) {
    const Bytes& image = *orvale->manifestedImage();
    std::ofstream out(firmwareFile(file), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.data()),
              static_cast<std::streamsize>(image.size()));
    if (!out.flush()) {
      error = "cannot write " + firmwareFile(file).string();
      return false;
    }
  }
  const DeviceStateFile after = stateAfterRun(before, orvale);
  if (!saveStateFile(file, after)) {
    error = "cannot write the state file " + file.string();
    return false;
  }
  const std::filesystem::path events = busEventsFile(file);
  if (!std::filesystem::exists(events)) return true;
  std::ofstream out(events, std::ios::binary | std::ios::app);
  for (const std::string& change : busChanges(before, after, orvale)) out << change << '\n';
  if (!out.flush()) {
    error = "cannot append to " + events.string();
    return false;
  }
  return true;
}

}  // namespace qwus::usbdevice
