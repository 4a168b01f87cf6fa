// Tests against what Debian's dfu-util and dfu-suffix really produce, prepared by
// make_peer_files.sh in the folder named by QWUS_PEER_DIR.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/ansi_text.h"
#include "tests/fakes/temporary_directory.h"
#include "upgrade/engine_test_harness.h"

namespace qwus {
namespace {

using testing::EngineHarness;
using testing::TemporaryDirectory;

// The peer file `name`, or an empty path when it was not made.
std::filesystem::path peerFile(const char* name) {
  const char* dir = std::getenv("QWUS_PEER_DIR");
  if (dir == nullptr) return {};
  std::filesystem::path path = std::filesystem::path(dir) / name;
  return std::filesystem::exists(path) ? path : std::filesystem::path();
}

TEST(PeerTool, RealListingWithoutDeviceClassifiesNothing) {
  const auto listing = peerFile("listing.txt");
  if (listing.empty()) GTEST_SKIP() << "dfu-util's listing was not made (is dfu-util installed?)";
  std::ifstream file(listing, std::ios::binary);
  std::ostringstream bytes;
  bytes << file.rdbuf();
  const std::string lf = bytes.str();
  ASSERT_NE(lf.find("dfu-util"), std::string::npos);
  std::string crlf;
  for (char c : lf) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);

  for (const std::string& text : {lf, crlf}) {
    EngineHarness h;
    h.engine.analyseBuffer(ansiToText(text.c_str()));
    EXPECT_EQ(h.messages(), std::vector<Text>{u"analyseBuffer updev.mode 2"});
    EXPECT_EQ(h.engine.updev.mode, 2);
  }
}

TEST(PeerTool, VersionOfAPackageSuffixedByDfuSuffix) {
  const auto suffixed = peerFile("suffixed.dfu");
  if (suffixed.empty()) GTEST_SKIP() << "no package from dfu-suffix (is dfu-util installed?)";
  TemporaryDirectory dir;
  std::filesystem::copy_file(suffixed, dir.path() / "f.dfu");
  EngineHarness h(dir.text(), &systemFileSystem());
  EXPECT_EQ(h.engine.initUpgradeInfo(dir.text()), 1);
  EXPECT_EQ(h.engine.packageName, u"f.dfu");
  EXPECT_EQ(h.engine.targetVersion, u"0123");
}

}  // namespace
}  // namespace qwus
