// Contract of the system file system on real files: the POSIX adapter natively, the Win32 one
// under Wine.
#include "platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <system_error>

#include "tests/fakes/temporary_directory.h"

namespace qwus {
namespace {

using testing::TemporaryDirectory;

std::vector<DirectoryEntry> sortedEntries(const Text& pattern, bool& found) {
  std::vector<DirectoryEntry> entries{{u"stale", false}};
  found = systemFileSystem().findEntries(pattern, entries);
  std::sort(entries.begin(), entries.end(),
            [](const auto& a, const auto& b) { return a.name < b.name; });
  return entries;
}

TEST(SystemFileSystem, FindsMatchingFilesAndDirectoriesWithoutRegardToCase) {
  TemporaryDirectory dir;
  dir.writeFile("b.dfu", "b");
  dir.writeFile("A.DFU", "a");
  dir.writeFile("c.bin", "c");
  dir.makeDirectory("z.dfu");
  bool found = false;
  const auto entries = sortedEntries(dir.text() + u"*.dfu", found);
  ASSERT_TRUE(found);
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].name, u"A.DFU");
  EXPECT_FALSE(entries[0].isDirectory);
  EXPECT_EQ(entries[1].name, u"b.dfu");
  EXPECT_EQ(entries[2].name, u"z.dfu");
  EXPECT_TRUE(entries[2].isDirectory);
}

TEST(SystemFileSystem, SearchFailsWithoutMatchOrDirectory) {
  TemporaryDirectory dir;
  dir.writeFile("c.bin", "c");
  for (const Text& pattern : {dir.text() + u"*.dfu", dir.text() + u"missing" +
                                                         dir.text().back() + u"*.dfu"}) {
    bool found = true;
    EXPECT_TRUE(sortedEntries(pattern, found).empty());
    EXPECT_FALSE(found);
  }
}

TEST(SystemFileSystem, DeletesFilesOnly) {
  TemporaryDirectory dir;
  dir.writeFile("a.dfu", "a");
  dir.makeDirectory("d.dfu");
  EXPECT_TRUE(systemFileSystem().deleteFile(dir.text() + u"a.dfu"));
  EXPECT_FALSE(dir.exists("a.dfu"));
  EXPECT_FALSE(systemFileSystem().deleteFile(dir.text() + u"a.dfu"));
  EXPECT_FALSE(systemFileSystem().deleteFile(dir.text() + u"d.dfu"));
  EXPECT_TRUE(dir.exists("d.dfu"));
  EXPECT_FALSE(systemFileSystem().deleteFile(u""));
}

// An obsolete package that is a link to a file elsewhere: deleting it removes the link in the
// install folder, never the file it points to.
TEST(SystemFileSystem, DeletingALinkLeavesItsTarget) {
  TemporaryDirectory dir;
  TemporaryDirectory elsewhere;
  elsewhere.writeFile("precious.bin", "keep");
  std::error_code error;
  std::filesystem::create_symlink(elsewhere.path() / "precious.bin", dir.path() / "old.dfu", error);
  if (error) GTEST_SKIP() << "no symbolic link here: " << error.message();
  EXPECT_TRUE(systemFileSystem().deleteFile(dir.text() + u"old.dfu"));
  EXPECT_FALSE(std::filesystem::is_symlink(std::filesystem::symlink_status(dir.path() / "old.dfu")));
  EXPECT_TRUE(elsewhere.exists("precious.bin"));
}

TEST(SystemFileSystem, ReadsTheLastBytesOrFromTheStartOfAShortFile) {
  TemporaryDirectory dir;
  dir.writeFile("long.dfu", "0123456789abcdefXYZ");
  dir.writeFile("short.dfu", "xy");
  std::array<char, 16> buffer{};

  auto file = systemFileSystem().openForReading(dir.text() + u"long.dfu");
  ASSERT_NE(file, nullptr);
  EXPECT_TRUE(file->seekFromEnd(-16));
  EXPECT_EQ(file->read(buffer.data(), buffer.size()), 16u);
  EXPECT_EQ(std::string(buffer.data(), 16), "3456789abcdefXYZ");
  EXPECT_TRUE(file->close());

  file = systemFileSystem().openForReading(dir.text() + u"short.dfu");
  ASSERT_NE(file, nullptr);
  EXPECT_FALSE(file->seekFromEnd(-16));
  EXPECT_EQ(file->read(buffer.data(), buffer.size()), 2u);
  EXPECT_EQ(std::string(buffer.data(), 2), "xy");
  EXPECT_TRUE(file->close());

  EXPECT_EQ(systemFileSystem().openForReading(dir.text() + u"missing.dfu"), nullptr);
}

}  // namespace
}  // namespace qwus
