// The device's DFU 1.1 class requests and states, in runtime and in DFU mode. Plain C++: no USB
// transport, so tests drive it request by request.
#pragma once

#include <cstdint>
#include <optional>

#include "tools/orvale_usb_device/usb_types.h"

namespace qwus::usbdevice {

// DFU class request codes (bRequest).
enum DfuRequest : std::uint8_t {
  kDfuDetach = 0,
  kDfuDnload = 1,
  kDfuUpload = 2,
  kDfuGetStatus = 3,
  kDfuClrStatus = 4,
  kDfuGetState = 5,
  kDfuAbort = 6,
};

// DFU 1.1 states, numbered as on the wire.
enum class DfuState : std::uint8_t {
  AppIdle = 0,
  AppDetach = 1,
  DfuIdle = 2,
  DnloadSync = 3,
  DnBusy = 4,
  DnloadIdle = 5,
  ManifestSync = 6,
  Manifest = 7,
  ManifestWaitReset = 8,
  UploadIdle = 9,
  Error = 10,
};

// DFU 1.1 status codes used here.
enum class DfuStatus : std::uint8_t {
  Ok = 0,
  ErrWrite = 3,
  ErrAddress = 8,
  ErrStalledPacket = 15,
};

// What the device does after this run, as the bus sees it.
enum class Reenumeration {
  None,       // stays as it is
  AsDfu,      // leaves runtime mode and comes back in DFU mode
  AsRuntime,  // manifestation done: comes back in runtime mode with the new firmware
};

class DfuStateMachine {
 public:
  struct Options {
    bool dfuMode = false;    // starts in dfuIDLE rather than appIDLE
    bool willDetach = true;  // a detach takes effect at once, without a USB reset
    // After manifestation the device reports dfuIDLE and restarts into the new image by itself;
    // without it, it waits in dfuMANIFEST-WAIT-RESET for the host's USB reset.
    bool manifestationTolerant = true;
    std::optional<std::size_t> failDownloadAtBlock;  // this block reports errWRITE
    std::size_t maxImageSize = 1 << 20;
  };

  explicit DfuStateMachine(Options options);

  // One DFU class request addressed to the DFU interface, with the data of a host-to-device
  // request. Returns the reply, or nothing for a stall (which puts a DFU-mode device into
  // dfuERROR).
  ControlReply handle(const SetupPacket& setup, const Bytes& data);

  // A USB reset: a detached runtime device re-enumerates in DFU mode; a DFU-mode device in runtime
  // mode, with its new image once manifested, and with its old one unless a download had begun.
  void usbReset();

  DfuState state() const noexcept { return state_; }
  DfuStatus status() const noexcept { return status_; }
  Reenumeration reenumeration() const noexcept { return reenumeration_; }
  // The image of a completed download, set once manifestation has finished.
  const std::optional<Bytes>& manifestedImage() const noexcept { return manifested_; }

 private:
  ControlReply runtimeRequest(const SetupPacket& setup);
  ControlReply dfuRequest(const SetupPacket& setup, const Bytes& data);
  ControlReply download(const SetupPacket& setup, const Bytes& data);
  ControlReply getStatus();
  ControlReply stall(DfuStatus status);
  Bytes statusReply(std::uint32_t pollTimeoutMs) const;

  Options options_;
  DfuState state_;
  DfuStatus status_ = DfuStatus::Ok;
  Bytes received_;
  std::size_t blocks_ = 0;
  Reenumeration reenumeration_ = Reenumeration::None;
  std::optional<Bytes> manifested_;
};

}  // namespace qwus::usbdevice
