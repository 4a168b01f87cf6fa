// One emulated USB device as its control endpoint answers: the standard requests from its
// descriptors, the DFU class requests from its state machine, the vendor request for its Microsoft
// OS 2.0 descriptor set. Plain C++, no USB transport.
#pragma once

#include "tools/orvale_usb_device/descriptors.h"
#include "tools/orvale_usb_device/dfu_state_machine.h"

namespace qwus::usbdevice {

class EmulatedDevice {
 public:
  EmulatedDevice(UsbIdentity identity, DfuStateMachine::Options dfu);

  // One control transfer: `data` is what the host sends with a host-to-device request. Returns
  // the reply cut to setup.length, or nothing for a stall.
  ControlReply control(const SetupPacket& setup, const Bytes& data);
  // A USB reset from the host.
  void usbReset() { dfu_.usbReset(); }

  const UsbIdentity& identity() const noexcept { return identity_; }
  const DfuStateMachine& dfu() const noexcept { return dfu_; }

 private:
  ControlReply standardRequest(const SetupPacket& setup);

  UsbIdentity identity_;
  DfuStateMachine dfu_;
};

}  // namespace qwus::usbdevice
