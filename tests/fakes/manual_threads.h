// A thread launcher for tests that runs started routines only when the test says so.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "platform/thread.h"

namespace qwus::testing {

class ManualThreads final : public ThreadLauncher {
 public:
  bool failStart = false;

  bool start(ThreadRoutine routine, void* parameter, std::uint32_t& threadId) override;

  // Routines started and not yet run.
  std::size_t pending() const;
  // Runs the pending routines on the calling thread, in start order; returns their exit codes.
  std::vector<std::uint32_t> runPending();
  // Runs only the routine started last, on the calling thread; returns its exit code.
  std::uint32_t runNewest();

 private:
  struct Started {
    ThreadRoutine routine;
    void* parameter;
  };
  mutable std::mutex mutex_;
  std::vector<Started> pending_;
  std::uint32_t nextId_ = 1000;
};

}  // namespace qwus::testing
