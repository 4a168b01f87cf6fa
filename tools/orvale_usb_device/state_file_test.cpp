// Tests of the emulated device's state file and version texts.
#include "tools/orvale_usb_device/state_file.h"

#include <gtest/gtest.h>

namespace qwus::usbdevice {
namespace {

TEST(StateFile, RoundTripsEveryKey) {
  DeviceStateFile s;
  s.mode = "dfu";
  s.version = "0a0f";
  s.serial = "A 7,X";
  s.dfuSerial = "B1";
  s.altSettings = 3;
  s.configuration = 2;
  s.dfuVersion = "0200";
  s.runtimeInterfaces = 2;
  s.msOsSubsets = true;
  s.absentRuns = 1;
  s.absentAfterDetach = 4;
  s.detachNeedsReset = s.downloadError = s.accessDenied = s.otherDevice = true;
  s.manifestWaitsForReset = true;
  s.msOsDescriptors = false;
  s.msOs10 = true;
  const auto back = parseStateFile(formatStateFile(s));
  ASSERT_TRUE(back);
  EXPECT_EQ(formatStateFile(*back), formatStateFile(s));
}

TEST(StateFile, RefusesValuesItCannotTake) {
  for (const char* text : {"mode=boot\n", "version=0100x\n", "version=01AB\n", "alt_settings=0\n",
                           "absent_runs=-1\n", "download_error=yes\n", "detach=never\n",
                           "manifest=reset\n", "ms_os_descriptors=no\n", "dfu_version=02\n",
                           "runtime_interfaces=3\n", "runtime_interfaces=0\n",
                           "ms_os_subsets=2\n", "configuration=0\n", "configuration=256\n"}) {
    EXPECT_FALSE(parseStateFile(text)) << text;
  }
  const auto partial = parseStateFile("version=0102\r\nunknown=1\nno equals sign\n");
  ASSERT_TRUE(partial);
  EXPECT_EQ(partial->version, "0102");
  EXPECT_EQ(partial->mode, "runtime");
}

TEST(StateFile, VersionsAndImages) {
  EXPECT_EQ(parseVersion("0102"), 0x0102);
  EXPECT_EQ(parseVersion("ffff"), 0xffff);
  EXPECT_FALSE(parseVersion("102"));
  EXPECT_EQ(versionText(0x0a0b), "0a0b");
  EXPECT_EQ(imageVersion({0x02, 0x01, 0x00}), 0x0102);
  EXPECT_FALSE(imageVersion({0x02}));
  EXPECT_EQ(firmwareFile("/x/dev.state"), "/x/dev.state.firmware");
}

}  // namespace
}  // namespace qwus::usbdevice
