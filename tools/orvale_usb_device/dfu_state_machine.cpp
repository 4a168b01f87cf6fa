// The DFU 1.1 state machine of the emulated device.
#include "tools/orvale_usb_device/dfu_state_machine.h"

namespace qwus::usbdevice {

DfuStateMachine::DfuStateMachine(Options options)
    : options_(options), state_(options.dfuMode ? DfuState::DfuIdle : DfuState::AppIdle) {}

ControlReply DfuStateMachine::handle(const SetupPacket& setup, const Bytes& data) {
  if (!options_.dfuMode) return runtimeRequest(setup);
  return dfuRequest(setup, data);
}

void DfuStateMachine::usbReset() {
  if (!options_.dfuMode) {
    if (state_ == DfuState::AppDetach) reenumeration_ = Reenumeration::AsDfu;
    return;
  }
  // A download that began and never manifested has overwritten part of the old image.
  const bool imageIncomplete = blocks_ > 0 && !manifested_;
  if (!imageIncomplete) reenumeration_ = Reenumeration::AsRuntime;
}

ControlReply DfuStateMachine::runtimeRequest(const SetupPacket& setup) {
  switch (setup.request) {
    case kDfuGetStatus:
      return statusReply(0);
    case kDfuGetState:
      return Bytes{static_cast<std::uint8_t>(state_)};
    case kDfuDetach:
      if (state_ != DfuState::AppIdle) return std::nullopt;
      state_ = DfuState::AppDetach;
      // A device without bitWillDetach waits for the host's USB reset.
      if (options_.willDetach) reenumeration_ = Reenumeration::AsDfu;
      return Bytes{};
    default:
      return std::nullopt;
  }
}

ControlReply DfuStateMachine::dfuRequest(const SetupPacket& setup, const Bytes& data) {
  // GETSTATE is answered in every state that answers at all.
  if (setup.request == kDfuGetState && state_ != DfuState::ManifestWaitReset) {
    return Bytes{static_cast<std::uint8_t>(state_)};
  }
  switch (state_) {
    case DfuState::DfuIdle:
    case DfuState::DnloadIdle:
      if (setup.request == kDfuDnload) return download(setup, data);
      if (setup.request == kDfuGetStatus) return getStatus();
      if (setup.request == kDfuAbort) {
        received_.clear();
        blocks_ = 0;
        state_ = DfuState::DfuIdle;
        return Bytes{};
      }
      return stall(DfuStatus::ErrStalledPacket);
    case DfuState::DnloadSync:
    case DfuState::ManifestSync:
    case DfuState::Manifest:
    case DfuState::Error:
      if (setup.request == kDfuGetStatus) return getStatus();
      if (state_ == DfuState::Error && setup.request == kDfuClrStatus) {
        status_ = DfuStatus::Ok;
        state_ = DfuState::DfuIdle;
        return Bytes{};
      }
      return stall(state_ == DfuState::Error ? status_ : DfuStatus::ErrStalledPacket);
    case DfuState::ManifestWaitReset:
      return std::nullopt;  // only a USB reset gets the device out of here
    default:
      return stall(DfuStatus::ErrStalledPacket);
  }
}

ControlReply DfuStateMachine::download(const SetupPacket& setup, const Bytes& data) {
  if (setup.length == 0) {
    // The empty block ends the download; starting with one is a protocol error.
    if (state_ == DfuState::DfuIdle) return stall(DfuStatus::ErrStalledPacket);
    state_ = DfuState::ManifestSync;
    return Bytes{};
  }
  if (received_.size() + data.size() > options_.maxImageSize) {
    status_ = DfuStatus::ErrAddress;
  } else if (options_.failDownloadAtBlock == blocks_) {
    status_ = DfuStatus::ErrWrite;
  } else {
    received_.insert(received_.end(), data.begin(), data.end());
  }
  ++blocks_;
  state_ = DfuState::DnloadSync;
  return Bytes{};
}

ControlReply DfuStateMachine::getStatus() {
  switch (state_) {
    case DfuState::DnloadSync:
      if (status_ != DfuStatus::Ok) {
        // The block could not be written: the old firmware stays.
        received_.clear();
        state_ = DfuState::Error;
      } else {
        state_ = DfuState::DnloadIdle;
      }
      break;
    case DfuState::ManifestSync:
      state_ = DfuState::Manifest;
      break;
    case DfuState::Manifest:
      // Manifestation is over. A tolerant device says so with dfuIDLE and then restarts into the
      // new image by itself; an intolerant one runs it only after the host's USB reset.
      manifested_ = received_;
      if (options_.manifestationTolerant) {
        state_ = DfuState::DfuIdle;
        reenumeration_ = Reenumeration::AsRuntime;
      } else {
        state_ = DfuState::ManifestWaitReset;
      }
      break;
    default:
      break;
  }
  return statusReply(0);
}

ControlReply DfuStateMachine::stall(DfuStatus status) {
  if (options_.dfuMode) {
    status_ = status;
    state_ = DfuState::Error;
  }
  return std::nullopt;
}

Bytes DfuStateMachine::statusReply(std::uint32_t pollTimeoutMs) const {
  return Bytes{static_cast<std::uint8_t>(status_),
               static_cast<std::uint8_t>(pollTimeoutMs & 0xFF),
               static_cast<std::uint8_t>((pollTimeoutMs >> 8) & 0xFF),
               static_cast<std::uint8_t>((pollTimeoutMs >> 16) & 0xFF),
               static_cast<std::uint8_t>(state_),
               0};
}

}  // namespace qwus::usbdevice
