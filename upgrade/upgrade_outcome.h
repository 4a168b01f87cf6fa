// The outcome of one handled upgrade run, as a fleet counts it, and its report on the outcome
// event source: one event whose fixed id names the outcome and whose strings name the device,
// the versions, the package and the tool's last line.
#pragma once

#include <cstdint>

#include "eventlog/event_source.h"
#include "platform/text.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {

// The outcomes; each value is the event id that Event Viewer shows for it.
enum class UpgradeOutcome : std::uint16_t {
  Downloaded = 1000,      // the download ran and the tool reported it done ("Download done.")
  DownloadFailed = 1001,  // the download ran and the tool did not report it done
  UpToDate = 1002,        // the device is at the package's version already, or newer
  DeviceNotSeen = 1003,   // neither listing showed an Orvale device
  ToolNotStarted = 1004,  // dfu-util.exe, or the pipe for its output, could not be started
  Detached = 1005,        // the device was switched into DFU mode; its return starts the next run
};

// The outcome of a run whose listing step succeeded, from doUpgrade's result and the run's record.
UpgradeOutcome classifyOutcome(int upgradeResult, const OrvaleUpgradeProcess& run);

// The event type that says what the outcome means: Error for a failed download or a tool that did
// not start, Warning for a device not seen, Information otherwise.
EventType outcomeEventType(UpgradeOutcome outcome) noexcept;

// The message identifier of the outcome's event in the message file: its severity (1
// informational, 2 warning, 3 error, following the event type) in the top two bits, the outcome's
// number in the low 16. Event Viewer shows the low 16 bits as the event id.
std::uint32_t outcomeMessageId(UpgradeOutcome outcome) noexcept;

// The last line of a tool's output that holds more than white space: lines end at LF, a CR inside
// a line starts it again (as a console shows a progress bar), and the line is trimmed and cut to
// 255 code units. Empty when there is none.
Text lastToolLine(TextView output);

// Reports the outcome of the run on `source` with its five strings: the device's serial number
// (deviceSerial), its version before the run, the package's version, the package's file name and
// the tool's last line.
void reportOutcome(EventSource& source, int upgradeResult, const OrvaleUpgradeProcess& run);

}  // namespace qwus
