// QuorlanWindowsUpdateServiceTestHost.exe: the product wired to the platform with its test hooks.
// Beside the executable: control codes 128/129/130 become device events whose path is the first
// line of arrival.txt; bus-events.txt, when it is there at the start, is followed and each of its
// lines announced as Windows would announce the device's coming or going (bus_follower.h); every
// report is also appended to events.tsv; time-divisor.txt, when it holds a positive integer N,
// makes every wait last its time divided by N, the device's settling times included;
// events-threads.txt gets, for each line of events.tsv, the process and thread that reported it.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "eventlog/event_source.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/service_manager.h"
#include "platform/standard_output.h"
#include "platform/thread.h"
#include "platform/win_text.h"
#include "service/entry_point.h"
#include "tools/test_host/bus_follower.h"
#include "tools/test_host/divided_clock.h"
#include "tools/test_host/events_file_log.h"
#include "tools/test_host/test_host_service_manager.h"

namespace {

using namespace qwus;

// The folder of the running executable, with its closing backslash.
std::wstring hostFolder() { return asWide(executableFolder().c_str()); }

std::uint32_t readTimeDivisor(const std::wstring& file) {
  std::FILE* in = _wfopen(file.c_str(), L"rb");
  if (in == nullptr) return 1;
  char digits[24] = {};
  const bool read = std::fgets(digits, sizeof digits, in) != nullptr;
  std::fclose(in);
  char* end = digits;
  const long value = read ? std::strtol(digits, &end, 10) : 0;
  return end != digits && value > 0 ? static_cast<std::uint32_t>(value) : 1;
}

// The process and the thread, the thread by its number in order of its first report: Windows
// reuses a thread's id once it has ended, and the processes' lines share a file.
std::uint64_t processAndThread() {
  static std::atomic<std::uint32_t> threadsSoFar{0};
  thread_local const std::uint32_t thread = ++threadsSoFar;
  return (static_cast<std::uint64_t>(GetCurrentProcessId()) << 32) | thread;
}

EventLog& testHostEventLog() {
  // Never destroyed: workers may still report while the process ends.
  static EventsFileLog& log = []() -> EventsFileLog& {
    auto& made = *new EventsFileLog(
        systemEventLog(), _wfopen((hostFolder() + L"events.tsv").c_str(), L"ab"));
    made.recordThreads(_wfopen((hostFolder() + L"events-threads.txt").c_str(), L"ab"),
                       &processAndThread);
    return made;
  }();
  return log;
}

// NOLINTNEXTLINE(cert-err58-cpp): out of memory before main can only end the process, as it does
ProcessEventSources& gEventSources = *new ProcessEventSources(testHostEventLog());

}  // namespace

int main(int argc, char** argv) {
  const std::wstring folder = hostFolder();
  auto& manager = *new TestHostServiceManager(systemServiceManager(),
                                              asText((folder + L"arrival.txt").c_str()));
  auto* clock = new DividedClock(systemClock(), readTimeDivisor(folder + L"time-divisor.txt"));
  // Only a scenario that asks for the device's own announcements has the file; the others
  // announce by hand and would lose their meaning if the test host announced as well.
  const std::wstring busEvents = folder + L"bus-events.txt";
  if (argc <= 1 && GetFileAttributesW(busEvents.c_str()) != INVALID_FILE_ATTRIBUTES) {
    (new BusFollower(asText(busEvents.c_str()), manager, *clock))->start();
  }

  auto* env = new ServiceEnvironment{
      gEventSources.service,
      gEventSources.outcome,
      manager,
      systemThreads(),
      *clock,
      UpgradeEnvironment{gEventSources.engine, systemFileSystem(), systemProcessLauncher(), *clock,
                         standardOutput(), installDirectoryFor(executableFolder())},
      {},
      {}};
  // The wait for a worker still deleting the registration keeps its full time: Wine's service
  // manager takes longer than a divided wait would allow.
  env->exitClock = &systemClock();
  return serviceEntryPoint(argc, argv, *env);
}
