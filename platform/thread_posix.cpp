// POSIX threads: a detached pthread.
#include "platform/thread.h"

#include <pthread.h>

#include <atomic>

namespace qwus {
namespace {

struct Start {
  ThreadRoutine routine;
  void* parameter;
};

std::atomic<std::uint32_t> nextThreadId{1};

class PosixThreads final : public ThreadLauncher {
 public:
  bool start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) override {
    auto* record = new Start{routine, parameter};
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    pthread_t thread;
    const int error = pthread_create(&thread, &attributes, &run, record);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
      delete record;
      return false;
    }
    threadId = nextThreadId.fetch_add(1);
    return true;
  }

 private:
  static void* run(void* raw) {
    const Start record = *static_cast<Start*>(raw);
    delete static_cast<Start*>(raw);
    record.routine(record.parameter);
    return nullptr;
  }
};

}  // namespace

ThreadLauncher& systemThreads() {
  // Never destroyed: a worker may still use it while the process ends.
  static PosixThreads& threads = *new PosixThreads;
  return threads;
}

}  // namespace qwus
