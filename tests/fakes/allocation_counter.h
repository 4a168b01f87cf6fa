// Counts heap allocations made by the current thread, for tests that prove a path never allocates.
// Linking this file replaces the global operator new and delete of the test executable.
#pragma once

#include <cstddef>

namespace qwus::testing {

// Counts the operator-new calls of the constructing thread while it lives.
class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  std::size_t count() const;

 private:
  std::size_t start_;
};

}  // namespace qwus::testing
