// Windows processes and pipes: CreatePipe, CreateProcessW of a program in the launcher's folder,
// named as the application, with the child's output on the pipe and only that pipe's write end
// inherited, ReadFile and CloseHandle.
#include "platform/process.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "platform/command_line.h"
#include "platform/win_text.h"

namespace qwus {
namespace {

// Owns one kernel handle.
class Handle {
 public:
  Handle() = default;
  explicit Handle(HANDLE handle) noexcept : handle_(handle) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() { close(); }

  HANDLE get() const noexcept { return handle_; }
  bool isOpen() const noexcept { return handle_ != nullptr; }
  void close() noexcept {
    if (handle_ != nullptr) CloseHandle(handle_);
    handle_ = nullptr;
  }

 private:
  HANDLE handle_ = nullptr;
};

class WindowsOutputPipe final : public OutputPipe {
 public:
  WindowsOutputPipe(HANDLE readEnd, HANDLE writeEnd) noexcept : read_(readEnd), write_(writeEnd) {}

  bool read(char* buffer, std::size_t size, std::size_t& bytesRead) override {
    bytesRead = 0;
    if (!read_.isOpen()) return false;
    DWORD count = 0;
    const DWORD asked = static_cast<DWORD>(std::min<std::size_t>(size, MAXDWORD));
    if (!ReadFile(read_.get(), buffer, asked, &count, nullptr)) return false;
    bytesRead = count;
    return true;
  }

  void closeWriteEnd() override { write_.close(); }
  void closeReadEnd() override { read_.close(); }

  HANDLE writeEnd() const noexcept { return write_.get(); }

 private:
  Handle read_;
  Handle write_;
};

// A process attribute list naming the one handle a child may inherit.
class InheritedHandleList {
 public:
  explicit InheritedHandleList(HANDLE handle) : handle_(handle) {
    SIZE_T size = 0;
    InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    storage_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
    if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    initialized_ = true;
    // The list keeps the address of handle_, which lives as long as this object.
    ok_ = UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_,
                                    sizeof handle_, nullptr, nullptr) != FALSE;
  }
  InheritedHandleList(const InheritedHandleList&) = delete;
  InheritedHandleList& operator=(const InheritedHandleList&) = delete;
  ~InheritedHandleList() {
    if (initialized_) DeleteProcThreadAttributeList(get());
  }

  bool ok() const noexcept { return ok_; }
  LPPROC_THREAD_ATTRIBUTE_LIST get() noexcept {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(storage_.data());
  }

 private:
  HANDLE handle_;
  std::vector<unsigned char> storage_;
  bool initialized_ = false;
  bool ok_ = false;
};

// The folder of the running executable, without its trailing backslash; empty when unknown.
Text ownFolder() {
  Text file(32768, u'\0');
  const DWORD n =
      GetModuleFileNameW(nullptr, asWide(file.data()), static_cast<DWORD>(file.size()));
  if (n == 0 || n >= file.size()) return {};
  file.resize(n);
  const auto slash = file.find_last_of(u"\\/");
  return slash == Text::npos ? Text() : file.substr(0, slash);
}

class WindowsProcessLauncher final : public ProcessLauncher {
 public:
  explicit WindowsProcessLauncher(Text folder) : folder_(std::move(folder)) {}

  std::unique_ptr<OutputPipe> createOutputPipe() override {
    SECURITY_ATTRIBUTES attributes{};
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &attributes, 0)) return nullptr;
    return std::make_unique<WindowsOutputPipe>(readEnd, writeEnd);
  }

  bool startProcess(Text& commandLine, OutputPipe& pipe) override {
    auto* windowsPipe = dynamic_cast<WindowsOutputPipe*>(&pipe);
    if (windowsPipe == nullptr || windowsPipe->writeEnd() == nullptr) return false;
    HANDLE writeEnd = windowsPipe->writeEnd();
    // Named as the application, the program is taken from this folder or not at all: without an
    // application name CreateProcessW would go on to the current folder, the system folders and
    // every folder of PATH, where anyone who may write to one could plant a program of that name.
    const Text program = programFileName(commandLine);
    if (folder_.empty() || program.empty()) return false;
    const Text application = folder_ + u"\\" + program;

    InheritedHandleList inherited(writeEnd);
    if (!inherited.ok()) return false;

    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof(STARTUPINFOW);
    GetStartupInfoW(&startup.StartupInfo);
    // The extended record is recognised by its size.
    startup.StartupInfo.cb = sizeof startup;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    startup.StartupInfo.wShowWindow = SW_HIDE;
    startup.StartupInfo.hStdOutput = writeEnd;
    startup.StartupInfo.hStdError = writeEnd;
    startup.lpAttributeList = inherited.get();

    PROCESS_INFORMATION info{};
    if (!CreateProcessW(asWide(application.c_str()), asWide(commandLine.data()), nullptr,
                        nullptr, TRUE, EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr,
                        &startup.StartupInfo, &info)) {
      return false;
    }
    // Nothing waits for the child or asks for its exit code.
    Handle process(info.hProcess);
    Handle thread(info.hThread);
    return true;
  }

 private:
  Text folder_;
};

static_assert((STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW) == 0x101);

}  // namespace

Text executableFolder() {
  const Text folder = ownFolder();
  return folder.empty() ? Text() : folder + u"\\";
}

ProcessLauncher& systemProcessLauncher() {
  // Never destroyed: a worker may still use it while the process ends.
  static WindowsProcessLauncher& launcher = *new WindowsProcessLauncher(ownFolder());
  return launcher;
}

std::unique_ptr<ProcessLauncher> processLauncherIn(const Text& folder) {
  return std::make_unique<WindowsProcessLauncher>(folder);
}

}  // namespace qwus
