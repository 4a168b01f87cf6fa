// Installing and inspecting the stand-in tool for tests.
#include "tests/fakes/stand_in_tool.h"

#include <gtest/gtest.h>

#include <fstream>

#ifdef _WIN32
#include <windows.h>
#else
#include <cstdlib>
#include <unistd.h>
#endif

namespace qwus::testing {

std::filesystem::path builtFile(const std::string& buildPath) {
  std::string path = buildPath;
#ifdef _WIN32
  if (!path.empty() && path[0] == '/') {
    path = "Z:" + path;
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
  }
#endif
  return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

void installStandIn(const std::filesystem::path& folder, const StandInBehaviour& behaviour) {
  std::filesystem::create_directories(folder);
  std::filesystem::copy_file(builtFile(QWUS_STAND_IN_TOOL), folder / "dfu-util.exe",
                             std::filesystem::copy_options::overwrite_existing);
  const auto file = folder / "dfu-util.stand-in";
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out << "output=" << behaviour.output << "\nhang_ms=" << behaviour.hangMs
      << "\nslow_ms=" << behaviour.slowMs << "\nhuge_bytes=" << behaviour.hugeBytes << "\n";
  EXPECT_TRUE(static_cast<bool>(out.flush())) << "cannot write " << file;
  std::error_code ignored;
  std::filesystem::remove(folder / "dfu-util.arguments", ignored);
}

std::vector<std::string> standInArguments(const std::filesystem::path& folder) {
  std::ifstream in(folder / "dfu-util.arguments", std::ios::binary);
  std::vector<std::string> runs;
  for (std::string line; std::getline(in, line);) runs.push_back(line);
  return runs;
}

Text pathText(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::wstring wide = path.wstring();
  return Text(wide.begin(), wide.end());
#else
  const std::u8string utf8 = path.u8string();
  return fromUtf8(std::string(utf8.begin(), utf8.end()));
#endif
}

#ifdef _WIN32

SearchPathPrefix::SearchPathPrefix(const std::filesystem::path& folder) {
  std::wstring old(32768, L'\0');
  const DWORD n = GetEnvironmentVariableW(L"PATH", old.data(), static_cast<DWORD>(old.size()));
  hadOld_ = n > 0;
  old.resize(n);
  old_.assign(old.begin(), old.end());
  const std::wstring path = folder.wstring() + (hadOld_ ? L";" + old : L"");
  SetEnvironmentVariableW(L"PATH", path.c_str());
}

SearchPathPrefix::~SearchPathPrefix() {
  const std::wstring old(old_.begin(), old_.end());
  SetEnvironmentVariableW(L"PATH", hadOld_ ? old.c_str() : nullptr);
}

#else

SearchPathPrefix::SearchPathPrefix(const std::filesystem::path& folder) {
  const char* old = std::getenv("PATH");
  hadOld_ = old != nullptr;
  if (hadOld_) old_ = fromUtf8(old);
  const std::string path = folder.string() + (hadOld_ ? ":" + std::string(old) : "");
  setenv("PATH", path.c_str(), 1);
}

SearchPathPrefix::~SearchPathPrefix() {
  if (hadOld_) {
    setenv("PATH", toUtf8(old_).c_str(), 1);
  } else {
    unsetenv("PATH");
  }
}

#endif

}  // namespace qwus::testing
