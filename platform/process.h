// Child processes whose standard output and standard error go to an anonymous pipe.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/text.h"

namespace qwus {

// An anonymous pipe: a read end for the engine and a write end for a child process. Destroying it
// closes whichever ends are still open.
class OutputPipe {
 public:
  virtual ~OutputPipe() = default;

  // Reads at most `size` bytes (one ReadFile) into `buffer`, blocking until some are there.
  // Returns false when the read fails, normally because the pipe is empty and every copy of the
  // write end has been closed; `bytesRead` then is 0.
  virtual bool read(char* buffer, std::size_t size, std::size_t& bytesRead) = 0;

  // Closes this process's copy of the write end (the child keeps its own).
  virtual void closeWriteEnd() = 0;

  // Closes the read end.
  virtual void closeReadEnd() = 0;
};

class ProcessLauncher {
 public:
  virtual ~ProcessLauncher() = default;

  // Creates a pipe whose ends can be inherited (CreatePipe, default size). Null on failure.
  virtual std::unique_ptr<OutputPipe> createOutputPipe() = 0;

  // Starts `commandLine` as a child process with standard output and standard error on the
  // write end of `pipe`, which must come from this launcher's createOutputPipe(). The program is
  // the command line's first argument, a file name, and it is run only from the launcher's folder:
  // by that full path, as the application name, with `commandLine` unchanged as its command line.
  // No other folder is searched, so a first argument that names a folder, or a program missing
  // from the launcher's folder, fails the start. The child inherits no other handle of this
  // process. `commandLine` must be writable; the call may change it. Nothing waits for the child.
  // Returns false when it could not be started.
  virtual bool startProcess(Text& commandLine, OutputPipe& pipe) = 0;
};

// The folder of the running executable with its closing path separator; empty when unknown.
Text executableFolder();

// The running system's launcher, whose folder is the running executable's own. Never destroyed:
// threads may still use it while the process ends.
ProcessLauncher& systemProcessLauncher();

// A launcher of the running system whose folder is `folder` (a path without a trailing separator,
// in this platform's form), for tests that keep their programs in a folder of their own.
std::unique_ptr<ProcessLauncher> processLauncherIn(const Text& folder);

}  // namespace qwus
