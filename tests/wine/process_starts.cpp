// Starts a child process again and again through the product's own launcher (pipe, inherited
// handle list, CreateProcessW) and counts the starts that fail. scripts/wine-process-starts runs it
// to measure how often Wine fails to create a process; the CTest test wine_address_space runs it
// briefly to check that every Wine process of the tests runs with address-space randomisation off.
//   process_starts COUNT   COUNT starts; prints one line "starts N failed N silent N randomised N"
//                          and, for each failed start, "start I: error E"; exits 1 if any failed
//   process_starts --child prints the Linux personality of the Wine process it runs in
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "platform/process.h"

namespace {

// Linux's personality flag that turns address-space randomisation off (ADDR_NO_RANDOMIZE).
constexpr unsigned long kNoRandomisation = 0x0040000;

// The child: Wine runs every Windows program in a Linux process of its own, whose personality
// drive Z: (the Linux root) shows.
int child() {
  std::FILE* file = std::fopen("Z:\\proc\\self\\personality", "r");
  if (file == nullptr) return 2;
  char text[32] = {};
  const bool read = std::fgets(text, sizeof text, file) != nullptr;
  std::fclose(file);
  if (!read) return 2;
  std::printf("personality %s", text);
  return 0;
}

// What one start gave.
enum class Start { Ok, Failed, Silent, Randomised };

Start startOnce(const std::u16string& self, DWORD& error) {
  qwus::ProcessLauncher& launcher = qwus::systemProcessLauncher();
  auto pipe = launcher.createOutputPipe();
  if (!pipe) {
    error = GetLastError();
    return Start::Failed;
  }
  // The launcher starts programs of the running executable's folder by their file names.
  qwus::Text commandLine = u"\"" + self.substr(self.find_last_of(u"\\/") + 1) + u"\" --child";
  if (!launcher.startProcess(commandLine, *pipe)) {
    error = GetLastError();
    return Start::Failed;
  }
  pipe->closeWriteEnd();
  std::string output;
  char buffer[256];
  std::size_t count = 0;
  while (pipe->read(buffer, sizeof buffer, count)) output.append(buffer, count);
  // A child that was created but died before it ran prints nothing.
  const auto at = output.find("personality ");
  if (at == std::string::npos) return Start::Silent;
  const unsigned long personality = std::strtoul(output.c_str() + at + 12, nullptr, 16);
  return (personality & kNoRandomisation) != 0 ? Start::Ok : Start::Randomised;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 2 && std::wcscmp(argv[1], L"--child") == 0) return child();
  if (argc != 2) {
    std::fprintf(stderr, "usage: process_starts COUNT | --child\n");
    return 2;
  }
  const long total = std::wcstol(argv[1], nullptr, 10);
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (total <= 0 || length == 0 || length == MAX_PATH) return 2;
  const std::u16string self(reinterpret_cast<const char16_t*>(path), length);

  long failed = 0;
  long silent = 0;
  long randomised = 0;
  for (long i = 1; i <= total; ++i) {
    DWORD error = 0;
    switch (startOnce(self, error)) {
      case Start::Ok: break;
      case Start::Failed:
        ++failed;
        std::printf("start %ld: error %lu\n", i, error);
        break;
      case Start::Silent:
        ++silent;
        std::printf("start %ld: no output\n", i);
        break;
      case Start::Randomised: ++randomised; break;
    }
    std::fflush(stdout);
  }
  std::printf("starts %ld failed %ld silent %ld randomised %ld\n", total, failed, silent,
              randomised);
  return failed + silent == 0 ? 0 : 1;
}
