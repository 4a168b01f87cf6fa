// A program that ends while a worker thread still uses every system adapter, as the service's
// process does when a worker outlives the dispatcher. The worker makes its calls from inside the
// process's exit handlers, after main has returned and every object with a destructor registered
// after the first handler has been destroyed. Exits with 0 when the worker got through; a
// destroyed adapter ends the process with a pure virtual call instead.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <vector>

#include "eventlog/event_source.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "platform/standard_output.h"
#include "platform/thread.h"
#ifdef _WIN32
#include <windows.h>

#include "platform/service_manager.h"
#endif

namespace {

using namespace qwus;

enum Phase : int { kStarting, kWorking, kExiting, kDone };
std::atomic<int> gPhase{kStarting};
// Never freed, as in the product.
ProcessEventSources* gSources = nullptr;

// Each adapter once, as a worker of the service uses it.
void useEveryAdapter() {
  systemClock().sleep(1);
  std::uint32_t threadId = 0;
  systemThreads().start([](void*) -> std::uint32_t { return 0; }, nullptr, threadId);
  std::vector<DirectoryEntry> entries;
  systemFileSystem().findEntries(u"no such folder/*.dfu", entries);
  systemProcessLauncher().createOutputPipe();
  standardOutput().write(u"trace line while the process ends\n");
#ifdef _WIN32
  systemServiceManager().lastError();
#endif
  reportFormatted(gSources->engine, EventType::Information, u"report while the process ends");
}

std::uint32_t worker(void* /*parameter*/) {
  gPhase = kWorking;
  while (gPhase.load() != kExiting) systemClock().sleep(1);
  useEveryAdapter();
  gPhase = kDone;
  return 0;
}

// Runs after every exit handler registered after it, the adapters' destructors among them if
// they had any.
void letTheWorkerFinish() {
  gPhase = kExiting;
  for (int i = 0; i < 10000 && gPhase.load() != kDone; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  if (gPhase.load() != kDone) {
    std::fputs("the worker did not finish\n", stderr);
    std::_Exit(2);
  }
}

}  // namespace

int main() {
#ifdef _WIN32
  // A crash on the worker must fail the test; Wine's debugger would end the process with 0.
  SetUnhandledExceptionFilter([](EXCEPTION_POINTERS*) -> LONG { std::_Exit(3); });
#endif
  // Registered before any adapter exists.
  std::atexit(&letTheWorkerFinish);
  gSources = new ProcessEventSources(systemEventLog());
  std::uint32_t threadId = 0;
  if (!systemThreads().start(&worker, nullptr, threadId)) return 1;
  while (gPhase.load() != kWorking) systemClock().sleep(1);
  useEveryAdapter();
  return 0;
}
