// orvale-usb-device --state FILE -- PROGRAM [ARGS...]: runs PROGRAM with an emulated Orvale USB
// device (and whatever else FILE puts on the bus) answering its usbdevfs requests, then writes
// the device's state back to FILE, and a completed download's image to FILE.firmware. Exits with
// PROGRAM's status, or 125 when the emulation itself fails.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/orvale_usb_device/bus.h"
#include "tools/orvale_usb_device/state_file.h"
#include "tools/orvale_usb_device/usb_testbed.h"

namespace {

using namespace qwus::usbdevice;

constexpr int kEmulationFailed = 125;

int usage() {
  std::fprintf(stderr, "usage: orvale-usb-device --state FILE -- PROGRAM [ARGS...]\n");
  return kEmulationFailed;
}

int failure(const std::string& problem) {
  std::fprintf(stderr, "orvale-usb-device: %s\n", problem.c_str());
  return kEmulationFailed;
}

int run(int argc, char** argv) {
  if (argc < 5 || std::string(argv[1]) != "--state" || std::string(argv[3]) != "--") return usage();
  const std::filesystem::path file = argv[2];
  const std::vector<std::string> program(argv + 4, argv + argc);

  DeviceStateFile state;
  if (!loadStateFile(file, state)) return failure("cannot read the state file " + file.string());

  std::string error;
  UsbTestbed testbed;
  for (const BusDevice& device : devicesOnBus(state)) {
    if (!testbed.add(device, error)) return failure(error);
  }
  const int status = testbed.run(program, error);
  if (status < 0) return failure(error);

  const EmulatedDevice* orvale = testbed.orvale();
  if (!recordRun(file, state, orvale ? &orvale->dfu() : nullptr, error)) return failure(error);
  return status;
}

}  // namespace

int main(int argc, char** argv) { return run(argc, argv); }
