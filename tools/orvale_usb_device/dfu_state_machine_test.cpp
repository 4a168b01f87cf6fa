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

// A tolerant device ends its manifestation in dfuIDLE and restarts into the image by itself (what
// dfu-util then prints is "DFU state(2) = dfuIDLE" and "Done!", and it resets nothing); an
// intolerant one waits in dfuMANIFEST-WAIT-RESET, answering nothing, until the host resets it.
TEST(DfuStateMachine, DownloadManifestsTheReceivedImage) {
  for (const bool tolerant : {true, false}) {
    SCOPED_TRACE(tolerant ? "manifestation tolerant" : "waits for a reset");
    DfuStateMachine::Options o = options(true);
    o.manifestationTolerant = tolerant;
    DfuStateMachine dfu(o);
    EXPECT_EQ(downloadBlock(dfu, {0x02, 0x01, 'a'}, 0), DfuState::DnloadIdle);
    EXPECT_EQ(downloadBlock(dfu, {'b', 'c'}, 1), DfuState::DnloadIdle);
    EXPECT_EQ(dfu.handle(request(kDfuGetState, 1), {}), Bytes{5});
    EXPECT_TRUE(dfu.handle(request(kDfuDnload, 0, 2), {}));
    EXPECT_EQ(dfu.state(), DfuState::ManifestSync);
    EXPECT_FALSE(dfu.manifestedImage());
    EXPECT_EQ((*dfu.handle(request(kDfuGetStatus), {}))[4], 7);  // dfuMANIFEST
    EXPECT_EQ((*dfu.handle(request(kDfuGetStatus), {}))[4], tolerant ? 2 : 8);
    EXPECT_EQ(dfu.manifestedImage(), (Bytes{0x02, 0x01, 'a', 'b', 'c'}));
    EXPECT_EQ(dfu.reenumeration(), tolerant ? Reenumeration::AsRuntime : Reenumeration::None);
    EXPECT_EQ(dfu.handle(request(kDfuGetStatus), {}).has_value(), tolerant);
    dfu.usbReset();
    EXPECT_EQ(dfu.reenumeration(), Reenumeration::AsRuntime);
  }
}

// In DFU mode a USB reset restarts the firmware it holds, unless a download has begun overwriting
// it and has not manifested.
TEST(DfuStateMachine, ResetInDfuModeRestartsAWholeImageOnly) {
  DfuStateMachine idle(options(true));
  idle.usbReset();
  EXPECT_EQ(idle.reenumeration(), Reenumeration::AsRuntime);
  DfuStateMachine halfWay(options(true));
  downloadBlock(halfWay, {0x02, 0x01}, 0);
  halfWay.usbReset();
  EXPECT_EQ(halfWay.reenumeration(), Reenumeration::None);
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
            (Bytes{9, 0x21, 0x0D, 0xE8, 0x03, 0x00, 0x04, 0x10, 0x01}));
}

// The BOS and the Microsoft OS 2.0 descriptor set of a single-function WinUSB device, byte by byte
// in Microsoft's published layout.
const Bytes kBos = {
    0x05, 0x0F, 0x21, 0x00, 0x01,                    // BOS header: 33 bytes, one capability
    0x1C, 0x10, 0x05, 0x00,                          // platform capability, 28 bytes
    0xDF, 0x60, 0xDD, 0xD8, 0x89, 0x45, 0xC7, 0x4C,  // {D8DD60DF-4589-4CC7-
    0x9C, 0xD2, 0x65, 0x9D, 0x9E, 0x64, 0x8A, 0x9F,  // 9CD2-659D9E648A9F}
    0x00, 0x00, 0x03, 0x06,                          // Windows 8.1
    0xA2, 0x00, 0x20, 0x00};                         // set of 162 bytes, vendor code 0x20
const Bytes kMsOs20Set = {
    0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x03, 0x06, 0xA2, 0x00,  // set header, 162 bytes
    0x14, 0x00, 0x03, 0x00, 'W', 'I', 'N', 'U', 'S', 'B', 0, 0,  // compatible ID
    0, 0, 0, 0, 0, 0, 0, 0,                                      // no sub-compatible ID
    0x84, 0x00, 0x04, 0x00, 0x07, 0x00, 0x2A, 0x00,  // registry property, REG_MULTI_SZ, name
    'D', 0, 'e', 0, 'v', 0, 'i', 0, 'c', 0, 'e', 0, 'I', 0, 'n', 0, 't', 0, 'e', 0, 'r', 0,
    'f', 0, 'a', 0, 'c', 0, 'e', 0, 'G', 0, 'U', 0, 'I', 0, 'D', 0, 's', 0, 0, 0,
    0x50, 0x00,  // data
    '{', 0, '5', 0, 'E', 0, '1', 0, 'C', 0, '7', 0, 'A', 0, '9', 0, '3', 0, '-', 0,
    '2', 0, 'B', 0, '6', 0, '4', 0, '-', 0, '4', 0, 'D', 0, '0', 0, 'F', 0, '-', 0,
    '9', 0, 'A', 0, '8', 0, '3', 0, '-', 0, 'C', 0, '6', 0, '1', 0, 'E', 0, '2', 0,
    '7', 0, 'B', 0, '4', 0, 'D', 0, '8', 0, '5', 0, '0', 0, '}', 0, 0, 0, 0, 0};

// What each device on the bus answers for the requests Windows sends to bind WinUSB: the Orvale
// device has the descriptors in both modes unless the state file takes them away; the other maker's
// device never has them.
TEST(EmulatedDevice, AnswersMicrosoftOsDescriptorsOnlyWhenItHasThem) {
  const struct {
    const char* name;
    const char* mode;
    bool msOsDescriptors;
    bool otherDevice;
    bool expected;
  } devices[] = {{"runtime", "runtime", true, false, true},
                 {"DFU mode", "dfu", true, false, true},
                 {"runtime without", "runtime", false, false, false},
                 {"DFU mode without", "dfu", false, false, false},
                 {"other maker's device", "dfu", true, true, false}};
  const struct {
    const char* name;
    std::uint8_t requestType;
    std::uint8_t request;
    std::uint16_t value;
    std::uint16_t index;
    std::uint16_t length;
    Bytes reply;  // with the descriptors; without them, a stall
  } requests[] = {
      {"whole BOS", 0x80, 6, 0x0F00, 0, 255, kBos},
      {"BOS header", 0x80, 6, 0x0F00, 0, 5, Bytes(kBos.begin(), kBos.begin() + 5)},
      {"whole set", 0xC0, 0x20, 0, 7, 255, kMsOs20Set},
      {"set header", 0xC0, 0x20, 0, 7, 10, Bytes(kMsOs20Set.begin(), kMsOs20Set.begin() + 10)},
      {"set, wIndex 6", 0xC0, 0x20, 0, 6, 255, {}},
      {"another vendor code", 0xC0, 0x21, 0, 7, 255, {}},
      {"set to the interface", 0xC1, 0x20, 0, 7, 255, {}},
  };
  for (const auto& d : devices) {
    SCOPED_TRACE(d.name);
    DeviceStateFile state;
    state.mode = d.mode;
    state.msOsDescriptors = d.msOsDescriptors;
    state.otherDevice = d.otherDevice;
    const BusDevice onBus = devicesOnBus(state).back();
    EmulatedDevice device(onBus.identity, onBus.dfu);

    const ControlReply descriptor = device.control({0x80, 6, 0x0100, 0, 18}, {});
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(Bytes(descriptor->begin() + 2, descriptor->begin() + 4),
              d.expected ? (Bytes{0x10, 0x02}) : (Bytes{0x00, 0x02}));  // bcdUSB 2.10 or 2.00
    for (const auto& r : requests) {
      SCOPED_TRACE(r.name);
      const ControlReply reply =
          device.control({r.requestType, r.request, r.value, r.index, r.length}, {});
      if (d.expected && !r.reply.empty()) {
        EXPECT_EQ(reply, r.reply);
      } else {
        EXPECT_FALSE(reply);
      }
    }
  }
}

// The MS OS 1.0 descriptors, byte by byte in Microsoft's published layout: the string descriptor
// 0xEE ("MSFT100", vendor code 0x20), the extended compat ID (WINUSB for interface 0) and the
// extended properties (DeviceInterfaceGUIDs, REG_MULTI_SZ).
const Bytes kOsString = {0x12, 0x03, 'M', 0, 'S', 0, 'F', 0, 'T', 0, '1', 0, '0', 0, '0', 0,
                         0x20, 0x00};
const Bytes kCompatibleId = {
    0x28, 0x00, 0x00, 0x00, 0x00, 0x01, 0x04, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0,  // 40 bytes, one
    0x00, 0x01, 'W', 'I', 'N', 'U', 'S', 'B', 0, 0,  // interface 0, reserved 1, compatible ID
    0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};       // no sub-compatible ID, reserved
Bytes extendedProperties() {
  Bytes d = {0x92, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x00, 0x01, 0x00,  // 146 bytes, one
             0x88, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00, 0x2A, 0x00};  // 136, REG_MULTI_SZ
  // The name and the data as in the MS OS 2.0 set's registry property.
  d.insert(d.end(), kMsOs20Set.begin() + 38, kMsOs20Set.begin() + 80);
  d.insert(d.end(), {0x50, 0x00, 0x00, 0x00});
  d.insert(d.end(), kMsOs20Set.begin() + 82, kMsOs20Set.end());
  return d;
}

TEST(EmulatedDevice, AnswersMicrosoftOs10DescriptorsAsPublished) {
  for (const char* mode : {"runtime", "dfu"}) {
    SCOPED_TRACE(mode);
    DeviceStateFile state;
    state.mode = mode;
    state.msOsDescriptors = false;
    state.msOs10 = true;
    const BusDevice onBus = devicesOnBus(state).front();
    EmulatedDevice device(onBus.identity, onBus.dfu);
    const ControlReply descriptor = device.control({0x80, 6, 0x0100, 0, 18}, {});
    ASSERT_TRUE(descriptor);
    EXPECT_EQ((*descriptor)[2], 0x00);  // bcdUSB 2.00: no BOS
    EXPECT_EQ((*descriptor)[3], 0x02);
    EXPECT_EQ(device.control({0x80, 6, 0x03EE, 0, 18}, {}), kOsString);
    EXPECT_EQ(device.control({0xC0, 0x20, 0, 4, 255}, {}), kCompatibleId);
    EXPECT_EQ(device.control({0xC1, 0x20, 0, 5, 255}, {}), extendedProperties());
    EXPECT_FALSE(device.control({0x80, 6, 0x0F00, 0, 5}, {}));
    EXPECT_FALSE(device.control({0xC0, 0x20, 0, 7, 255}, {}));
  }
  // A device with MS OS 2.0 descriptors has no 0xEE string.
  const BusDevice onBus = devicesOnBus(DeviceStateFile{}).front();
  EmulatedDevice device(onBus.identity, onBus.dfu);
  EXPECT_FALSE(device.control({0x80, 6, 0x03EE, 0, 18}, {}));
  EXPECT_FALSE(device.control({0xC0, 0x20, 0, 4, 255}, {}));
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

// What Windows would announce of each run: the interface that went and the one that came, with
// the path it builds from the ids and the serial number of each mode.
TEST(Bus, ReenumerationsLeaveAndArriveUnderWindowsPaths) {
  const std::string tail = "#{5e1c7a93-2b64-4d0f-9a83-c61e27b4d850}";
  const std::string runtime = "\\\\?\\USB#VID_C4E2&PID_8351#";
  const std::string dfu = "\\\\?\\USB#VID_C4E2&PID_8352#";
  DfuStateMachine detached(options(false));
  detached.handle(request(kDfuDetach, 0), {});
  DfuStateMachine detachWaitsForReset(options(false, false));
  detachWaitsForReset.handle(request(kDfuDetach, 0), {});
  DfuStateMachine manifested(options(true));
  downloadBlock(manifested, {0x02, 0x01, 'x'}, 0);
  manifested.handle(request(kDfuDnload, 0, 1), {});
  manifested.handle(request(kDfuGetStatus), {});
  manifested.handle(request(kDfuGetStatus), {});
  DeviceStateFile otherSerial;
  otherSerial.dfuSerial = "B0000";
  DeviceStateFile staysAway;
  staysAway.absentAfterDetach = 5;
  DeviceStateFile hostile;
  hostile.serial = "A7 X\\ 22";
  DeviceStateFile inDfuMode;
  inDfuMode.mode = "dfu";
  const struct {
    const char* name;
    DeviceStateFile before;
    const DfuStateMachine* orvale;
    std::vector<std::string> changes;
  } cases[] = {
      {"detach", {}, &detached, {"leave " + runtime + "A7X2249" + tail, "arrive " + dfu + "A7X2249" + tail}},
      {"another serial in DFU mode", otherSerial, &detached,
       {"leave " + runtime + "A7X2249" + tail, "arrive " + dfu + "B0000" + tail}},
      {"stays away after the detach", staysAway, &detached, {"leave " + runtime + "A7X2249" + tail}},
      {"a serial that cannot be an instance id", hostile, &detached,
       {"leave " + runtime + "6&1f0e3c2a&0&1" + tail, "arrive " + dfu + "6&1f0e3c2a&0&1" + tail}},
      {"manifested", inDfuMode, &manifested,
       {"leave " + dfu + "A7X2249" + tail, "arrive " + runtime + "A7X2249" + tail}},
      {"detach that waits for a reset", {}, &detachWaitsForReset, {}},
      {"the device was away", {}, nullptr, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(busChanges(c.before, stateAfterRun(c.before, c.orvale), c.orvale), c.changes);
  }
}

}  // namespace
}  // namespace qwus::usbdevice
