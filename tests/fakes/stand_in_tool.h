// The stand-in tool in a test's own folder: installing it as dfu-util.exe with a chosen output,
// reading the arguments it received, putting a folder on PATH, and finding the build's own files.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "platform/text.h"
#include "tests/fakes/temporary_directory.h"

namespace qwus::testing {

// What the stand-in prints (tools/stand_in_tool): "echo" (its arguments, one line on standard
// error, "end of output"), "silent", "garbage", "nul", "huge", "slow" or "hang" (then "echo").
struct StandInBehaviour {
  std::string output = "echo";
  long hangMs = 3000;        // "hang": the wait before it prints
  long slowMs = 100;         // "slow": the pause after each of its five lines
  long hugeBytes = 4000000;  // "huge": the bytes of filler before the echo
};

// Copies the stand-in into `folder` (created when missing) as dfu-util.exe, with `behaviour`, and
// removes the record of an earlier run's arguments.
void installStandIn(const std::filesystem::path& folder, const StandInBehaviour& behaviour = {});

// The arguments of each run of the stand-in in `folder`, oldest first, in UTF-8, each run as
// "[ARG] [ARG]...".
std::vector<std::string> standInArguments(const std::filesystem::path& folder);

// `path` as the text a command line holds (the native form of this platform).
Text pathText(const std::filesystem::path& path);

// A file this build made, by the absolute path the build gave it; under Wine the build's own
// paths are on drive Z:.
std::filesystem::path builtFile(const std::string& buildPath);

// Puts `folder` first on this process's PATH, where the system's search for a program looks, as a
// user with a writable PATH folder could; the process launcher never looks there. The old PATH
// comes back on destruction.
class SearchPathPrefix {
 public:
  explicit SearchPathPrefix(const std::filesystem::path& folder);
  ~SearchPathPrefix();
  SearchPathPrefix(const SearchPathPrefix&) = delete;
  SearchPathPrefix& operator=(const SearchPathPrefix&) = delete;

 private:
  Text old_;
  bool hadOld_ = false;
};

}  // namespace qwus::testing
