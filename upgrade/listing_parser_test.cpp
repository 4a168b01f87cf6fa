// Tests of the listing parser: line splitting, key values, and the device record a listing gives.
#include "upgrade/listing_parser.h"

#include <gtest/gtest.h>

#include "upgrade/engine_test_harness.h"

namespace qwus {
namespace {

using testing::EngineHarness;
using Texts = std::vector<Text>;

constexpr char16_t kHeading[] = u"dfu-util 0.11\r\n";
constexpr char16_t kRuntimeLine[] =
    u"Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, serial=\"A7X2249\"\r";

Texts split(TextView text) {
  Texts lines;
  LineSplitter splitter(text);
  while (const auto line = splitter.next()) lines.emplace_back(*line);
  return lines;
}

TEST(LineSplitter, SkipsRunsOfLineFeedsAndKeepsCarriageReturns) {
  EXPECT_EQ(split(u""), Texts{});
  EXPECT_EQ(split(u"\n\n\n"), Texts{});
  EXPECT_EQ(split(u"one"), Texts{u"one"});
  EXPECT_EQ(split(u"\n\none\n\n\ntwo\r\n\n"), (Texts{u"one", u"two\r"}));
  EXPECT_EQ(split(u"a\r\n\rb"), (Texts{u"a\r", u"\rb"}));
}

TEST(GetKeyValue, TakesTheFirstOccurrenceUpToTheNextComma) {
  const struct {
    const char16_t* line;
    const char16_t* key;
    const char16_t* value;
  } cases[] = {
      {u"ver=0100, cfg=1", u"ver=", u"0100"},
      {u"ver=0100, cfg=1\r", u"cfg=", u"1\r"},
      {u"serial=\"a,b\"", u"serial=", u"\"a"},
      {u"name=\"x ver=9\", ver=0100", u"ver=", u"9\""},
      {u"ver=", u"ver=", u""},
      {u"cfg=1", u"ver=", u""},
  };
  for (const auto& c : cases) EXPECT_EQ(getKeyValue(c.line, c.key), c.value) << toUtf8(c.line);
}

TEST(AnalyseBuffer, RuntimeListingThatNeedsTheUpgrade) {
  EngineHarness h;
  h.engine.targetVersion = u"0102";
  h.engine.analyseBuffer(Text(kHeading) + kRuntimeLine + u"\n\n");

  const Text line = kRuntimeLine;
  EXPECT_EQ(h.messages(), (Texts{u"analyseBuffer strTmp= " + line, u"initDev devData= " + line,
                                 u"enter initDev 1", u"updev.mode is  0",
                                 u"curDev.version is 0100 targetVersion is 0102",
                                 u"initDev updev.cfgId= 1", u"initDev updev.sn= A7X2249",
                                 u"leave initDev", u"analyseBuffer updev.mode 0"}));
  EXPECT_EQ(h.trace.writes(), (Texts{u"updev.mode is 0\n", u"updev.cfgId is 1\n",
                                     u"updev.sn is A7X2249\n"}));
  EXPECT_EQ(h.engine.updev.mode, 0);
  EXPECT_EQ(h.engine.updev.version, u"0100");
  EXPECT_EQ(h.engine.updev.cfgId, 1);
  EXPECT_EQ(h.engine.updev.sn, u"A7X2249");
  EXPECT_TRUE(h.engine.upgradeNeeded);
}

TEST(AnalyseBuffer, UpToDateDeviceKeepsEarlierUpgradeFields) {
  EngineHarness h;
  h.engine.targetVersion = u"0102";
  h.engine.analyseBuffer(Text(kHeading) + kRuntimeLine +
                         u"\nFound Runtime: [c4e2:8352] ver=0102, cfg=5, serial=\"OTHER\"\r\n");
  EXPECT_TRUE(h.engine.upgradeNeeded);
  EXPECT_EQ(h.engine.updev.version, u"0102");
  EXPECT_EQ(h.engine.updev.cfgId, 1);
  EXPECT_EQ(h.engine.updev.sn, u"A7X2249");
  EXPECT_EQ(h.messages().rbegin()[1], u"The device is latest version");
}

TEST(AnalyseBuffer, DfuListingStopsParsingAtTheFirstDfuLine) {
  EngineHarness h;
  h.engine.targetVersion = u"0102";
  const Text alt1 = u"Found DFU: [c4e2:8352] ver=0200, devnum=8, cfg=1, intf=0, alt=1, "
                    u"name=\"@Option Bytes\", serial=\"S1\"";
  const Text alt0 = u"Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=2, intf=0, alt=0, "
                    u"name=\"@Internal Flash\", serial=\"S1\"";
  h.engine.analyseBuffer(Text(kHeading) + alt1 + u"\n" + alt0 + u"\nunrelated\n");

  EXPECT_EQ(h.engine.updev.mode, 1);
  EXPECT_EQ(h.engine.updev.version, u"0200");
  EXPECT_FALSE(h.engine.upgradeNeeded);
  EXPECT_EQ(h.trace.writes(), Texts{u"updev.mode is 1\n"});
  const Texts messages = h.messages();
  const Texts tail(messages.end() - 3, messages.end());
  EXPECT_EQ(tail, (Texts{u"analyseBuffer countCmd == 1 strTmp= " + alt0,
                         u"analyseBuffer countCmd == 1 strTmp= unrelated",
                         u"analyseBuffer updev.mode 1"}));
}

TEST(AnalyseBuffer, DownloadOutputIsOnlyReported) {
  EngineHarness h;
  h.engine.updev.mode = 1;
  h.engine.analyseBuffer(u"heading\r\nDownload [====] 100%\r\n\r\n" + Text(kRuntimeLine));
  EXPECT_EQ(h.messages(), (Texts{u"analyseBuffer countCmd == 1 strTmp= Download [====] 100%\r",
                                 u"analyseBuffer countCmd == 1 strTmp= \r",
                                 u"analyseBuffer countCmd == 1 strTmp= " + Text(kRuntimeLine),
                                 u"analyseBuffer updev.mode 1"}));
  EXPECT_TRUE(h.trace.writes().empty());
}

TEST(AnalyseBuffer, TextsWithoutAnExaminedDeviceLineChangeNothing) {
  for (const Text& text : {Text(), Text(u"\n\n"), Text(kRuntimeLine),
                           u"\n\n" + Text(kRuntimeLine) + u"\nno device here\n"}) {
    EngineHarness h;
    h.engine.analyseBuffer(text);
    EXPECT_EQ(h.messages(), Texts{u"analyseBuffer updev.mode 2"}) << toUtf8(text);
    EXPECT_EQ(h.engine.updev.mode, 2);
    EXPECT_TRUE(h.engine.updev.version.empty());
    EXPECT_FALSE(h.engine.upgradeNeeded);
  }
}

// One device line read by initDev with targetVersion 0102, starting from a fresh record.
struct DeviceLineCase {
  const char16_t* line;
  int mode;
  const char16_t* version;
  bool upgradeNeeded;
  int cfgId;
  const char16_t* sn;
  const char16_t* trace;  // the first trace line, or null for none
};

TEST(InitDev, DeviceLines) {
  const DeviceLineCase cases[] = {
      // Not active: nothing changes.
      {u"Found Runtime: [c4e2:8351] active=0, ver=0100, cfg=1", 2, u"", false, 0, u"", nullptr},
      // "0" followed by anything else counts as active.
      {u"Found Runtime: [c4e2:8351] active=0 , ver=0100", 0, u"0100", true, 0, u"",
       u"updev.mode is 0\n"},
      {u"Found Runtime: [c4e2:8351] ver=0100, active=0\r", 0, u"0100", true, 0, u"",
       u"updev.mode is 0\n"},
      // A state word at the very first character does not classify the line.
      {u"DFU [c4e2:8351] ver=0100", 2, u"", false, 0, u"",
       u"The status of the device is unkown. Its value is DFU [c4e2:8351] ver=0100\n"},
      {u"Runtime [c4e2:8351] DFU ver=0100", 1, u"0100", true, 0, u"", u"updev.mode is 1\n"},
      // Runtime wins over DFU.
      {u"Found DFU Runtime: [c4e2:8351] ver=0001", 0, u"0001", true, 0, u"", u"updev.mode is 0\n"},
      // Values: trimming, quotes, commas, decimal conversion.
      {u"Found Runtime: [c4e2:8351] ver= 0100\t, cfg=  12abc, serial= \"A\"7\"X\" \r", 0, u"0100",
       true, 12, u"A7X", u"updev.mode is 0\n"},
      {u"Found Runtime: [c4e2:8351] ver=0100, cfg=x, serial=\"AB,CD\"", 0, u"0100", true, 0,
       u"AB", u"updev.mode is 0\n"},
      {u"Found Runtime: [c4e2:8351] ver=0100, cfg=99999999999", 0, u"0100", true, 2147483647, u"",
       u"updev.mode is 0\n"},
      {u"Found Runtime: [c4e2:8351] ver=0100, cfg=-99999999999", 0, u"0100", true,
       -2147483647 - 1, u"", u"updev.mode is 0\n"},
      // Up to date, and no version at all: no upgrade, so cfg and serial are not read.
      {u"Found Runtime: [c4e2:8351] ver=0102, cfg=3, serial=Z", 0, u"0102", false, 0, u"",
       u"updev.mode is 0\n"},
      {u"Found Runtime: [c4e2:8351] cfg=3, serial=Z", 0, u"", false, 0, u"", u"updev.mode is 0\n"},
      // The real tool's warning for a device it may not open names "DFU" after the start, but
      // is no device line: the device counts as not seen.
      {u"Cannot open DFU device c4e2:8351 found on devnum 7 (LIBUSB_ERROR_ACCESS)\r", 2, u"",
       false, 0, u"",
       u"The status of the device is unkown. Its value is Cannot open DFU device c4e2:8351 found "
       u"on devnum 7 (LIBUSB_ERROR_ACCESS)\r\n"},
      {u"dfu-util: Cannot open DFU device c4e2:8352 found on devnum 3 (LIBUSB_ERROR_NOT_SUPPORTED)",
       2, u"", false, 0, u"",
       u"The status of the device is unkown. Its value is dfu-util: Cannot open DFU device "
       u"c4e2:8352 found on devnum 3 (LIBUSB_ERROR_NOT_SUPPORTED)\n"},
  };
  for (const auto& c : cases) {
    EngineHarness h;
    h.engine.targetVersion = u"0102";
    h.engine.initDev(c.line);
    SCOPED_TRACE(toUtf8(c.line));
    EXPECT_EQ(h.engine.updev.mode, c.mode);
    EXPECT_EQ(h.engine.updev.version, c.version);
    EXPECT_EQ(h.engine.upgradeNeeded, c.upgradeNeeded);
    EXPECT_EQ(h.engine.updev.cfgId, c.cfgId);
    EXPECT_EQ(h.engine.updev.sn, c.sn);
    if (c.trace == nullptr) {
      EXPECT_TRUE(h.trace.writes().empty());
    } else {
      ASSERT_FALSE(h.trace.writes().empty());
      EXPECT_EQ(h.trace.writes().front(), c.trace);
    }
  }
}

TEST(AnalyseBuffer, DeviceThatCannotBeOpenedIsNotSeen) {
  EngineHarness h;
  h.engine.targetVersion = u"0102";
  const Text warning =
      u"dfu-util: Cannot open DFU device c4e2:8351 found on devnum 7 (LIBUSB_ERROR_ACCESS)\r";
  h.engine.analyseBuffer(Text(kHeading) + u"\r\n" + warning + u"\n");
  EXPECT_EQ(h.messages(), (Texts{u"analyseBuffer strTmp= " + warning,
                                 u"initDev devData= " + warning, u"enter initDev 1",
                                 u"analyseBuffer updev.mode 2"}));
  EXPECT_EQ(h.engine.updev.mode, 2);
  EXPECT_FALSE(h.engine.upgradeNeeded);

  // A device that the tool could open still counts, before or after the warning.
  for (const Text& text : {Text(kHeading) + warning + u"\n" + kRuntimeLine + u"\n",
                           Text(kHeading) + kRuntimeLine + u"\n" + warning + u"\n"}) {
    EngineHarness both;
    both.engine.targetVersion = u"0102";
    both.engine.analyseBuffer(text);
    EXPECT_EQ(both.engine.updev.mode, 0);
    EXPECT_EQ(both.engine.updev.sn, u"A7X2249");
  }
}

TEST(InitDev, InactiveConfigurationReportsItsValueOnly) {
  EngineHarness h;
  h.engine.initDev(u"Found Runtime: [c4e2:8351] active=0, ver=0100");
  EXPECT_EQ(h.messages(), (Texts{u"initDev devData= Found Runtime: [c4e2:8351] active=0, ver=0100",
                                 u"enter initDev 1",
                                 u"current config is not active. Its value is  0"}));
}

TEST(InitDev, ForcedUpgradeReadsAnUnversionedDfuLine) {
  EngineHarness h;
  h.engine.forceUpgrade = true;
  h.engine.initDev(u"Found DFU: [c4e2:8352] cfg=2, serial=\"Q1\"\r");
  EXPECT_EQ(h.messages(), (Texts{u"initDev devData= Found DFU: [c4e2:8352] cfg=2, serial=\"Q1\"\r",
                                 u"enter initDev 1", u"Force upgrade flag is set!",
                                 u"initDev updev.cfgId= 2", u"initDev updev.sn= Q1",
                                 u"leave initDev"}));
  EXPECT_EQ(h.trace.writes(), (Texts{u"updev.mode is 1\n", u"updev.cfgId is 2\n",
                                     u"updev.sn is Q1\n"}));
}

}  // namespace
}  // namespace qwus
