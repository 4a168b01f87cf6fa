// The listing parser: turns the text a dfu-util run printed into the device record.
#include "upgrade/listing_parser.h"

#include <algorithm>
#include <string>

#include "upgrade/orvale_device.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

// USB ids of the supported device in its two modes, as the tool prints them.
constexpr auto kRuntimeId = usbIdPair(orvaleRuntimeProductId);
constexpr auto kDfuId = usbIdPair(orvaleDfuProductId);

// The tool's warning for a device it found but may not open (no WinUSB driver bound, no access
// rights). It names the device id and "DFU" but says nothing of the device's state.
constexpr TextView kCannotOpen = u"Cannot open DFU device";

Text decimalText(std::int32_t value) { return fromAscii(std::to_string(value)); }

// True when `word` occurs in `line` and its first occurrence is not at the line's first character.
// A line that starts with the state word is not a device line of the tool.
bool namesStateAfterStart(TextView line, TextView word) noexcept {
  const std::size_t at = line.find(word);
  return at != TextView::npos && at != 0;
}

Text withoutQuotes(TextView text) {
  Text out;
  out.reserve(text.size());
  for (char16_t c : text) {
    if (c != u'"') out.push_back(c);
  }
  return out;
}

}  // namespace

std::optional<TextView> LineSplitter::next() noexcept {
  while (position_ < text_.size() && text_[position_] == u'\n') ++position_;
  if (position_ >= text_.size()) return std::nullopt;
  const std::size_t start = position_;
  const std::size_t end = std::min(text_.find(u'\n', start), text_.size());
  position_ = end + 1;
  return text_.substr(start, end - start);
}

Text getKeyValue(TextView line, TextView key) {
  const std::size_t at = line.find(key);
  if (at == TextView::npos) return Text();
  const TextView rest = line.substr(at + key.size());
  return Text(rest.substr(0, rest.find(u',')));
}

void OrvaleUpgradeProcess::analyseBuffer(const Text& output) {
  LineSplitter lines(output);
  lines.next();  // the tool's heading
  while (const auto line = lines.next()) {
    // Once a device in DFU mode has been seen, the rest is the tool's report of the download.
    if (updev.mode == 1) {
      report(u"analyseBuffer countCmd == 1 strTmp= %s", *line);
      continue;
    }
    if (contains(*line, kRuntimeId.view()) || contains(*line, kDfuId.view())) {
      report(u"analyseBuffer strTmp= %s", *line);
      initDev(Text(*line));
    }
  }
  report(u"analyseBuffer updev.mode %d", updev.mode);
}

void OrvaleUpgradeProcess::initDev(const Text& devData) {
  report(u"initDev devData= %s", devData);
  report(u"enter initDev 1");

  const Text active = getKeyValue(devData, u"active=");
  if (active == u"0") {
    report(u"current config is not active. Its value is  %s", active);
    return;
  }

  if (contains(devData, kCannotOpen)) {
    // Taking "DFU" in the warning for the device's mode would end the run as up to date.
    trace(u"The status of the device is unkown. Its value is ", devData);
    return;
  }
  if (namesStateAfterStart(devData, u"Runtime")) {
    updev.mode = 0;
    trace(u"updev.mode is ", decimalText(updev.mode));
    report(u"updev.mode is  %d", updev.mode);
  } else if (namesStateAfterStart(devData, u"DFU")) {
    updev.mode = 1;
    trace(u"updev.mode is ", decimalText(updev.mode));
  } else {
    trace(u"The status of the device is unkown. Its value is ", devData);
    return;
  }

  // The serial number of the device read, kept for the run's outcome whatever its version.
  const Text serial = trim(withoutQuotes(getKeyValue(devData, u"serial=")));
  deviceSerial = serial;

  updev.version = trim(getKeyValue(devData, u"ver="));
  if (!checkVersion(updev.version)) return;
  upgradeNeeded = true;

  updev.cfgId = toInt32(getKeyValue(devData, u"cfg="));
  trace(u"updev.cfgId is ", decimalText(updev.cfgId));
  report(u"initDev updev.cfgId= %d", updev.cfgId);

  updev.sn = serial;
  report(u"initDev updev.sn= %s", updev.sn);
  trace(u"updev.sn is ", updev.sn);

  report(u"leave initDev");
}

}  // namespace qwus
