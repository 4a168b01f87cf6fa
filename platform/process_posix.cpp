// POSIX processes and pipes: pipe2 and posix_spawn, with the command line split as Windows splits
// it and the program taken from the launcher's folder alone.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "platform/command_line.h"

extern char** environ;

namespace qwus {
namespace {

// Owns one file descriptor.
class FileDescriptor {
 public:
  FileDescriptor() = default;
  explicit FileDescriptor(int fd) noexcept : fd_(fd) {}
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  ~FileDescriptor() { close(); }

  int get() const noexcept { return fd_; }
  bool isOpen() const noexcept { return fd_ >= 0; }
  void close() noexcept {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

class PosixOutputPipe final : public OutputPipe {
 public:
  PosixOutputPipe(int readFd, int writeFd) noexcept : read_(readFd), write_(writeFd) {}

  bool read(char* buffer, std::size_t size, std::size_t& bytesRead) override {
    bytesRead = 0;
    if (!read_.isOpen()) return false;
    ssize_t n;
    do {
      n = ::read(read_.get(), buffer, size);
    } while (n < 0 && errno == EINTR);
    // End of file (every write end closed) fails the read, as ReadFile does on a broken pipe.
    if (n <= 0) return false;
    bytesRead = static_cast<std::size_t>(n);
    return true;
  }

  void closeWriteEnd() override { write_.close(); }
  void closeReadEnd() override { read_.close(); }

  int writeFd() const noexcept { return write_.get(); }

 private:
  FileDescriptor read_;
  FileDescriptor write_;
};

bool isExecutableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

// The folder of the running executable; empty when unknown.
std::string ownFolder() {
  char path[PATH_MAX];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  if (n <= 0) return {};
  std::string exe(path, static_cast<std::size_t>(n));
  const auto slash = exe.rfind('/');
  return slash == std::string::npos ? std::string() : exe.substr(0, slash);
}

// Owns posix_spawn's file actions.
class SpawnFileActions {
 public:
  SpawnFileActions() { ok_ = posix_spawn_file_actions_init(&actions_) == 0; }
  SpawnFileActions(const SpawnFileActions&) = delete;
  SpawnFileActions& operator=(const SpawnFileActions&) = delete;
  ~SpawnFileActions() {
    if (ok_) posix_spawn_file_actions_destroy(&actions_);
  }
  bool ok() const noexcept { return ok_; }
  posix_spawn_file_actions_t* get() noexcept { return &actions_; }

 private:
  posix_spawn_file_actions_t actions_{};
  bool ok_ = false;
};

// Reaps `pid` when it exits. A thread blocked in waitpid for this one child does not need a
// SIGCHLD handler, which would be process-wide and could take exit statuses that other code of
// the process waits for; the caller never blocks, and no zombie stays behind.
void reapInBackground(pid_t pid) {
  try {
    std::thread([pid] {
      int status = 0;
      while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  } catch (const std::system_error&) {
    // No thread could be made: the child stays a zombie until this process ends. Starting it
    // still succeeded, and nothing of the caller depends on the reaping.
  }
}

class PosixProcessLauncher final : public ProcessLauncher {
 public:
  explicit PosixProcessLauncher(std::string folder) : folder_(std::move(folder)) {}

  std::unique_ptr<OutputPipe> createOutputPipe() override {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return nullptr;
    return std::make_unique<PosixOutputPipe>(fds[0], fds[1]);
  }

  bool startProcess(Text& commandLine, OutputPipe& pipe) override {
    auto* posixPipe = dynamic_cast<PosixOutputPipe*>(&pipe);
    if (posixPipe == nullptr || posixPipe->writeFd() < 0) return false;

    const Text name = programFileName(commandLine);
    if (folder_.empty() || name.empty()) return false;
    const std::string program = folder_ + "/" + toUtf8(name);
    if (!isExecutableFile(program)) return false;
    const std::vector<Text> arguments = splitCommandLine(commandLine);

    std::vector<std::string> narrow;
    narrow.reserve(arguments.size());
    for (const auto& argument : arguments) narrow.push_back(toUtf8(argument));
    std::vector<char*> argv;
    argv.reserve(narrow.size() + 1);
    for (auto& argument : narrow) argv.push_back(argument.data());
    argv.push_back(nullptr);

    SpawnFileActions actions;
    if (!actions.ok()) return false;
    const int writeFd = posixPipe->writeFd();
    // dup2 leaves the copies on 1 and 2 open across exec; the original keeps its close-on-exec.
    if (posix_spawn_file_actions_adddup2(actions.get(), writeFd, STDOUT_FILENO) != 0 ||
        posix_spawn_file_actions_adddup2(actions.get(), writeFd, STDERR_FILENO) != 0) {
      return false;
    }
#if defined(__GLIBC__) && (__GLIBC__ > 2 || (__GLIBC__ == 2 && __GLIBC_MINOR__ >= 34))
    // Descriptors that other code opened without close-on-exec must not reach the child either.
    if (posix_spawn_file_actions_addclosefrom_np(actions.get(), STDERR_FILENO + 1) != 0) {
      return false;
    }
#endif

    pid_t pid = 0;
    if (posix_spawn(&pid, program.c_str(), actions.get(), nullptr, argv.data(), environ) != 0) {
      return false;
    }
    reapInBackground(pid);
    return true;
  }

 private:
  std::string folder_;
};

}  // namespace

Text executableFolder() {
  const std::string folder = ownFolder();
  return folder.empty() ? Text() : fromUtf8(folder + "/");
}

ProcessLauncher& systemProcessLauncher() {
  // Never destroyed: a worker may still use it while the process ends.
  static PosixProcessLauncher& launcher = *new PosixProcessLauncher(ownFolder());
  return launcher;
}

std::unique_ptr<ProcessLauncher> processLauncherIn(const Text& folder) {
  return std::make_unique<PosixProcessLauncher>(toUtf8(folder));
}

}  // namespace qwus
