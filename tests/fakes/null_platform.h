// Do-nothing trace output and clock, for fuzzing and benchmarks where only the engine's own work
// should count.
#pragma once

#include <cstdint>

#include "platform/clock.h"
#include "platform/standard_output.h"

namespace qwus::testing {

class NullTrace final : public TraceOutput {
 public:
  void write(TextView) override {}
};

class NullClock final : public Clock {
 public:
  void sleep(std::uint32_t) override {}
};

}  // namespace qwus::testing
