// The stand-in tool: installed as dfu-util.exe, it prints what no real tool prints (bytes that are
// no report, NUL bytes, megabytes, slow lines, a hang, nothing at all), as dfu-util.stand-in beside
// it chooses, for the tests of the launcher and the engine. By default it echoes its arguments to
// standard output and one line to standard error. Every run appends the arguments it received, as
// the C runtime split them, to dfu-util.arguments beside it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "platform/text.h"
#include "platform/win_text.h"
#endif

namespace {

// The longest hang and the longest pause between slow lines: a broken test never waits for ever.
constexpr long kMaxHangMs = 60000;
constexpr long kMaxSlowMs = 1000;

struct Behaviour {
  std::string output = "echo";  // echo, silent, garbage, nul, huge, slow or hang
  long hangMs = 3000;
  long slowMs = 100;
  long hugeBytes = 4000000;
};

std::filesystem::path ownFolder() {
#ifdef _WIN32
  std::vector<wchar_t> path(32768);
  const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  return std::filesystem::path(std::wstring(path.data(), n)).parent_path();
#else
  return std::filesystem::read_symlink("/proc/self/exe").parent_path();
#endif
}

Behaviour readBehaviour(const std::filesystem::path& file) {
  Behaviour behaviour;
  std::ifstream in(file, std::ios::binary);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const std::string value = line.substr(equals + 1);
    if (key == "output") behaviour.output = value;
    const long number = std::strtol(value.c_str(), nullptr, 10);
    if (key == "hang_ms") behaviour.hangMs = std::clamp(number, 0L, kMaxHangMs);
    if (key == "slow_ms") behaviour.slowMs = std::clamp(number, 0L, kMaxSlowMs);
    if (key == "huge_bytes") behaviour.hugeBytes = number;
  }
  return behaviour;
}

void sleepMs(long milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

void print(const std::string& bytes) { std::fwrite(bytes.data(), 1, bytes.size(), stdout); }

std::string garbage() {
  std::string bytes;
  unsigned seed = 12345;
  for (int i = 0; i < 3000; ++i) {
    seed = seed * 1103515245u + 12345u;
    bytes.push_back(static_cast<char>(1 + (seed >> 16) % 255));
  }
  return bytes;
}

int run(const std::vector<std::string>& args) {
  const std::filesystem::path folder = ownFolder();
  {
    std::ofstream log(folder / "dfu-util.arguments", std::ios::binary | std::ios::app);
    for (std::size_t i = 1; i < args.size(); ++i) log << (i > 1 ? " [" : "[") << args[i] << ']';
    log << '\n';
  }
  const Behaviour behaviour = readBehaviour(folder / "dfu-util.stand-in");
  const std::string& output = behaviour.output;

  if (output == "hang") sleepMs(behaviour.hangMs);
  if (output == "silent") return 0;
  if (output == "garbage") {
    print(garbage());
    return 0;
  }
  if (output == "nul") print(std::string("before\0\0after\n", 14));
  if (output == "huge") {
    std::ostringstream lines;
    for (long n = 0; static_cast<long>(lines.tellp()) < behaviour.hugeBytes; ++n) {
      lines << "filler line " << n << " of the stand-in's huge output\n";
    }
    print(lines.str());
  }
  if (output == "slow") {
    for (int n = 1; n <= 5; ++n) {
      print("slow line " + std::to_string(n) + "\n");
      std::fflush(stdout);
      sleepMs(behaviour.slowMs);
    }
  }
  for (std::size_t i = 1; i < args.size(); ++i) print("argument: " + args[i] + "\n");
  std::fflush(stdout);
  std::fputs("stand-in: standard error\n", stderr);
  print("end of output\n");
  return 0;
}

}  // namespace

#ifdef _WIN32
// The arguments as the C runtime split the wide command line, in UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  args.reserve(static_cast<std::size_t>(argc));
  for (int i = 0; i < argc; ++i) args.push_back(qwus::toUtf8(qwus::asText(argv[i])));
  return run(args);
}
#else
int main(int argc, char** argv) { return run(std::vector<std::string>(argv, argv + argc)); }
#endif
