// Tests of the command runner, the upgrade procedure and the run's outcome over fake processes
// and files.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/virtual_clock.h"
#include "upgrade/orvale_upgrade_process.h"
#include "upgrade/upgrade_outcome.h"

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
  UpgradeProcedureTest() { files.addFile(kDirectory + u"b.dfu", testing::firmwarePackage(0x0102)); }

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
  const char chunk[] = "heading\nFound Runtime: [c4e2:8351] ver=0100, cfg=1, serial=X\n\0lost";
  processes.scriptOutput({std::string(chunk, sizeof chunk - 1), "\nnext chunk\n"});
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

// --- The run's outcome: one event that names it, with its strings ----------------------------

const std::string kOutcomeRuntimeLine =
    "Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, "
    "name=\"Orvale\", serial=\"Q9Z0311\"\r\n";
const std::string kOutcomeDfuLine =
    "Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
    "name=\"Orvale Firmware\", serial=\"Q9Z0311\"\r\n";
const std::string kCurrentLine =
    "Found DFU: [c4e2:8352] ver=0102, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
    "name=\"Orvale Firmware\", serial=\"Q9Z0311\"\r\n";
// The ends of the Windows build of dfu-util 0.11's downloads into the emulated device, as the Wine
// scenarios record them: a manifestation-tolerant device, and one whose write fails.
const std::string kDownloadDone =
    "Copying data from PC to DFU device\r\n"
    "\rDownload\t[                         ]   0%            0 bytes"
    "\rDownload\t[=========================] 100%         1024 bytes\r\n"
    "Download done.\r\n"
    "DFU state(7) = dfuMANIFEST, status(0) = No error condition is present\r\n"
    "DFU state(2) = dfuIDLE, status(0) = No error condition is present\r\n"
    "Done!\r\n";
const std::string kDownloadFailed =
    "Copying data from PC to DFU device\r\n"
    "\rDownload\t[                         ]   0%            0 bytes failed!\r\n"
    "DFU state(10) = dfuERROR, status(3) = Device is unable to write memory\r\n";

// One run as the upgrade worker makes it: the listing, then one upgrade step, then its outcome.
struct OutcomeRun {
  const char* name;
  std::vector<ScriptedRun> tools;  // what each started tool does, in order
  int pipesBeforeFailure;          // pipes made before creating one fails; -1 never fails
  UpgradeOutcome outcome;
  EventType type;
  std::vector<std::u16string> strings;
};

// Names a failed row by its name, not its bytes.
void PrintTo(const OutcomeRun& run, std::ostream* out) { *out << run.name; }

// The procedure's fixture, with orvale-0102.dfu beside its b.dfu: the run keeps the name that sorts
// last, which the outcome then names.
class UpgradeOutcomeTest : public UpgradeProcedureTest,
                           public ::testing::WithParamInterface<OutcomeRun> {
 protected:
  UpgradeOutcomeTest() {
    files.addFile(kDirectory + u"orvale-0102.dfu", testing::firmwarePackage(0x0102));
  }
};

TEST_P(UpgradeOutcomeTest, OneEventNamesTheOutcomeWithItsStrings) {
  const OutcomeRun& run = GetParam();
  for (const ScriptedRun& tool : run.tools) processes.script(tool);
  if (run.pipesBeforeFailure >= 0) processes.failPipeCreation(1, run.pipesBeforeFailure);
  ASSERT_EQ(process.initDfuDevList(), kOutcomeListed);
  const int result = process.doUpgrade();
  EXPECT_EQ(classifyOutcome(result, process), run.outcome);

  reportOutcome(sources.outcome, result, process);
  std::vector<testing::RecordedEvent> outcomes;
  for (const auto& event : log.events()) {
    if (event.source == u"OrvaleUpgradeOutcome") outcomes.push_back(event);
  }
  ASSERT_EQ(outcomes.size(), 1u);
  EXPECT_EQ(outcomes[0].id & 0xFFFF, static_cast<std::uint32_t>(run.outcome));
  EXPECT_EQ(outcomes[0].type, run.type);
  EXPECT_EQ(outcomes[0].strings, run.strings);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, UpgradeOutcomeTest,
    ::testing::Values(
        OutcomeRun{"Downloaded",
            {{{kHeading + kOutcomeDfuLine}}, {{kHeading + kDownloadDone}}},
            -1, UpgradeOutcome::Downloaded, EventType::Information,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu", u"Done!"}},
        OutcomeRun{"DownloadFailed",
            {{{kHeading + kOutcomeDfuLine}}, {{kHeading + kDownloadFailed}}},
            -1, UpgradeOutcome::DownloadFailed, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"DFU state(10) = dfuERROR, status(3) = Device is unable to write memory"}},
        // The tool printed nothing at all: no report of a download done.
        OutcomeRun{"DownloadWithoutOutput", {{{kHeading + kOutcomeDfuLine}}, {{}}}, -1,
            UpgradeOutcome::DownloadFailed, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu", u""}},
        OutcomeRun{"DownloadToolNotStarted", {{{kHeading + kOutcomeDfuLine}}, {{}, true}}, -1,
            UpgradeOutcome::ToolNotStarted, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
             u"name=\"Orvale Firmware\", serial=\"Q9Z0311\""}},
        OutcomeRun{"UpToDate", {{{kHeading + kCurrentLine}}}, -1, UpgradeOutcome::UpToDate,
            EventType::Information,
            {u"Q9Z0311", u"0102", u"0102", u"orvale-0102.dfu",
             u"Found DFU: [c4e2:8352] ver=0102, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
             u"name=\"Orvale Firmware\", serial=\"Q9Z0311\""}},
        OutcomeRun{"DeviceNotSeen", {{{kHeading}}, {{kHeading}}}, -1, UpgradeOutcome::DeviceNotSeen,
            EventType::Warning,
            {u"", u"", u"0102", u"orvale-0102.dfu",
             u"Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc."}},
        OutcomeRun{"Detached",
            {{{kHeading + kOutcomeRuntimeLine}},
             {{"Determining device status: state = appIDLE\r\n"}}},
            -1, UpgradeOutcome::Detached, EventType::Information,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"Determining device status: state = appIDLE"}},
        OutcomeRun{"DetachToolNotStarted", {{{kHeading + kOutcomeRuntimeLine}}, {{}, true}}, -1,
            UpgradeOutcome::ToolNotStarted, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", "
             u"alt=0, name=\"Orvale\", serial=\"Q9Z0311\""}},
        // The listing's pipe is the first; the download's cannot be made.
        OutcomeRun{"NoPipeForTheDownload", {{{kHeading + kOutcomeDfuLine}}}, 1,
            UpgradeOutcome::ToolNotStarted, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"Found DFU: [c4e2:8352] ver=0100, devnum=8, cfg=1, intf=0, path=\"1-1\", alt=0, "
             u"name=\"Orvale Firmware\", serial=\"Q9Z0311\""}}),
    [](const ::testing::TestParamInfo<OutcomeRun>& run) { return std::string(run.param.name); });

// The message file holds each outcome's text under this identifier: its severity in the top two
// bits, as the message compiler writes it, the outcome in the low 16.
TEST(OutcomeMessageId, CarriesTheSeverityOfItsType) {
  EXPECT_EQ(outcomeMessageId(UpgradeOutcome::Downloaded), 0x400003E8u);
  EXPECT_EQ(outcomeMessageId(UpgradeOutcome::DownloadFailed), 0xC00003E9u);
  EXPECT_EQ(outcomeMessageId(UpgradeOutcome::UpToDate), 0x400003EAu);
  EXPECT_EQ(outcomeMessageId(UpgradeOutcome::DeviceNotSeen), 0x800003EBu);
  EXPECT_EQ(outcomeMessageId(UpgradeOutcome::ToolNotStarted), 0xC00003ECu);
  EXPECT_EQ(outcomeMessageId(UpgradeOutcome::Detached), 0x400003EDu);
}

TEST(LastToolLine, TakesTheLastLineThatHoldsText) {
  const struct {
    std::u16string output;
    std::u16string last;
  } cases[] = {
      {u"", u""},
      {u"\r\n\r\n  \r\n", u""},
      {u"first\r\nDone!\r\n", u"Done!"},
      {u"first\r\nno line end", u"no line end"},
      {u"first\n\n\t\n", u"first"},
      // A progress bar redraws its line after a CR: the last drawing is the line.
      {u"Download\t[  ]   0%\rDownload\t[==] 100%        1024 bytes\r\n",
       u"Download\t[==] 100%        1024 bytes"},
      {u"ends in a lone CR\r", u"ends in a lone CR"},
      {std::u16string(300, u'x') + u"\r\n", std::u16string(255, u'x')},
  };
  for (const auto& c : cases) EXPECT_EQ(lastToolLine(c.output), c.last);
}

}  // namespace
}  // namespace qwus
