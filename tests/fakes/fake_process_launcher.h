// An in-memory process launcher for tests: scripted tool outputs, chosen failures, a record of
// every command line and a ledger of every pipe end.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include "platform/process.h"

namespace qwus::testing {

// What one started command does: its output as the chunks that successive reads return (a chunk
// may hold NUL bytes; one longer than a read's size is returned over several reads), or a failure
// to start.
struct ScriptedRun {
  std::vector<std::string> chunks;
  bool failsToStart = false;
};

// What became of one pipe that the launcher created. Kept after the pipe object is gone, so a
// test can check the ends that the code under test closed.
struct PipeRecord {
  bool readEndOpen = true;
  bool writeEndOpen = true;
  bool started = false;             // a command was started on it
  std::size_t reads = 0;            // read() calls, failed ones included
  bool writeEndOpenAtFirstRead = false;  // a real pipe would have blocked the first read
};

// Safe to use from several threads at once. commandLines() and pipes() are for reading once the
// threads that use the launcher have finished.
class FakeProcessLauncher final : public ProcessLauncher {
 public:
  FakeProcessLauncher();
  ~FakeProcessLauncher() override;

  // The next started command behaves as `run`; commands beyond the script print nothing.
  void script(ScriptedRun run);
  // Shorthand: the next started command prints `chunks`.
  void scriptOutput(std::vector<std::string> chunks);
  // After the next `after` calls of createOutputPipe, which succeed, the `count` calls that
  // follow fail.
  void failPipeCreation(int count = 1, int after = 0);

  // Every command line passed to startProcess, in order, started or not.
  const std::vector<Text>& commandLines() const;
  // One record per pipe created, in order.
  const std::vector<PipeRecord>& pipes() const;
  // Pipe ends that were never closed through closeReadEnd or closeWriteEnd.
  std::size_t openPipeEnds() const;

  std::unique_ptr<OutputPipe> createOutputPipe() override;
  bool startProcess(Text& commandLine, OutputPipe& pipe) override;

  struct Ledger;

 private:
  std::shared_ptr<Ledger> ledger_;
};

}  // namespace qwus::testing
