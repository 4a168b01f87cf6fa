// libFuzzer target: arbitrary tool output, through the ANSI conversion, into the listing parser.
// The first byte chooses the starting state: the device mode (0, 1 or 2) and the force flag.
#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/ansi_text.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/null_platform.h"
#include "upgrade/orvale_upgrade_process.h"

namespace {

using namespace qwus;

using testing::NullClock;
using testing::NullTrace;

class NoProcesses final : public ProcessLauncher {
 public:
  std::unique_ptr<OutputPipe> createOutputPipe() override { return nullptr; }
  bool startProcess(Text&, OutputPipe&) override { return false; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static testing::NullEventLog log;
  static EventSource events(log, kEngineSourceName, kEngineFirstEventId);
  static const bool registered = (registerEventSource(events), true);
  (void)registered;
  static NullTrace trace;
  static NullClock clock;
  static NoProcesses processes;

  OrvaleUpgradeProcess engine({events, systemFileSystem(), processes, clock, trace, u""});
  const std::int32_t startMode = data[0] % 3;
  engine.updev.mode = startMode;
  engine.forceUpgrade = (data[0] & 4) != 0;
  engine.targetVersion = u"0102";

  // The tool's output reaches the parser as a zero-terminated narrow text.
  const std::string narrow(reinterpret_cast<const char*>(data + 1), size - 1);
  engine.analyseBuffer(ansiToText(narrow.c_str()));

  const DfuDeviceInfo& device = engine.updev;
  const bool modeValid = device.mode == startMode || device.mode == 0 || device.mode == 1;
  const bool dfuStays = startMode != 1 || device.mode == 1;
  const bool trimmed = (device.version.empty() || (!isWhiteSpace(device.version.front()) &&
                                                   !isWhiteSpace(device.version.back()))) &&
                       (device.sn.empty() || (!isWhiteSpace(device.sn.front()) &&
                                              !isWhiteSpace(device.sn.back())));
  const bool snUnquoted = device.sn.find(u'"') == Text::npos;
  if (!modeValid || !dfuStays || !trimmed || !snUnquoted) __builtin_trap();
  return 0;
}
