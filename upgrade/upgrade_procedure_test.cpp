// Tests of the command runner and the upgrade procedure over fake processes and files.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/command_line.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/virtual_clock.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

using testing::FakeFileSystem;
using testing::FakeProcessLauncher;
using testing::RecordingEventLog;
using testing::RecordingTraceOutput;
using testing::ScriptedRun;
using testing::VirtualClock;

const Text kDirectory = u"C:\\Program Files\\Quorlan\\orvale\\Services\\";
const Text kListing = u"dfu-util.exe -l";

// A package file whose DFU suffix carries `version` as bcdDevice.
std::string package(std::uint16_t version) {
  std::string bytes = "firmware image";
  const char suffix[16] = {static_cast<char>(version & 0xFF), static_cast<char>(version >> 8),
                           0x51, static_cast<char>(0x83), static_cast<char>(0xE2),
                           static_cast<char>(0xC4), 0x1A, 0x01, 'U', 'F', 'D', 16, 0, 0, 0, 0};
  return bytes + std::string(suffix, sizeof suffix);
}

const std::string kHeading =
    "dfu-util 0.11\r\n\r\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\r\n";
const std::string kRuntimeLine =
    "Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, "
    "name=\"Orvale\", serial=\"A7X2249\"\r\n";
const std::string kDfuLine =
    "Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
    "name=\"@Internal Flash\", serial=\"A7X2249\"\r\n";

class UpgradeProcedureTest : public ::testing::Test {
 protected:
  UpgradeProcedureTest() { files.addFile(kDirectory + u"b.dfu", package(0x0102)); }

  std::vector<std::u16string> engineTexts() const { return log.texts(u"OrvaleUpgradeProcess"); }

  RecordingEventLog log;
  ProcessEventSources sources{log};
  FakeFileSystem files;
  FakeProcessLauncher processes;
  VirtualClock clock;
  RecordingTraceOutput trace;
  UpgradeEnvironment env{sources.engine, files, processes, clock, trace, kDirectory};
  OrvaleUpgradeProcess process{env};
};

TEST_F(UpgradeProcedureTest, RuntimeDeviceIsListedThenDetached) {
  processes.scriptOutput({kHeading + kRuntimeLine});
  processes.scriptOutput({"Determining device status: state = appIDLE\r\n"});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  log.clear();
  EXPECT_EQ(process.doUpgrade(), kOutcomeDetached);

  const Text detach = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 1 -e";
  EXPECT_EQ(processes.commandLines(), (std::vector<Text>{kListing, detach}));
  const auto texts = engineTexts();
  ASSERT_GE(texts.size(), 5u);
  EXPECT_EQ(texts[0], u"starting doUpgrade ");
  EXPECT_EQ(texts[1], u"enter doDevDetach ");
  EXPECT_EQ(texts[2], u"cmdline is " + detach);
  EXPECT_EQ(texts[3], u"doCmd updev.mode 0 cmdline is " + detach);
  EXPECT_EQ(texts[4].substr(0, 41), u"handlePipeInfo updev.mode 0 strOutput= De");
  EXPECT_EQ(process.updev.mode, 1);
  // One read of the listing, then the detach's 50 s, then one read of its output.
  EXPECT_EQ(clock.waits(), (std::vector<std::uint32_t>{100, 50000, 100}));
  EXPECT_EQ(trace.writes().back(), u"0100 \n");
  EXPECT_EQ(processes.openPipeEnds(), 0u);
  for (const auto& pipe : processes.pipes()) {
    if (pipe.reads > 0) {
      EXPECT_FALSE(pipe.writeEndOpenAtFirstRead);
    }
  }
}

TEST_F(UpgradeProcedureTest, DfuDeviceGetsTheDownloadAfterFiftySeconds) {
  processes.scriptOutput({kHeading + kDfuLine + kDfuLine});
  processes.scriptOutput({"Download\t[=========================] 100%        16384 bytes\r\n",
                          "Download done.\r\n"});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  ASSERT_EQ(process.updev.mode, 1);
  log.clear();
  EXPECT_EQ(process.doUpgrade(), kOutcomeToolRan);

  const Text download =
      u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -D \"" + kDirectory + u"b.dfu\"";
  EXPECT_EQ(processes.commandLines().back(), download);
  const auto texts = engineTexts();
  ASSERT_GE(texts.size(), 7u);
  EXPECT_EQ(texts[0], u"starting doUpgrade ");
  EXPECT_EQ(texts[1], u"cmdline is " + download);
  EXPECT_EQ(texts[2], u"doCmd updev.mode 1 cmdline is " + download);
  EXPECT_EQ(texts[3], u"doCmd enter sleep");
  EXPECT_EQ(texts[4], u"doCmd end sleep");
  EXPECT_EQ(texts[5].substr(0, 39), u"handlePipeInfo updev.mode 1 strOutput= ");
  // Every line but the first of the download's output is only reported.
  EXPECT_EQ(texts[6], u"analyseBuffer countCmd == 1 strTmp= Download done.\r");
  EXPECT_EQ(clock.waits(), (std::vector<std::uint32_t>{100, 50000, 100, 100}));
  EXPECT_EQ(processes.openPipeEnds(), 0u);
}

TEST_F(UpgradeProcedureTest, UnseenDeviceIsListedOnceMoreThenGivenUp) {
  processes.scriptOutput({kHeading});
  processes.scriptOutput({kHeading});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  log.clear();
  EXPECT_EQ(process.doUpgrade(), kOutcomeFailed);
  EXPECT_TRUE(process.retry);
  EXPECT_EQ(processes.commandLines(), (std::vector<Text>{kListing, kListing}));
  EXPECT_EQ(engineTexts().front(), u"updev.mode is  2 retry is 0");

  log.clear();
  EXPECT_EQ(process.doUpgrade(), kOutcomeFailed);
  EXPECT_EQ(engineTexts(), (std::vector<std::u16string>{u"updev.mode is  2 retry is 1",
                                                         u"Cannot init the device. Upgrade failed!"}));
  EXPECT_EQ(log.events().back().type, EventType::Error);
  EXPECT_EQ(processes.commandLines().size(), 2u);
}

TEST_F(UpgradeProcedureTest, UpToDateDeviceNeedsNothing) {
  processes.scriptOutput({kHeading + "Found Runtime: [c4e2:8351] ver=0102, cfg=1, serial=\"S\"\r\n"});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  log.clear();
  EXPECT_EQ(process.doUpgrade(), kOutcomeUpToDate);
  EXPECT_EQ(engineTexts(), (std::vector<std::u16string>{u"return for latest build!"}));
  EXPECT_EQ(processes.commandLines().size(), 1u);
}

TEST_F(UpgradeProcedureTest, NoPackageRunsNoTool) {
  FakeFileSystem empty;
  UpgradeEnvironment bare{sources.engine, empty, processes, clock, trace, kDirectory};
  OrvaleUpgradeProcess withoutPackage(bare);
  EXPECT_EQ(withoutPackage.initDfuDevList(), kOutcomeNoPackage);
  EXPECT_EQ(engineTexts().back(), u"initUpgradeInfo Failed " + kDirectory + u"!");
  EXPECT_TRUE(processes.commandLines().empty());
  EXPECT_TRUE(processes.pipes().empty());
}

TEST_F(UpgradeProcedureTest, ToolThatCannotStart) {
  ScriptedRun fails;
  fails.failsToStart = true;

  processes.script(fails);
  EXPECT_EQ(process.initDfuDevList(), kOutcomeFailed);
  auto texts = engineTexts();
  EXPECT_EQ(texts[texts.size() - 2], u"doCmd updev.mode 2 cmdline is dfu-util.exe -l");
  EXPECT_EQ(texts.back(), u"CreateProcess Failed!");
  EXPECT_EQ(processes.pipes().back().reads, 0u);

  // A detach whose tool cannot start still counts as a detach, without the wait.
  processes.scriptOutput({kHeading + kRuntimeLine});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  processes.script(fails);
  const auto waitsBefore = clock.waits().size();
  EXPECT_EQ(process.doUpgrade(), kOutcomeDetached);
  EXPECT_EQ(clock.waits().size(), waitsBefore);
  EXPECT_EQ(process.updev.mode, 1);

  // A download whose tool cannot start.
  processes.script(fails);
  EXPECT_EQ(process.doUpgrade(), kOutcomeToolNotStarted);
  EXPECT_EQ(processes.openPipeEnds(), 0u);
}

TEST_F(UpgradeProcedureTest, PipeThatCannotBeCreated) {
  processes.failPipeCreation();
  EXPECT_EQ(process.initDfuDevList(), kOutcomeFailed);
  EXPECT_EQ(engineTexts().back(), u"CreatePipe Failed!");
  EXPECT_TRUE(processes.commandLines().empty());

  processes.scriptOutput({kHeading + kRuntimeLine});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  // doUpgrade's own pipe fails: the words go to standard output only.
  processes.failPipeCreation();
  log.clear();
  EXPECT_EQ(process.doUpgrade(), kOutcomeFailed);
  EXPECT_EQ(trace.writes().back(), u"CreatePipe Failed!\n");
  EXPECT_EQ(engineTexts(), (std::vector<std::u16string>{u"starting doUpgrade "}));

  // The detach's own pipe fails: reported as an event.
  processes.failPipeCreation();
  log.clear();
  EXPECT_EQ(process.doDevDetach(process.updev), kOutcomeFailed);
  EXPECT_EQ(engineTexts(),
            (std::vector<std::u16string>{u"enter doDevDetach ", u"CreatePipe Failed!"}));
  EXPECT_EQ(processes.openPipeEnds(), 0u);
}

TEST_F(UpgradeProcedureTest, OutputIsReadInChunksWithAPauseAfterEach) {
  const std::string line = "0123456789abcdefghijklmnopqrstuvwxyz\r\n";
  std::string big;
  while (big.size() < 10000) big += line;
  big.resize(10000);
  processes.scriptOutput({big});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  EXPECT_GE(processes.pipes().back().reads, 4u);  // three successful reads and the final one
  EXPECT_EQ(clock.waits(), (std::vector<std::uint32_t>{100, 100, 100}));
  const auto texts = engineTexts();
  const std::u16string expected = u"handlePipeInfo updev.mode 2 strOutput= " + fromAscii(big);
  EXPECT_NE(std::find(texts.begin(), texts.end(), expected.substr(0, 255)), texts.end());
}

TEST_F(UpgradeProcedureTest, TextAfterANulByteInAChunkIsLost) {
  constexpr char withNul[] = "heading\nFound Runtime: [c4e2:8351] ver=0100, cfg=1, serial=X\n\0lost";
  processes.scriptOutput({std::string(withNul, sizeof withNul - 1),
                          "\nnext chunk\n"});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  const auto texts = engineTexts();
  const auto output = std::find_if(texts.begin(), texts.end(), [](const std::u16string& t) {
    return t.rfind(u"handlePipeInfo", 0) == 0;
  });
  ASSERT_NE(output, texts.end());
  EXPECT_EQ(output->find(u"lost"), std::u16string::npos);
  EXPECT_NE(output->find(u"next chunk"), std::u16string::npos);
  EXPECT_EQ(process.updev.sn, u"X");
}

TEST_F(UpgradeProcedureTest, EmptyOutputIsReportedAndParsedAsNothing) {
  processes.scriptOutput({});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  const auto texts = engineTexts();
  ASSERT_GE(texts.size(), 2u);
  EXPECT_EQ(texts[texts.size() - 2], u"handlePipeInfo updev.mode 2 strOutput= ");
  EXPECT_EQ(texts.back(), u"analyseBuffer updev.mode 2");
  EXPECT_TRUE(clock.waits().empty());
}

TEST_F(UpgradeProcedureTest, LongOutputIsCutInTheLogButParsedWhole) {
  const std::string padding(600, '=');
  processes.scriptOutput({kHeading + padding + "\r\n" + kRuntimeLine});
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  EXPECT_EQ(process.updev.mode, 0);
  EXPECT_EQ(process.updev.sn, u"A7X2249");
  EXPECT_TRUE(process.upgradeNeeded);
}

TEST_F(UpgradeProcedureTest, HostileSerialReachesTheToolAsExactlyOneArgument) {
  const Text serials[] = {u"",
                          u"two words",
                          u"-U C:\\x.bin",
                          u"quote\"inside",
                          u"\"",
                          u"back\\slash",
                          u"trailing\\",
                          u"trailing\\\\",
                          u"\\\"both\\\\\"",
                          u"tab\there",
                          u"a -D \"C:\\evil.dfu\" -e"};
  for (const Text& serial : serials) {
    SCOPED_TRACE(toUtf8(serial));
    DfuDeviceInfo device;
    device.sn = serial;
    device.cfgId = 1;
    device.mode = 0;
    process.doDevDetach(device);
    const auto detach = splitCommandLine(processes.commandLines().back());
    ASSERT_EQ(detach.size(), 8u);
    EXPECT_EQ(detach[3], u"-S");
    EXPECT_EQ(detach[4], serial);
    EXPECT_EQ(detach[7], u"-e");

    process.updev = device;
    process.updev.mode = 1;
    process.upgradeNeeded = true;
    process.packageName = u"b.dfu";
    process.doUpgrade();
    const auto download = splitCommandLine(processes.commandLines().back());
    ASSERT_EQ(download.size(), 7u);
    EXPECT_EQ(download[4], serial);
    EXPECT_EQ(download[6], kDirectory + u"b.dfu");
  }
  // A plain serial is not quoted: ordinary command lines are exactly the templates.
  DfuDeviceInfo plain;
  plain.sn = u"A7X2249";
  plain.cfgId = 3;
  process.doDevDetach(plain);
  EXPECT_EQ(processes.commandLines().back(), u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S A7X2249 -c 3 -e");
}

}  // namespace
}  // namespace qwus
