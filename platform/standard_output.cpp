// Standard output as a trace sink: UTF-8, flushed after each write.
#include "platform/standard_output.h"

#include <cstdio>
#include <string>

namespace qwus {
namespace {

class StandardOutput final : public TraceOutput {
 public:
  void write(TextView text) override {
    const std::string utf8 = toUtf8(text);
    std::fwrite(utf8.data(), 1, utf8.size(), stdout);
    std::fflush(stdout);
  }
};

}  // namespace

TraceOutput& standardOutput() {
  // Never destroyed: a worker may still use it while the process ends.
  static StandardOutput& output = *new StandardOutput;
  return output;
}

}  // namespace qwus
