// Tests of the libusb emulation through its C API, in the calls dfu-util makes: what a run finds on
// the bus, and what the state file holds after runs that end through libusb_exit or through exit().
#include <gtest/gtest.h>
#include <libusb.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/fakes/temporary_directory.h"
#include "tools/emulated_libusb/state_location.h"
#include "tools/orvale_usb_device/state_file.h"

namespace qwus::usbdevice {
namespace {

void setVariable(const char* name, const std::string& value) {
#ifdef _WIN32
  _putenv_s(name, value.c_str());  // an empty value removes it
#else
  if (value.empty()) {
    unsetenv(name);
  } else {
    setenv(name, value.c_str(), 1);
  }
#endif
}

class LibusbEmulation : public ::testing::Test {
 protected:
  // Writes `state` as the state file libusb_init reads next.
  void useState(const DeviceStateFile& state) {
    ASSERT_TRUE(saveStateFile(file, state));
    setStateFile(file);
  }

  // The devices of a run, started with libusb_init; the run is still open.
  std::vector<libusb_device*> begin() {
    libusb_context* ctx = nullptr;
    EXPECT_EQ(libusb_init(&ctx), 0);
    libusb_device** list = nullptr;
    const ssize_t n = libusb_get_device_list(ctx, &list);
    if (n < 0) {
      ADD_FAILURE() << "libusb_get_device_list: " << n;
      return {};
    }
    std::vector<libusb_device*> devices(list, list + n);
    EXPECT_EQ(list[n], nullptr);
    libusb_free_device_list(list, 1);
    return devices;
  }

  DeviceStateFile stateAfter() const {
    DeviceStateFile state;
    EXPECT_TRUE(loadStateFile(file, state));
    return state;
  }

  testing::TemporaryDirectory folder;
  std::filesystem::path file = folder.path() / "dfu-util.state";
};

// dfu-util takes the DFU functional descriptor from the "extra" bytes of an alternate setting: the
// parser must hand them to the setting they follow, and to no other.
TEST_F(LibusbEmulation, ConfigurationSplitsAsLibusbDoes) {
  DeviceStateFile dfu;
  dfu.mode = "dfu";
  dfu.altSettings = 3;
  useState(dfu);
  const auto devices = begin();
  ASSERT_EQ(devices.size(), 1u);
  libusb_config_descriptor* config = nullptr;
  ASSERT_EQ(libusb_get_config_descriptor(devices[0], 0, &config), 0);
  EXPECT_EQ(config->bConfigurationValue, 1);
  EXPECT_EQ(config->extra_length, 0);
  ASSERT_EQ(config->bNumInterfaces, 1);
  ASSERT_EQ(config->interface[0].num_altsetting, 3);
  for (int alt = 0; alt < 3; ++alt) {
    const libusb_interface_descriptor& setting = config->interface[0].altsetting[alt];
    EXPECT_EQ(setting.bAlternateSetting, alt);
    EXPECT_EQ(setting.bInterfaceProtocol, 2);  // DFU mode
    EXPECT_EQ(setting.iInterface, 4 + alt);
    EXPECT_EQ(setting.extra_length, alt == 2 ? 9 : 0) << alt;
  }
  const unsigned char* functional = config->interface[0].altsetting[2].extra;
  EXPECT_EQ(functional[1], 0x21);
  EXPECT_EQ(functional[5] | (functional[6] << 8), 1024);  // wTransferSize
  libusb_free_config_descriptor(config);
  EXPECT_EQ(libusb_get_config_descriptor(devices[0], 1, &config), LIBUSB_ERROR_NOT_FOUND);
  libusb_exit(nullptr);
}

// dfu-util ends its error paths with exit(): a detach already sent must still reach the state
// file, and only once.
TEST_F(LibusbEmulation, RunEndedByExitStillWritesTheState) {
  useState({});
  // On Windows the dying run is a new process that runs this test from its start, with a fixture
  // of its own: it inherits the file's name from this process.
  constexpr char kVariable[] = "QWUS_EMULATION_TEST_STATE";
  const bool dyingRun = std::getenv(kVariable) != nullptr;
  if (!dyingRun) setVariable(kVariable, file.string());
  EXPECT_EXIT(
      {
        setStateFile(std::getenv(kVariable));
        const auto devices = begin();
        libusb_device_handle* handle = nullptr;
        if (libusb_open(devices[0], &handle) != 0) std::_Exit(1);
        // DFU_DETACH to the runtime interface.
        if (libusb_control_transfer(handle, 0x21, 0, 1000, 0, nullptr, 0, 1000) != 0) std::_Exit(2);
        std::exit(74);
      },
      ::testing::ExitedWithCode(74), "");
  setVariable(kVariable, "");
  EXPECT_EQ(stateAfter().mode, "dfu");
}

// A download lands the image either way; the device runs it after the run only when it restarts
// by itself, since the reset that dfu-util sends a device waiting for one resets nothing on WinUSB.
TEST_F(LibusbEmulation, DownloadLandsTheImageAndResetChangesNothing) {
  const struct {
    bool waitsForReset;
    int lastState;  // what the download's last GETSTATUS reports
    const char* endMode;
    const char* endVersion;
  } cases[] = {{false, 2, "runtime", "0307"}, {true, 8, "dfu", "0100"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.waitsForReset ? "manifest=wait-reset" : "manifest=self");
    DeviceStateFile dfu;
    dfu.mode = "dfu";
    dfu.manifestWaitsForReset = c.waitsForReset;
    useState(dfu);
    std::filesystem::remove(firmwareFile(file));
    const auto devices = begin();
    libusb_device_handle* handle = nullptr;
    ASSERT_EQ(libusb_open(devices[0], &handle), 0);
    unsigned char image[] = {0x07, 0x03, 'f', 'w'};
    unsigned char status[6] = {};
    EXPECT_EQ(libusb_control_transfer(handle, 0x21, 1, 0, 0, image, sizeof image, 1000), 4);
    EXPECT_EQ(libusb_control_transfer(handle, 0xA1, 3, 0, 0, status, 6, 1000), 6);
    EXPECT_EQ(libusb_control_transfer(handle, 0x21, 1, 1, 0, nullptr, 0, 1000), 0);
    for (int i = 0; i < 2; ++i) libusb_control_transfer(handle, 0xA1, 3, 0, 0, status, 6, 1000);
    EXPECT_EQ(status[4], c.lastState);
    EXPECT_EQ(libusb_reset_device(handle), 0);
    libusb_close(handle);
    libusb_exit(nullptr);
    const DeviceStateFile ended = stateAfter();
    // A second end writes nothing more: what stands in the file now stays.
    DeviceStateFile marker;
    marker.version = "0999";
    ASSERT_TRUE(saveStateFile(file, marker));
    libusb_exit(nullptr);
    EXPECT_EQ(stateAfter().version, "0999");

    EXPECT_EQ(ended.mode, c.endMode);
    EXPECT_EQ(ended.version, c.endVersion);
    std::ifstream in(firmwareFile(file), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    EXPECT_EQ(bytes.str(), std::string("\x07\x03"
                                       "fw",
                                       4));
  }
}

// WinUSB opens a device for one handle at a time: while one is open, every other opener is refused
// as libusb refuses it, and the device is free again once that handle is closed.
TEST_F(LibusbEmulation, DeviceHeldOpenRefusesEveryOtherOpener) {
  useState({});
  const auto devices = begin();
  ASSERT_EQ(devices.size(), 1u);
  libusb_device_handle* first = nullptr;
  libusb_device_handle* second = nullptr;
  ASSERT_EQ(libusb_open(devices[0], &first), 0);
  EXPECT_EQ(libusb_open(devices[0], &second), LIBUSB_ERROR_ACCESS);
#ifdef QWUS_EMULATED_DFU_UTIL
  // Another process: the real tool lists the device it cannot open, as it does on Windows. It
  // reads the state file in its own folder, which is this one's.
  std::filesystem::copy_file(testing::builtFile(QWUS_EMULATED_DFU_UTIL),
                             folder.path() / "dfu-util.exe");
  const auto launcher = processLauncherIn(testing::pathText(folder.path()));
  auto pipe = launcher->createOutputPipe();
  ASSERT_NE(pipe, nullptr);
  Text command = u"dfu-util.exe -l";
  ASSERT_TRUE(launcher->startProcess(command, *pipe));
  pipe->closeWriteEnd();
  std::string out;
  char chunk[256];
  for (std::size_t n = 0; pipe->read(chunk, sizeof chunk, n);) out.append(chunk, n);
  EXPECT_NE(out.find("Cannot open DFU device c4e2:8351 found on devnum 7 (LIBUSB_ERROR_ACCESS)\r\n"),
            std::string::npos)
      << out;
#endif
  libusb_close(first);
  EXPECT_EQ(libusb_open(devices[0], &second), 0);
  libusb_close(second);
  libusb_exit(nullptr);
}

TEST_F(LibusbEmulation, StateFileItCannotReadStopsTheRun) {
  std::ofstream(file) << "mode=sleeping\n";
  setStateFile(file);
  libusb_context* ctx = nullptr;
  EXPECT_EQ(libusb_init(&ctx), LIBUSB_ERROR_IO);
  libusb_exit(ctx);
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  EXPECT_EQ(text, "mode=sleeping");
}

}  // namespace
}  // namespace qwus::usbdevice
