// A thread launcher for stress tests: real threads, which the test joins once it is done.
#pragma once

#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace qwus::testing {

// Starts each routine on a std::thread at once, as the system's launcher does, but keeps every
// thread so that joinAll() can wait for them. Safe to call from several threads.
class JoinableThreads final : public ThreadLauncher {
 public:
  ~JoinableThreads() override { joinAll(); }

  bool start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) override;

  // Waits for every thread started so far, including those started meanwhile by the threads
  // being joined. Returns how many threads were started in all.
  std::size_t joinAll();

 private:
  std::mutex mutex_;
  std::vector<std::thread> threads_;
  std::size_t started_ = 0;
};

}  // namespace qwus::testing
