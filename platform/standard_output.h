// The process's standard output, where the engine writes a few trace lines.
#pragma once

#include "platform/text.h"

namespace qwus {

class TraceOutput {
 public:
  virtual ~TraceOutput() = default;

  // Writes `text` as it stands (the caller adds the line end) and flushes.
  virtual void write(TextView text) = 0;
};

// Standard output of the process, written as UTF-8. Never destroyed: threads may still use it while
// the process ends.
TraceOutput& standardOutput();

}  // namespace qwus
