// Tests of the emulated device's DFU state machine and control endpoint, request by request.
#include "tools/orvale_usb_device/dfu_state_machine.h"

#include <gtest/gtest.h>

#include "tools/orvale_usb_device/bus.h"
#include "tools/orvale_usb_device/emulated_device.h"

namespace qwus::usbdevice {
namespace {

constexpr std::uint8_t kClassOut = 0x21;  // class request to the interface, host to device
constexpr std::uint8_t kClassIn = 0xA1;

DfuStateMachine::Options options(bool dfuMode, bool willDetach = true,
                                 std::optional<std::size_t> failAt = std::nullopt,
                                 std::size_t maxImageSize = 1 << 20) {
  DfuStateMachine::Options o;
  o.dfuMode = dfuMode;
  o.willDetach = willDetach;
  o.failDownloadAtBlock = failAt;
  o.maxImageSize = maxImageSize;
  return o;
}

SetupPacket request(std::uint8_t code, std::uint16_t length = 6, std::uint16_t value = 0) {
  SetupPacket p;
  p.requestType =
      code == kDfuDetach || code == kDfuDnload || code == kDfuClrStatus || code == kDfuAbort
          ? kClassOut
          : kClassIn;
  p.request = code;
  p.value = value;
  p.length = length;
  return p;
}

// Sends DNLOAD with `data` as block `block`, then GETSTATUS; returns the state it reports.
DfuState downloadBlock(DfuStateMachine& dfu, const Bytes& data, std::uint16_t block) {
  EXPECT_TRUE(
      dfu.handle(request(kDfuDnload, static_cast<std::uint16_t>(data.size()), block), data));
  const ControlReply status = dfu.handle(request(kDfuGetStatus), {});
  EXPECT_TRUE(status);
  return status ? static_cast<DfuState>((*status)[4]) : DfuState::Error;
}

TEST(DfuStateMachine, RuntimeDetachReenumeratesAtOnceOrAfterAReset) {
  for (const bool willDetach : {true, false}) {
    DfuStateMachine dfu(options(false, willDetach));
    EXPECT_EQ(dfu.handle(request(kDfuGetStatus), {}), (Bytes{0, 0, 0, 0, 0, 0}));
    EXPECT_TRUE(dfu.handle(request(kDfuDetach, 0, 1000), {}));
    EXPECT_EQ(dfu.state(), DfuState::AppDetach);
    EXPECT_EQ(dfu.reenumeration(), willDetach ? Reenumeration::AsDfu : Reenumeration::None);
    dfu.usbReset();
    EXPECT_EQ(dfu.reenumeration(), Reenumeration::AsDfu);
  }
}

TEST(DfuStateMachine, RuntimeStallsWhatOnlyDfuModeDoes) {
  DfuStateMachine dfu(options(false));
  for (const std::uint8_t code : {kDfuDnload, kDfuUpload, kDfuClrStatus, kDfuAbort}) {
    EXPECT_FALSE(dfu.handle(request(code, 0), {})) << int(code);
  }
  EXPECT_EQ(dfu.state(), DfuState::AppIdle);
  dfu.usbReset();  // a reset without a detach changes nothing
  EXPECT_EQ(dfu.reenumeration(), Reenumeration::None);
}

TEST(DfuStateMachine, DownloadManifestsTheReceivedImage) {
  DfuStateMachine dfu(options(true));
  EXPECT_EQ(downloadBlock(dfu, {0x02, 0x01, 'a'}, 0), DfuState::DnloadIdle);
  EXPECT_EQ(downloadBlock(dfu, {'b', 'c'}, 1), DfuState::DnloadIdle);
  EXPECT_EQ(dfu.handle(request(kDfuGetState, 1), {}), Bytes{5});
  EXPECT_TRUE(dfu.handle(request(kDfuDnload, 0, 2), {}));
  EXPECT_EQ(dfu.state(), DfuState::ManifestSync);
  EXPECT_FALSE(dfu.manifestedImage());
  EXPECT_EQ((*dfu.handle(request(kDfuGetStatus), {}))[4], 7);  // dfuMANIFEST
  EXPECT_EQ((*dfu.handle(request(kDfuGetStatus), {}))[4], 8);  // dfuMANIFEST-WAIT-RESET
  EXPECT_EQ(dfu.manifestedImage(), (Bytes{0x02, 0x01, 'a', 'b', 'c'}));
  EXPECT_EQ(dfu.reenumeration(), Reenumeration::AsRuntime);
  EXPECT_FALSE(dfu.handle(request(kDfuGetStatus), {}));  // waits for its reset
}

TEST(DfuStateMachine, WriteErrorKeepsTheOldFirmwareUntilCleared) {
  DfuStateMachine dfu(options(true, true, 0));
  EXPECT_EQ(downloadBlock(dfu, {0x02, 0x01}, 0), DfuState::Error);
  EXPECT_EQ(dfu.status(), DfuStatus::ErrWrite);
  EXPECT_FALSE(dfu.handle(request(kDfuDnload, 1), {1}));  // nothing but status requests in dfuERROR
  EXPECT_EQ(dfu.status(), DfuStatus::ErrWrite);
  EXPECT_TRUE(dfu.handle(request(kDfuClrStatus, 0), {}));
  EXPECT_EQ(dfu.state(), DfuState::DfuIdle);
  EXPECT_FALSE(dfu.manifestedImage());
  EXPECT_EQ(dfu.reenumeration(), Reenumeration::None);
}

TEST(DfuStateMachine, ProtocolErrorsStallIntoDfuErrorAndAbortDiscards) {
  const struct {
    std::uint8_t code;
    std::uint16_t length;
  } invalidInIdle[] = {{kDfuDnload, 0}, {kDfuUpload, 64}, {kDfuDetach, 0}, {kDfuClrStatus, 0}};
  for (const auto& c : invalidInIdle) {
    DfuStateMachine dfu(options(true));
    EXPECT_FALSE(dfu.handle(request(c.code, c.length), {})) << int(c.code);
    EXPECT_EQ(dfu.state(), DfuState::Error) << int(c.code);
    EXPECT_EQ(dfu.status(), DfuStatus::ErrStalledPacket);
  }
  DfuStateMachine dfu(options(true));
  downloadBlock(dfu, {1, 2, 3}, 0);
  EXPECT_TRUE(dfu.handle(request(kDfuAbort, 0), {}));
  EXPECT_EQ(dfu.state(), DfuState::DfuIdle);
  EXPECT_FALSE(dfu.handle(request(kDfuDnload, 0), {}));  // the aborted download is gone
}

TEST(DfuStateMachine, ImageLargerThanTheDeviceIsRefused) {
  DfuStateMachine dfu(options(true, true, std::nullopt, 4));
  EXPECT_EQ(downloadBlock(dfu, {1, 2, 3}, 0), DfuState::DnloadIdle);
  EXPECT_EQ(downloadBlock(dfu, {4, 5}, 1), DfuState::Error);
  EXPECT_EQ(dfu.status(), DfuStatus::ErrAddress);
}

TEST(EmulatedDevice, AnswersDescriptorsAndCutsRepliesToTheRequestedLength) {
  UsbIdentity id;
  id.serial = "S1";
  id.interfaceNames = {"Orvale"};
  EmulatedDevice device(id, options(false));
  SetupPacket get;
  get.requestType = 0x80;
  get.request = 6;
  get.value = 0x0303;  // string 3: the serial number
  get.length = 255;
  EXPECT_EQ(device.control(get, {}), (Bytes{6, 3, 'S', 0, '1', 0}));
  get.length = 2;
  EXPECT_EQ(device.control(get, {}), (Bytes{6, 3}));
  get.value = 0x0309;  // no such string
  EXPECT_FALSE(device.control(get, {}));
  get.value = 0x0200;
  get.length = 255;
  const Bytes configuration = *device.control(get, {});
  ASSERT_EQ(configuration.size(), 27u);
  EXPECT_EQ(configuration[2], 27);
  EXPECT_EQ(Bytes(configuration.begin() + 18, configuration.end()),
            (Bytes{9, 0x21, 0x09, 0xE8, 0x03, 0x00, 0x04, 0x10, 0x01}));
}

TEST(Bus, StateAfterRunFollowsTheDevice) {
  DeviceStateFile state;
  state.absentAfterDetach = 2;
  DfuStateMachine detached(options(false));
  detached.handle(request(kDfuDetach, 0), {});
  state = stateAfterRun(state, &detached);
  EXPECT_EQ(state.mode, "dfu");
  EXPECT_EQ(state.absentRuns, 2);
  EXPECT_TRUE(devicesOnBus(state).empty());
  state = stateAfterRun(stateAfterRun(state, nullptr), nullptr);
  ASSERT_EQ(devicesOnBus(state).size(), 1u);
  EXPECT_EQ(devicesOnBus(state).front().identity.product, 0x8352);

  DfuStateMachine manifested(options(true));
  downloadBlock(manifested, {0x02, 0x01, 'x'}, 0);
  manifested.handle(request(kDfuDnload, 0, 1), {});
  manifested.handle(request(kDfuGetStatus), {});
  manifested.handle(request(kDfuGetStatus), {});
  state = stateAfterRun(state, &manifested);
  EXPECT_EQ(state.mode, "runtime");
  EXPECT_EQ(state.version, "0102");
}

}  // namespace
}  // namespace qwus::usbdevice
