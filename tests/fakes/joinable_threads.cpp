// Real threads that a test can join.
#include "tests/fakes/joinable_threads.h"

namespace qwus::testing {

bool JoinableThreads::start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) {
  std::lock_guard lock(mutex_);
  threads_.emplace_back([routine, parameter] { routine(parameter); });
  threadId = static_cast<std::uint32_t>(++started_);
  return true;
}

std::size_t JoinableThreads::joinAll() {
  for (;;) {
    std::vector<std::thread> batch;
    {
      std::lock_guard lock(mutex_);
      if (threads_.empty()) return started_;
      batch.swap(threads_);
    }
    for (std::thread& thread : batch) thread.join();
  }
}

}  // namespace qwus::testing
