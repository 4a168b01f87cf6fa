// A trace sink for tests that keeps every write.
#pragma once

#include <vector>

#include "platform/standard_output.h"

namespace qwus::testing {

class RecordingTraceOutput final : public TraceOutput {
 public:
  void write(TextView text) override { writes_.emplace_back(text); }

  // Every write, in order, each exactly as the caller passed it.
  const std::vector<Text>& writes() const { return writes_; }
  void clear() { writes_.clear(); }

 private:
  std::vector<Text> writes_;
};

}  // namespace qwus::testing
