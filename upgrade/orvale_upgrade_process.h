// The firmware upgrade engine's object: one upgrade run of one arrival, its device record, and the
// operations of package choice, listing parsing, tool running and the upgrade procedure.
#pragma once

#include <cstdint>
#include <vector>

#include "eventlog/event_source.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/standard_output.h"
#include "platform/text.h"

namespace qwus {

// The folder of the standard installation, with its closing backslash.
inline constexpr char16_t kInstallDirectory[] = u"C:\\Program Files\\Quorlan\\orvale\\Services\\";

// Where the product keeps its firmware packages, as it finds dfu-util.exe: the folder of its own
// executable (`executableFolder`, with its closing separator), which is kInstallDirectory when
// installed as shipped; kInstallDirectory only when that folder is unknown.
inline Text installDirectoryFor(const Text& executableFolder) {
  return executableFolder.empty() ? Text(kInstallDirectory) : executableFolder;
}

// The record of one DFU device as the latest listing showed it. A plain value type.
struct DfuDeviceInfo {
  Text version;            // the trimmed text after "ver="
  std::int32_t cfgId = 0;  // the number after "cfg="
  Text sn;                 // the serial number after "serial=", quotes removed, trimmed
  std::int32_t mode = 2;   // 0 runtime, 1 DFU, 2 not seen
};

// What an upgrade run needs from outside. The product passes the system's adapters, the engine's
// process-wide event source and installDirectoryFor(its own folder); tests pass fakes and a
// temporary directory.
struct UpgradeEnvironment {
  EventSource& events;       // the engine's event source
  FileSystem& files;
  ProcessLauncher& processes;
  Clock& clock;
  TraceOutput& trace;        // standard output
  Text installDirectory;     // ends with a path separator
};

// Outcome codes of initDfuDevList, doUpgrade and doDevDetach.
inline constexpr int kOutcomeNoPackage = 1;        // package discovery or target version failed
inline constexpr int kOutcomeListed = 2;           // the listing ran and was parsed
inline constexpr int kOutcomeDetached = 3;         // the runtime-mode device was detached
inline constexpr int kOutcomeToolRan = 4;          // download (or detach) ran and was parsed
inline constexpr int kOutcomeToolNotStarted = 5;   // the tool failed to start
inline constexpr int kOutcomeUpToDate = 6;         // "return for latest build!"
inline constexpr int kOutcomeFailed = 7;           // device not seen, pipe or listing tool failed

// One upgrade run. Built by the upgrade worker for one arrival and used by that thread only. The
// operations read and write the fields directly; tests inspect them the same way.
class OrvaleUpgradeProcess {
 public:
  explicit OrvaleUpgradeProcess(const UpgradeEnvironment& environment);
  OrvaleUpgradeProcess(const OrvaleUpgradeProcess&) = delete;
  OrvaleUpgradeProcess& operator=(const OrvaleUpgradeProcess&) = delete;

  // Upgrade procedure.
  // Chooses the package, lists the devices with "dfu-util.exe -l" and parses the listing.
  // Returns kOutcomeNoPackage, kOutcomeListed or kOutcomeFailed.
  int initDfuDevList();
  // Lists again (device not seen), stops (up to date), detaches (runtime) or downloads (DFU).
  // Returns kOutcomeDetached, kOutcomeToolRan, kOutcomeToolNotStarted, kOutcomeUpToDate or
  // kOutcomeFailed.
  int doUpgrade();
  // Runs the detach for the device record `device`, a copy of updev taken before the tool's
  // output is parsed into updev again. Returns kOutcomeToolRan, kOutcomeToolNotStarted or
  // kOutcomeFailed.
  int doDevDetach(DfuDeviceInfo device);

  // Command runner.
  // Starts `cmdline` with its output on `pipe`; for a device in DFU mode waits 50 s after the
  // start. Returns 0, or a negative status when the tool could not be started.
  int doCmd(Text& cmdline, OutputPipe& pipe);
  // Reads everything the tool writes until the pipe ends, reports it, parses it and closes the
  // read end. Returns 0.
  int handlePipeInfo(OutputPipe& pipe);

  // Listing parser.
  // Parses a tool's whole output into updev; the first line is never examined.
  void analyseBuffer(const Text& output);
  // Reads one device line into updev.
  void initDev(const Text& devData);

  // Package discovery and the version decision.
  // Chooses the package in `directory` (deleting the others) and reads its version.
  // Returns 1, or -1 on failure.
  int initUpgradeInfo(const Text& directory);
  // Reads the package's version from the DFU suffix of the file at `path` into targetVersion.
  // Returns 1, or -1 on failure.
  int readTargetVersion(const Text& path);
  // True when a device at `version` is to be upgraded to targetVersion.
  bool checkVersion(const Text& version);

  bool retry = false;
  bool upgradeNeeded = false;
  DfuDeviceInfo updev;
  Text packageName;
  Text targetVersion;
  bool forceUpgrade = false;
  // For the run's outcome: the serial number of the last Orvale device line read in runtime or
  // DFU mode, whatever its version (updev.sn is set only for a device to upgrade); whether the
  // last tool run started; and everything it printed.
  Text deviceSerial;
  bool toolStarted = false;
  Text toolOutput;

 private:
  // Reports one message of the engine, always as information.
  template <typename... Args>
  void report(const char16_t* format, const Args&... args) {
    reportFormatted(env_.events, EventType::Information, format, args...);
  }
  // Writes one trace line, `label` then `value`, to the trace output in a single write.
  void trace(TextView label, TextView value);

  UpgradeEnvironment env_;
};

}  // namespace qwus
