// Tests of package choice, target version and the version decision, on the in-memory file system
// and on real files through the system's file system.
#include "upgrade/package_discovery.h"

#include <gtest/gtest.h>

#include "tests/fakes/temporary_directory.h"
#include "upgrade/engine_test_harness.h"

namespace qwus {
namespace {

using testing::EngineHarness;
using testing::TemporaryDirectory;
using Texts = std::vector<Text>;

constexpr char16_t kDir[] = u"C:\\pkg\\";
const Text kDeleteEmpty = u"file delete   \uFF01";

Text deleteMessage(const Text& name) { return u"file delete  " + Text(kDir) + name + u" \uFF01"; }

// A package file whose DFU suffix carries bcdDevice 0x0123.
std::string package0123() {
  return std::string("image\x23\x01\x51\x83\xe2\xc4\x00\x01UFD\x10\0\0\0\0", 21);
}

TEST(SelectPackage, KeepsTheLastNameAndDeletesObsoleteOnes) {
  const struct {
    Texts listed;
    Text kept;
    Texts deleted;  // names, in order; empty text for an entry with nothing to delete
  } cases[] = {
      {{u"a.dfu", u"b.dfu"}, u"b.dfu", {u"", u"a.dfu"}},
      {{u"b.dfu", u"a.dfu"}, u"b.dfu", {u"", u"a.dfu"}},
      {{u"only.dfu"}, u"only.dfu", {u""}},
      {{u"000900.zip.dfu", u"a.dfu"}, u"a.dfu", {u"000900.zip.dfu", u"000900.zip.dfu"}},
      {{u"a.dfu", u"x000900.zip.dfu", u"B.dfu"}, u"a.dfu", {u"", u"x000900.zip.dfu", u"B.dfu"}},
      {{u"000900.zip.dfu"}, u"000900.zip.dfu", {u"000900.zip.dfu"}},
      {{u"1-000900.zip.dfu", u"2-000900.zip.dfu"}, u"2-000900.zip.dfu",
       {u"1-000900.zip.dfu", u"1-000900.zip.dfu"}},
  };
  for (const auto& c : cases) {
    EngineHarness h;
    Texts expectedPaths, expectedMessages;
    for (const Text& name : c.deleted) {
      expectedPaths.push_back(name.empty() ? Text() : kDir + name);
      expectedMessages.push_back(name.empty() ? kDeleteEmpty : deleteMessage(name));
    }
    EXPECT_EQ(selectPackage(c.listed, kDir, h.files, h.events), c.kept);
    EXPECT_EQ(h.files.deletions(), expectedPaths);
    EXPECT_EQ(h.messages(), expectedMessages);
  }
}

TEST(InitUpgradeInfo, ChoosesReadsAndReports) {
  EngineHarness h;
  h.files.addFile(Text(kDir) + u"b.dfu", package0123());
  h.files.addFile(Text(kDir) + u"a.dfu", "older");
  EXPECT_EQ(h.engine.initUpgradeInfo(kDir), 1);
  EXPECT_EQ(h.engine.packageName, u"b.dfu");
  EXPECT_EQ(h.engine.targetVersion, u"0123");
  EXPECT_EQ(h.messages(), (Texts{u"initUpgradeInfo packageList= C:\\pkg\\*.dfu", kDeleteEmpty,
                                 deleteMessage(u"a.dfu"), u"get targetVersion is 0123!"}));
  EXPECT_FALSE(h.files.exists(Text(kDir) + u"a.dfu"));
  EXPECT_EQ(h.files.openFiles(), 0);
}

TEST(InitUpgradeInfo, DirectoriesAndLookalikesAreNeitherKeptNorDeleted) {
  EngineHarness h;
  h.files.addDirectory(Text(kDir) + u"z.dfu");
  h.files.addFile(Text(kDir) + u"firmware.dfubackup", "keep me", u"FIRMWA~1.DFU");
  h.files.addFile(Text(kDir) + u"a.DFU", package0123());
  EXPECT_EQ(h.engine.initUpgradeInfo(kDir), 1);
  EXPECT_EQ(h.engine.packageName, u"a.DFU");
  EXPECT_EQ(h.files.deletions(), Texts{u""});
  EXPECT_TRUE(h.files.exists(Text(kDir) + u"z.dfu"));
  EXPECT_TRUE(h.files.exists(Text(kDir) + u"firmware.dfubackup"));
}

TEST(InitUpgradeInfo, NoPackageFailsWithoutDeleting) {
  const auto searchFails = [](EngineHarness& h) { h.files.failSearches(); };
  const auto onlyDirectory = [](EngineHarness& h) { h.files.addDirectory(Text(kDir) + u"z.dfu"); };
  const auto onlyLookalike = [](EngineHarness& h) {
    h.files.addFile(Text(kDir) + u"firmware.dfubackup", "x", u"FIRMWA~1.DFU");
  };
  const auto empty = [](EngineHarness&) {};
  for (const auto& prepare : {+searchFails, +onlyDirectory, +onlyLookalike, +empty}) {
    EngineHarness h;
    h.engine.packageName = u"before.dfu";
    h.engine.targetVersion = u"0001";
    prepare(h);
    EXPECT_EQ(h.engine.initUpgradeInfo(kDir), -1);
    EXPECT_EQ(h.messages(), (Texts{u"initUpgradeInfo packageList= C:\\pkg\\*.dfu",
                                   u"initUpgradeInfo File not found C:\\pkg\\*.dfu!"}));
    EXPECT_TRUE(h.files.deletions().empty());
    EXPECT_EQ(h.engine.packageName, u"before.dfu");
    EXPECT_EQ(h.engine.targetVersion, u"0001");
  }
}

TEST(InitUpgradeInfo, SingleObsoletePackageIsDeletedAndThenCannotBeOpened) {
  EngineHarness h;
  h.files.addFile(Text(kDir) + u"000900.zip.dfu", package0123());
  EXPECT_EQ(h.engine.initUpgradeInfo(kDir), -1);
  EXPECT_EQ(h.engine.packageName, u"000900.zip.dfu");
  EXPECT_TRUE(h.engine.targetVersion.empty());
  EXPECT_EQ(h.messages().back(), u"_wfopen failed!!");
}

TEST(ReadTargetVersion, TakesBcdDeviceFromTheLastSixteenBytes) {
  const struct {
    std::string bytes;
    bool failSeek;
    const char16_t* version;
  } cases[] = {
      {package0123(), false, u"0123"},
      {std::string("\xff\xfe", 2) + std::string(14, 'x'), false, u"feff"},
      {std::string("\xab\xcd") + "rest of a short file", true, u"cdab"},
      {"\x34\x12", false, u"1234"},
      {"\xab", false, u"00ab"},
      {"", false, u"0000"},
  };
  for (const auto& c : cases) {
    EngineHarness h;
    if (c.failSeek) h.files.failSeeks();
    h.files.addFile(u"p.dfu", c.bytes);
    EXPECT_EQ(h.engine.readTargetVersion(u"p.dfu"), 1);
    EXPECT_EQ(h.engine.targetVersion, c.version);
    EXPECT_EQ(h.messages(), Texts{u"get targetVersion is " + Text(c.version) + u"!"});
    EXPECT_EQ(h.files.openFiles(), 0);
  }
}

TEST(ReadTargetVersion, OpenAndCloseFailures) {
  EngineHarness h;
  h.engine.targetVersion = u"0001";
  h.files.addFile(u"p.dfu", package0123());
  h.files.failOpenOf(u"p.dfu");
  EXPECT_EQ(h.engine.readTargetVersion(u"p.dfu"), -1);
  EXPECT_EQ(h.engine.targetVersion, u"0001");
  EXPECT_EQ(h.messages(), Texts{u"_wfopen failed!!"});

  EngineHarness closing;
  closing.files.addFile(u"p.dfu", package0123());
  closing.files.failCloses();
  EXPECT_EQ(closing.engine.readTargetVersion(u"p.dfu"), -1);
  EXPECT_EQ(closing.engine.targetVersion, u"0123");
  EXPECT_EQ(closing.messages(), (Texts{u"get targetVersion is 0123!", u"fclose failed!!"}));
  EXPECT_EQ(closing.files.openFiles(), 0);
}

TEST(CheckVersion, ComparesTextsByCodeUnits) {
  const struct {
    const char16_t* target;
    const char16_t* device;
    bool upgrade;
  } cases[] = {
      {u"0123", u"0122", true},  {u"0123", u"0123", false}, {u"0123", u"0124", false},
      {u"00ff", u"00FF", true},  {u"0123", u"01234", false}, {u"0123", u"012", true},
      {u"", u"0001", false},
  };
  for (const auto& c : cases) {
    EngineHarness h;
    h.engine.targetVersion = c.target;
    EXPECT_EQ(h.engine.checkVersion(c.device), c.upgrade) << toUtf8(c.device);
    Texts expected{u"curDev.version is " + Text(c.device) + u" targetVersion is " + c.target};
    if (!c.upgrade) expected.push_back(u"The device is latest version");
    EXPECT_EQ(h.messages(), expected);
  }
}

TEST(CheckVersion, EmptyAndForced) {
  EngineHarness h;
  h.engine.targetVersion = u"0123";
  EXPECT_FALSE(h.engine.checkVersion(u""));
  h.engine.forceUpgrade = true;
  EXPECT_TRUE(h.engine.checkVersion(u""));
  EXPECT_TRUE(h.engine.checkVersion(u"ffff"));
  EXPECT_EQ(h.messages(), (Texts{u"curDev.version is null", u"Force upgrade flag is set!",
                                 u"Force upgrade flag is set!"}));
}

TEST(InitUpgradeInfoOnRealFiles, KeepsTheNewestFileOnly) {
  TemporaryDirectory dir;
  dir.writeFile("a.dfu", "old");
  dir.writeFile("b.dfu", package0123());
  dir.writeFile("firmware.dfubackup", "not a package");
  dir.makeDirectory("z.dfu");
  EngineHarness h(dir.text(), &systemFileSystem());
  EXPECT_EQ(h.engine.initUpgradeInfo(dir.text()), 1);
  EXPECT_EQ(h.engine.packageName, u"b.dfu");
  EXPECT_EQ(h.engine.targetVersion, u"0123");
  EXPECT_FALSE(dir.exists("a.dfu"));
  EXPECT_TRUE(dir.exists("b.dfu"));
  EXPECT_TRUE(dir.exists("firmware.dfubackup"));
  EXPECT_TRUE(dir.exists("z.dfu"));
}

TEST(InitUpgradeInfoOnRealFiles, MissingDirectoryFails) {
  TemporaryDirectory dir;
  const Text missing = dir.text() + u"missing" + dir.text().back();
  EngineHarness h(missing, &systemFileSystem());
  EXPECT_EQ(h.engine.initUpgradeInfo(missing), -1);
  EXPECT_EQ(h.messages().back(), u"initUpgradeInfo File not found " + missing + u"*.dfu!");
}

}  // namespace
}  // namespace qwus
