// Windows threads: CreateThread, handle closed at once.
#include "platform/thread.h"

#include <windows.h>

namespace qwus {
namespace {

struct Start {
  ThreadRoutine routine;
  void* parameter;
};

class WindowsThreads final : public ThreadLauncher {
 public:
  bool start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) override {
    // The routine's calling convention is ours, not WINAPI: a small record carries it over.
    auto* record = new Start{routine, parameter};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, &run, record, 0, &id);
    if (thread == nullptr) {
      delete record;
      return false;
    }
    CloseHandle(thread);
    threadId = id;
    return true;
  }

 private:
  static DWORD WINAPI run(LPVOID raw) {
    const Start record = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    return record.routine(record.parameter);
  }
};

}  // namespace

ThreadLauncher& systemThreads() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsThreads& threads = *new WindowsThreads;
  return threads;
}

}  // namespace qwus
