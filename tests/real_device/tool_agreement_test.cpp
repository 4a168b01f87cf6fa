// The two emulations of the Orvale device agree: the same cases, with the same expectations, run in
// the host build against Debian's dfu-util through umockdev and, under Wine, against dfu-util's
// Windows build through the libusb emulation. For each device state both list the same device
// lines, character for character, and the engine reports the same events of one upgrade run and
// leaves the device in the same state. What differs between the platforms is named in Platform, and
// nowhere else: what the Windows build of the tool prints differently by itself, and the USB reset
// that Windows' libusb never sends.
#include <gtest/gtest.h>

#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "tests/fakes/firmware_package.h"
#include "tests/fakes/recording_event_log.h"
#include "tests/fakes/recording_trace_output.h"
#include "tests/fakes/stand_in_tool.h"
#include "tests/fakes/virtual_clock.h"
#include "tests/real_device/emulated_tool.h"
#include "upgrade/orvale_upgrade_process.h"

namespace qwus {
namespace {

using testing::DeviceStateFile;

// How the tool's own build prints and what its libusb does, where the two differ.
struct Platform {
  // The C runtime's line end: Windows' text mode writes CR LF. The engine splits the output at LF,
  // so every line it reports from the Windows tool keeps its CR, and a blank line is a lone CR.
  const char* lineEnd;
  // dfu-util's warnx and errx: glibc's err.h puts the program's name first; dfu-util's own
  // replacement for systems without err.h, which the Windows build uses, prints the message alone.
  const char* errorPrefix;
  // Why a device cannot be opened: Linux denies access to its device node; Windows' libusb has no
  // WinUSB driver to open it with.
  const char* cannotOpen;
  // libusb_reset_device resets the device on Linux; over WinUSB it resets only the pipes, so a
  // device that waits for the host's reset keeps waiting.
  bool hostResetsDevice;
};
#ifdef _WIN32
constexpr Platform kPlatform{"\r\n", "", "LIBUSB_ERROR_NOT_SUPPORTED", false};
#else
constexpr Platform kPlatform{"\n", "dfu-util: ", "LIBUSB_ERROR_ACCESS", true};
#endif

// The tool's output of `lines`, each with the build's line end.
std::string printed(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + kPlatform.lineEnd;
  return out;
}

std::vector<std::string> heading() {
  return {"dfu-util 0.11",
          "",
          "Copyright 2005-2009 Weston Schmidt, Harald Welte and OpenMoko Inc.",
          "Copyright 2010-2021 Tormod Volden and Stefan Schmidt",
          "This program is Free Software and has ABSOLUTELY NO WARRANTY",
          "Please report bugs to http://sourceforge.net/p/dfu-util/tickets/",
          ""};
}

std::vector<std::string> plus(std::vector<std::string> first,
                              const std::vector<std::string>& more) {
  first.insert(first.end(), more.begin(), more.end());
  return first;
}

std::string runtimeLine(const std::string& version, const std::string& serial = "A7X2249") {
  return "Found Runtime: [c4e2:8351] ver=" + version +
         ", devnum=7, cfg=1, intf=0, path=\"1-1\", alt=0, name=\"Orvale\", serial=\"" + serial +
         "\"";
}

std::string dfuLine(const std::string& version, int alt = 0,
                    const std::string& serial = "A7X2249") {
  const char* names[] = {"Orvale Firmware", "Orvale Settings", "Orvale Bootloader"};
  return "Found DFU: [c4e2:8352] ver=" + version +
         ", devnum=8, cfg=1, intf=0, path=\"1-1\", alt=" + std::to_string(alt) + ", name=\"" +
         names[alt] + "\", serial=\"" + serial + "\"";
}

const std::string kOtherLine =
    "Found DFU: [0483:df11] ver=2200, devnum=9, cfg=1, intf=0, path=\"1-2\", alt=0, "
    "name=\"@Internal Flash\", serial=\"OTHER0001\"";

// What the upgrade run's second step is.
enum class Step { Detach, Download, UpToDate, NotFound };

struct Case {
  const char* name;
  DeviceStateFile state;
  std::vector<std::string> listing;  // what `dfu-util -l` prints after its heading
  Step step;
  std::vector<std::string> stepOutput;  // what the detach or download prints after its heading
  std::string serialArgument;           // the serial as the engine's command line holds it
  // Where the device ends when the host resets it as the tool asks; without that reset, a row
  // that needs it ends where it began.
  std::string endMode;
  std::string endVersion;
  bool needsHostReset = false;
};

void PrintTo(const Case& c, std::ostream* out) { *out << c.name; }

DeviceStateFile device(const char* mode, const char* version = "0100") {
  DeviceStateFile state;
  state.mode = mode;
  state.version = version;
  return state;
}

template <typename Change>
DeviceStateFile device(const char* mode, const char* version, Change change) {
  DeviceStateFile state = device(mode, version);
  change(state);
  return state;
}

const std::vector<std::string> kDetachOutput = {
    "Opening DFU capable USB device...",
    "Device ID c4e2:8351",
    "Device DFU version 0110",
    "Claiming USB DFU (Run-Time) Interface...",
    "Setting Alternate Interface zero...",
    "Determining device status...",
    "DFU state(0) = appIDLE, status(0) = No error condition is present",
    "Device really in Run-Time Mode, send DFU detach request...",
    "Device will detach and reattach..."};

// A device without bitWillDetach: the tool asks for a USB reset.
std::vector<std::string> detachWithReset() {
  std::vector<std::string> lines = kDetachOutput;
  lines.back() = "Resetting USB...";
  return lines;
}

// A download of the 1024-byte image of package 0102.
const std::vector<std::string> kDownloadOutput = {
    "Opening DFU capable USB device...",
    "Device ID c4e2:8352",
    "Device DFU version 0110",
    "Claiming USB DFU Interface...",
    "Setting Alternate Interface #0 ...",
    "Determining device status...",
    "DFU state(2) = dfuIDLE, status(0) = No error condition is present",
    "DFU mode device DFU version 0110",
    "Device returned transfer size 1024",
    "Copying data from PC to DFU device",
    "\rDownload\t[                         ]   0%            0 bytes"
    "\rDownload\t[============             ]  50%         1024 bytes"
    "\rDownload\t[=========================] 100%         1024 bytes",
    "Download done.",
    "DFU state(7) = dfuMANIFEST, status(0) = No error condition is present",
    "DFU state(2) = dfuIDLE, status(0) = No error condition is present",
    "Done!"};

// A device that is not manifestation tolerant: the tool asks for a USB reset at the end.
std::vector<std::string> downloadWithReset() {
  std::vector<std::string> lines = kDownloadOutput;
  lines[lines.size() - 2] =
      "DFU state(8) = dfuMANIFEST-WAIT-RESET, status(0) = No error condition is present";
  lines.insert(lines.end() - 1, "Resetting USB to switch back to runtime mode");
  return lines;
}

// The tool will not choose among a DFU-mode device's alternate settings; errx's message ends in a
// line end of its own, so a blank line follows.
const std::vector<std::string> kRefusal = {
    std::string(kPlatform.errorPrefix) +
        "More than one DFU capable USB device found! Try `--list' and specify the serial number or "
        "disconnect all but one device",
    ""};

const std::string kHostileSerial = "A7 X\\ 22 -U C:\\x.bin\\";

std::vector<Case> cases() {
  const std::string cannotOpen = std::string(kPlatform.errorPrefix) +
                                 "Cannot open DFU device c4e2:8351 found on devnum 7 (" +
                                 kPlatform.cannotOpen + ")";
  return {
      {"runtime",
       device("runtime"),
       {runtimeLine("0100")},
       Step::Detach,
       kDetachOutput,
       "A7X2249",
       "dfu",
       "0100"},
      {"runtime_detach_on_reset",
       device("runtime", "0100", [](auto& s) { s.detachNeedsReset = true; }),
       {runtimeLine("0100")},
       Step::Detach,
       detachWithReset(),
       "A7X2249",
       "dfu",
       "0100",
       true},
      {"runtime_up_to_date",
       device("runtime", "0102"),
       {runtimeLine("0102")},
       Step::UpToDate,
       {},
       "",
       "runtime",
       "0102"},
      {"runtime_serial_with_blank",
       device("runtime", "00ff", [](auto& s) { s.serial = "Q-17 b"; }),
       {runtimeLine("00ff", "Q-17 b")},
       Step::Detach,
       kDetachOutput,
       "\"Q-17 b\"",
       "dfu",
       "00ff"},
      {"runtime_hostile_serial",
       device("runtime", "0100", [](auto& s) { s.serial = kHostileSerial; }),
       {runtimeLine("0100", kHostileSerial)},
       Step::Detach,
       kDetachOutput,
       "\"A7 X\\ 22 -U C:\\x.bin\\\\\"",
       "dfu",
       "0100"},
      {"dfu",
       device("dfu"),
       {dfuLine("0100")},
       Step::Download,
       kDownloadOutput,
       "A7X2249",
       "runtime",
       "0102"},
      {"dfu_manifest_wait_reset",
       device("dfu", "0100", [](auto& s) { s.manifestWaitsForReset = true; }),
       {dfuLine("0100")},
       Step::Download,
       downloadWithReset(),
       "A7X2249",
       "runtime",
       "0102",
       true},
      {"dfu_three_alternates",
       device("dfu", "0100", [](auto& s) { s.altSettings = 3; }),
       {dfuLine("0100", 2), dfuLine("0100", 1), dfuLine("0100", 0)},
       Step::Download,
       kRefusal,
       "A7X2249",
       "dfu",
       "0100"},
      {"dfu_other_serial",
       device("dfu", "0100", [](auto& s) { s.dfuSerial = "B0000"; }),
       {dfuLine("0100", 0, "B0000")},
       Step::Download,
       kDownloadOutput,
       "B0000",
       "runtime",
       "0102"},
      {"runtime_other_device",
       device("runtime", "0100", [](auto& s) { s.otherDevice = true; }),
       {runtimeLine("0100"), kOtherLine},
       Step::Detach,
       kDetachOutput,
       "A7X2249",
       "dfu",
       "0100"},
      {"dfu_other_device",
       device("dfu", "0100", [](auto& s) { s.otherDevice = true; }),
       {dfuLine("0100"), kOtherLine},
       Step::Download,
       kDownloadOutput,
       "A7X2249",
       "runtime",
       "0102"},
      {"unopenable",
       device("runtime", "0100", [](auto& s) { s.accessDenied = true; }),
       {cannotOpen},
       Step::NotFound,
       {},
       "",
       "runtime",
       "0100"},
      {"absent",
       device("runtime", "0100", [](auto& s) { s.absentRuns = 2; }),
       {},
       Step::NotFound,
       {},
       "",
       "runtime",
       "0100"},
  };
}

// The engine's events for one run over the case's device, built from what the tool prints.
class ExpectedEvents {
 public:
  ExpectedEvents(const Case& c, Text directory) : case_(c), directory_(std::move(directory)) {}

  std::vector<Text> build() {
    listing();
    if (case_.step == Step::NotFound) {
      add(u"updev.mode is  2 retry is 0");
      listing();
      return events_;
    }
    if (case_.step == Step::UpToDate) return events_;
    add(u"starting doUpgrade ");
    const Text serial = fromUtf8(case_.serialArgument);
    const std::string output = printed(plus(heading(), case_.stepOutput));
    if (case_.step == Step::Detach) {
      const Text command = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + serial + u" -c 1 -e";
      add(u"enter doDevDetach ");
      add(u"cmdline is " + command);
      add(u"doCmd updev.mode 0 cmdline is " + command);
      add(u"handlePipeInfo updev.mode 0 strOutput= " + fromUtf8(output));
      add(u"analyseBuffer strTmp= Device ID c4e2:8351" + cr());
      add(u"initDev devData= Device ID c4e2:8351" + cr());
      add(u"enter initDev 1");
      add(u"analyseBuffer updev.mode 0");
      return events_;
    }
    const Text command = u"dfu-util.exe -d c4e2:8351,c4e2:8352 -S " + serial + u" -D \"" +
                         directory_ + u"orvale-0102.dfu\"";
    add(u"cmdline is " + command);
    add(u"doCmd updev.mode 1 cmdline is " + command);
    add(u"doCmd enter sleep");
    add(u"doCmd end sleep");
    add(u"handlePipeInfo updev.mode 1 strOutput= " + fromUtf8(output));
    // After its first line, every line of a download's output is reported; a CR-only one too.
    std::istringstream lines(output);
    std::string line;
    std::getline(lines, line);
    while (std::getline(lines, line)) {
      if (!line.empty()) add(u"analyseBuffer countCmd == 1 strTmp= " + fromUtf8(line));
    }
    add(u"analyseBuffer updev.mode 1");
    return events_;
  }

 private:
  static Text cr() { return std::string(kPlatform.lineEnd) == "\r\n" ? u"\r" : u""; }

  // The engine formats each report into 256 characters.
  void add(const Text& text) { events_.push_back(text.substr(0, 255)); }

  void listing() {
    add(u"initUpgradeInfo packageList= " + directory_ + u"*.dfu");
    add(u"file delete   \uFF01");
    add(u"get targetVersion is 0102!");
    add(u"doCmd updev.mode 2 cmdline is dfu-util.exe -l");
    add(u"handlePipeInfo updev.mode 2 strOutput= " +
        fromUtf8(printed(plus(heading(), case_.listing))));
    // The parser reads the lines that name an Orvale device until one in DFU mode is seen, then
    // reports every further line.
    mode_ = 2;
    for (const std::string& printedLine : case_.listing) {
      const Text line = fromUtf8(printedLine) + cr();
      if (mode_ == 1) {
        add(u"analyseBuffer countCmd == 1 strTmp= " + line);
      } else if (printedLine.find("c4e2:835") != std::string::npos) {
        orvaleLine(line);
      }
    }
    add(u"analyseBuffer updev.mode " + fromAscii(std::to_string(mode_)));
    if (case_.step == Step::UpToDate) add(u"return for latest build!");
  }

  // The parser's reports of the line that names an Orvale device; a warning that names one is
  // read, and found to describe none.
  void orvaleLine(const Text& line) {
    add(u"analyseBuffer strTmp= " + line);
    add(u"initDev devData= " + line);
    add(u"enter initDev 1");
    if (line.rfind(u"Found ", 0) != 0) return;
    mode_ = case_.state.mode == "dfu" ? 1 : 0;
    if (mode_ == 0) add(u"updev.mode is  0");
    const Text version = fromUtf8(case_.state.version);
    add(u"curDev.version is " + version + u" targetVersion is 0102");
    if (case_.step == Step::UpToDate) {
      add(u"The device is latest version");
      return;
    }
    const std::string& serial = case_.state.mode == "dfu" && !case_.state.dfuSerial.empty()
                                    ? case_.state.dfuSerial
                                    : case_.state.serial;
    add(u"initDev updev.cfgId= 1");
    add(u"initDev updev.sn= " + fromUtf8(serial));
    add(u"leave initDev");
  }

  const Case& case_;
  Text directory_;
  std::vector<Text> events_;
  int mode_ = 2;  // the device record's mode as the parser leaves it
};

class ToolAgreement : public ::testing::TestWithParam<Case> {
 protected:
  ToolAgreement() {
    install.writeFile("orvale-0102.dfu",
                      testing::firmwarePackage(0x0102, testing::firmwareImage(0x0102, 1024)));
    testing::installEmulatedTool(tool.path(), GetParam().state);
  }

  testing::TemporaryDirectory install;
  testing::TemporaryDirectory tool;
};

// The whole output: the heading, the device lines and any warning, in their order on the one pipe.
TEST_P(ToolAgreement, ListsTheSameOutput) {
  EXPECT_EQ(testing::runWithToolFrom(tool.path(), u"dfu-util.exe -l"),
            printed(plus(heading(), GetParam().listing)));
}

TEST_P(ToolAgreement, EngineReportsTheSameEventsAndLeavesTheSameDevice) {
  const auto launcher = processLauncherIn(testing::pathText(tool.path()));
  testing::RecordingEventLog log;
  ProcessEventSources sources{log};
  testing::VirtualClock clock;
  testing::RecordingTraceOutput trace;
  const UpgradeEnvironment env{sources.engine, systemFileSystem(), *launcher, clock,
                               trace,          install.text()};
  OrvaleUpgradeProcess process(env);
  if (process.initDfuDevList() == kOutcomeListed) process.doUpgrade();

  EXPECT_EQ(log.texts(kEngineSourceName), ExpectedEvents(GetParam(), install.text()).build());
  const DeviceStateFile after = testing::emulatedState(tool.path());
  const bool reset = kPlatform.hostResetsDevice || !GetParam().needsHostReset;
  EXPECT_EQ(after.mode, reset ? GetParam().endMode : GetParam().state.mode);
  EXPECT_EQ(after.version, reset ? GetParam().endVersion : GetParam().state.version);
  if (GetParam().endVersion == "0102" && GetParam().state.version != "0102") {
    // The image, byte for byte: the package without its suffix. It lands with or without a reset.
    std::ifstream in(usbdevice::firmwareFile(testing::emulatedStateFile(tool.path())),
                     std::ios::binary);
    std::ostringstream image;
    image << in.rdbuf();
    EXPECT_EQ(image.str(), testing::firmwareImage(0x0102, 1024));
  }
}

INSTANTIATE_TEST_SUITE_P(DeviceStates, ToolAgreement, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& row) { return row.param.name; });

}  // namespace
}  // namespace qwus
