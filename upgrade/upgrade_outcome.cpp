// The outcome of a handled upgrade run and its report.
#include "upgrade/upgrade_outcome.h"

#include "upgrade/listing_parser.h"

namespace qwus {
namespace {

constexpr std::size_t kLastLineLength = 255;

bool reportsDownloadDone(TextView output) {
  LineSplitter lines(output);
  while (const auto line = lines.next()) {
    if (trim(*line) == u"Download done.") return true;
  }
  return false;
}

}  // namespace

UpgradeOutcome classifyOutcome(int upgradeResult, const OrvaleUpgradeProcess& run) {
  switch (upgradeResult) {
    case kOutcomeDetached:
      return run.toolStarted ? UpgradeOutcome::Detached : UpgradeOutcome::ToolNotStarted;
    case kOutcomeToolRan:
      return reportsDownloadDone(run.toolOutput) ? UpgradeOutcome::Downloaded
                                                 : UpgradeOutcome::DownloadFailed;
    case kOutcomeUpToDate:
      return UpgradeOutcome::UpToDate;
    case kOutcomeFailed:
      // With retry set, the device was in neither listing; without it, no pipe could be made.
      return run.retry ? UpgradeOutcome::DeviceNotSeen : UpgradeOutcome::ToolNotStarted;
    default:
      return UpgradeOutcome::ToolNotStarted;
  }
}

EventType outcomeEventType(UpgradeOutcome outcome) noexcept {
  switch (outcome) {
    case UpgradeOutcome::DownloadFailed:
    case UpgradeOutcome::ToolNotStarted:
      return EventType::Error;
    case UpgradeOutcome::DeviceNotSeen:
      return EventType::Warning;
    default:
      return EventType::Information;
  }
}

std::uint32_t outcomeMessageId(UpgradeOutcome outcome) noexcept {
  std::uint32_t severity = 1;
  switch (outcomeEventType(outcome)) {
    case EventType::Error: severity = 3; break;
    case EventType::Warning: severity = 2; break;
    default: break;
  }
  return severity << 30 | static_cast<std::uint32_t>(outcome);
}

Text lastToolLine(TextView output) {
  Text last;
  LineSplitter lines(output);
  while (auto line = lines.next()) {
    // A CR that ends the line is part of its line end; one inside it starts the line again.
    while (!line->empty() && line->back() == u'\r') line->remove_suffix(1);
    const std::size_t restart = line->rfind(u'\r');
    if (restart != TextView::npos) line->remove_prefix(restart + 1);
    Text trimmed = trim(*line);
    if (!trimmed.empty()) last = std::move(trimmed);
  }
  if (last.size() > kLastLineLength) last.resize(kLastLineLength);
  return last;
}

void reportOutcome(EventSource& source, int upgradeResult, const OrvaleUpgradeProcess& run) {
  const UpgradeOutcome outcome = classifyOutcome(upgradeResult, run);
  const Text lastLine = lastToolLine(run.toolOutput);
  const char16_t* strings[] = {run.deviceSerial.c_str(), run.updev.version.c_str(),
                               run.targetVersion.c_str(), run.packageName.c_str(),
                               lastLine.c_str()};
  reportFixedEvent(source, outcomeEventType(outcome), outcomeMessageId(outcome), strings, 5);
}

}  // namespace qwus
