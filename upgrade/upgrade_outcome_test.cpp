// Tests of the outcome of an upgrade run: which outcome a run ends in, and its one event.
#include "upgrade/upgrade_outcome.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "tests/fakes/fake_file_system.h"
#include "tests/fakes/fake_process_launcher.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/virtual_clock.h"

namespace qwus {
namespace {

using testing::FakeFileSystem;
using testing::FakeProcessLauncher;
using testing::RecordingEventLog;
using testing::RecordingTraceOutput;
using testing::ScriptedRun;
using testing::VirtualClock;

const Text kDirectory = u"C:\\Program Files\\Quorlan\\orvale\\Services\\";
const std::string kHeading =
    "dfu-util 0.11\r\n\r\nCopyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.\r\n";
const std::string kRuntimeLine =
    "Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, "
    "name=\"Orvale\", serial=\"Q9Z0311\"\r\n";
const std::string kDfuLine =
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

class UpgradeOutcomeTest : public ::testing::TestWithParam<OutcomeRun> {
 protected:
  UpgradeOutcomeTest() {
    files.addFile(kDirectory + u"orvale-0102.dfu", testing::firmwarePackage(0x0102));
  }

  RecordingEventLog log;
  ProcessEventSources sources{log};
  FakeFileSystem files;
  FakeProcessLauncher processes;
  VirtualClock clock;
  RecordingTraceOutput trace;
  UpgradeEnvironment env{sources.engine, files, processes, clock, trace, kDirectory};
};

TEST_P(UpgradeOutcomeTest, OneEventNamesTheOutcomeWithItsStrings) {
  const OutcomeRun& run = GetParam();
  for (const ScriptedRun& tool : run.tools) processes.script(tool);
  if (run.pipesBeforeFailure >= 0) processes.failPipeCreation(1, run.pipesBeforeFailure);
  OrvaleUpgradeProcess process(env);
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
            {{{kHeading + kDfuLine}}, {{kHeading + kDownloadDone}}},
            -1, UpgradeOutcome::Downloaded, EventType::Information,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu", u"Done!"}},
        OutcomeRun{"DownloadFailed",
            {{{kHeading + kDfuLine}}, {{kHeading + kDownloadFailed}}},
            -1, UpgradeOutcome::DownloadFailed, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"DFU state(10) = dfuERROR, status(3) = Device is unable to write memory"}},
        // The tool printed nothing at all: no report of a download done.
        OutcomeRun{"DownloadWithoutOutput", {{{kHeading + kDfuLine}}, {{}}}, -1,
            UpgradeOutcome::DownloadFailed, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu", u""}},
        OutcomeRun{"DownloadToolNotStarted", {{{kHeading + kDfuLine}}, {{}, true}}, -1,
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
            {{{kHeading + kRuntimeLine}}, {{"Determining device status: state = appIDLE\r\n"}}},
            -1, UpgradeOutcome::Detached, EventType::Information,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"Determining device status: state = appIDLE"}},
        OutcomeRun{"DetachToolNotStarted", {{{kHeading + kRuntimeLine}}, {{}, true}}, -1,
            UpgradeOutcome::ToolNotStarted, EventType::Error,
            {u"Q9Z0311", u"0100", u"0102", u"orvale-0102.dfu",
             u"Found Runtime: [c4e2:8351] ver=0100, devnum=7, cfg=1, intf=0, path=\"1-1\", "
             u"alt=0, name=\"Orvale\", serial=\"Q9Z0311\""}},
        // The listing's pipe is the first; the download's cannot be made.
        OutcomeRun{"NoPipeForTheDownload", {{{kHeading + kDfuLine}}}, 1,
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
