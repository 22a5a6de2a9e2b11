#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

struct EnvGuard {
  explicit EnvGuard(const char* name) : name_(name) {
    const char* v = std::getenv(name);
    had_ = v != nullptr;
    if (had_) value_ = v;
  }
  ~EnvGuard() {
    if (had_) setenv(name_, value_.c_str(), 1);
    else unsetenv(name_);
  }
  const char* name_;
  bool had_ = false;
  std::string value_;
};

TEST(Platform, DocumentsFolderFollowsXdgUserDirsThenHome) {
  EnvGuard home("HOME"), config("XDG_CONFIG_HOME");
  test::TempDir dir;
  setenv("HOME", dir.path().c_str(), 1);
  unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(platform::documentsFolderPath(), dir.path() + "/Documents");

  std::filesystem::create_directories(dir.path() + "/.config");
  test::writeFile(dir.path() + "/.config/user-dirs.dirs",
                  "# comment\r\nXDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\r\n");
  EXPECT_EQ(platform::documentsFolderPath(), dir.path() + "/Dokumente");

  setenv("XDG_CONFIG_HOME", (dir.path() + "/elsewhere").c_str(), 1);
  EXPECT_EQ(platform::documentsFolderPath(), dir.path() + "/Documents");

  setenv("HOME", "", 1);
  EXPECT_EQ(platform::documentsFolderPath(), "");
}

std::vector<std::string> folderEntries(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

platform::OutputSet::Writer text(const std::string& bytes) {
  return [bytes](std::FILE* file) { return std::fputs(bytes.c_str(), file) >= 0; };
}

TEST(OutputSet, TargetsChangeTogetherOnCommitAndNotAtAllWithout) {
  test::TempDir dir;
  const std::string a = dir.file("a.png"), b = dir.file("a.vtce");
  test::writeFile(a, "old a");
  {
    platform::OutputSet set;
    ASSERT_TRUE(set.add(a, "", text("new a")));
    ASSERT_TRUE(set.add(b, "", text("new b")));
    EXPECT_EQ(test::readFile(a), "old a");
    EXPECT_FALSE(test::fileExists(b));
  }  // destroyed without commit
  EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"a.png"});
  EXPECT_EQ(test::readFile(a), "old a");

  platform::OutputSet set;
  ASSERT_TRUE(set.add(a, "", text("new a")));
  ASSERT_TRUE(set.add(b, "", text("new b")));
  ASSERT_TRUE(set.commit());
  EXPECT_EQ(test::readFile(a), "new a");
  EXPECT_EQ(test::readFile(b), "new b");
  EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"a.png", "a.vtce"}));
}

TEST(OutputSet, AFailedRenamePutsBackEveryTargetAlreadyReplaced) {
  test::TempDir dir;
  const std::string a = dir.file("a.png"), b = dir.file("a.vtce"), c = dir.file("a.vtpj");
  test::writeFile(a, "old a");
  platform::OutputSet set;
  ASSERT_TRUE(set.add(a, "", text("new a")));
  ASSERT_TRUE(set.add(b, "", text("new b")));
  ASSERT_TRUE(set.add(c, "error: cannot write " + c + "\n", text("new c")));
  // The last target turns into a non-empty folder before the commit: its rename fails.
  std::filesystem::create_directories(c + "/inside");
  const Status committed = set.commit();
  ASSERT_FALSE(committed);
  EXPECT_EQ(committed.message(), "error: cannot write " + c + "\n");
  EXPECT_NE(committed.reason().find("cannot replace " + c + ": "), std::string::npos) << committed.reason();
  EXPECT_EQ(test::readFile(a), "old a");
  EXPECT_FALSE(test::fileExists(b));
  EXPECT_EQ(folderEntries(dir.path()), (std::vector<std::string>{"a.png", "a.vtpj"}));
}

TEST(OutputSet, AFailedWriteOrAFolderInTheTargetsPlaceLeavesNothing) {
  test::TempDir dir;
  std::filesystem::create_directories(dir.file("taken.png"));
  platform::OutputSet set;
  const Status folder = set.add(dir.file("taken.png"), "error: write_png x\n", text("x"));
  ASSERT_FALSE(folder);
  EXPECT_EQ(folder.message(), "error: write_png x\n");
  EXPECT_EQ(folder.reason(), dir.file("taken.png") + " is a folder, not a file");

  const Status missing = set.add(dir.file("no/such/a.png"), "m\n", text("x"));
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.reason(),
            "cannot create a file beside " + dir.file("no/such/a.png") + ": No such file or directory");

  const Status refused = set.add(dir.file("a.png"), "m\n", [](std::FILE*) { return false; });
  ASSERT_FALSE(refused);
  EXPECT_EQ(refused.reason(), "the data for " + dir.file("a.png") + " could not be encoded");
  EXPECT_TRUE(set.commit());
  EXPECT_EQ(folderEntries(dir.path()), std::vector<std::string>{"taken.png"});
}

TEST(Platform, OnlyRegularFilesPassAndAPipeIsNeverOpened) {
  test::TempDir dir;
  test::writeFile(dir.file("f.psd"), "8BPS and more");
  std::filesystem::create_directories(dir.file("d.psd"));
  ASSERT_EQ(mkfifo(dir.file("p.psd").c_str(), 0600), 0);

  EXPECT_TRUE(platform::checkRegularFile(dir.file("f.psd")));
  EXPECT_EQ(platform::checkRegularFile(dir.file("d.psd")).reason(), dir.file("d.psd") + " is a folder, not a file");
  EXPECT_EQ(platform::checkRegularFile(dir.file("p.psd")).reason(),
            dir.file("p.psd") + " is a named pipe (FIFO), not a file");
  EXPECT_EQ(platform::checkRegularFile("/dev/null").reason(), "/dev/null is a device, not a file");
  EXPECT_EQ(platform::checkRegularFile(dir.file("none")).reason(),
            "cannot open " + dir.file("none") + ": No such file or directory");

  std::string start;
  ASSERT_TRUE(platform::readFileStart(dir.file("f.psd"), 4, start));
  EXPECT_EQ(start, "8BPS");
  ASSERT_TRUE(platform::readFileStart(dir.file("f.psd"), 100, start));
  EXPECT_EQ(start, "8BPS and more");
  EXPECT_FALSE(platform::readFileStart(dir.file("p.psd"), 4, start));  // returns at once
  EXPECT_EQ(start, "");
}

TEST(Platform, CreateFoldersMakesEveryMissingParent) {
  test::TempDir dir;
  EXPECT_TRUE(platform::createFolders(dir.file("a/b/c/")));
  EXPECT_TRUE(std::filesystem::is_directory(dir.file("a/b/c")));
  EXPECT_TRUE(platform::createFolders(dir.file("a/b")));  // existing: fine
  test::writeFile(dir.file("file"), "x");
  const Status blocked = platform::createFolders(dir.file("file/sub"));
  ASSERT_FALSE(blocked);
  EXPECT_EQ(blocked.reason().rfind("cannot create the folder " + dir.file("file/sub") + ": ", 0), 0u)
      << blocked.reason();
}

// Whether every byte of [p, p + n) is `value`.
bool allBytes(const uint8_t* p, size_t n, uint8_t value) {
  return std::all_of(p, p + n, [value](uint8_t b) { return b == value; });
}

TEST(PageMemory, BlocksStartZeroedAndLargeOnesOnAHugePageBoundary) {
  platform::PageBlock block;
  ASSERT_TRUE(block.allocate(0));
  EXPECT_EQ(block.data(), nullptr);
  EXPECT_EQ(block.size(), 0u);
  ASSERT_TRUE(block.allocate(100));
  ASSERT_GE(block.size(), 100u);
  EXPECT_TRUE(allBytes(block.data(), block.size(), 0));
  std::fill_n(block.data(), block.size(), uint8_t{7});

  constexpr size_t kLarge = (size_t{5} << 20) + 123;
  ASSERT_TRUE(block.allocate(kLarge));  // replaces the small block
  ASSERT_GE(block.size(), kLarge);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(block.data()) % (size_t{2} << 20), 0u);
  EXPECT_TRUE(allBytes(block.data(), block.size(), 0));
  block.data()[block.size() - 1] = 9;

  platform::PageBlock moved(std::move(block));
  EXPECT_EQ(block.data(), nullptr);
  EXPECT_EQ(block.size(), 0u);
  ASSERT_GE(moved.size(), kLarge);
  EXPECT_EQ(moved.data()[moved.size() - 1], 9);
  platform::PageBlock assigned;
  assigned = std::move(moved);
  EXPECT_EQ(moved.data(), nullptr);
  EXPECT_EQ(assigned.data()[assigned.size() - 1], 9);
}

TEST(PageMemory, ArenaBuffersAreAlignedZeroedApartAndKeptThroughTrim) {
  platform::PageArena arena;
  // Small and large buffers, one larger than a whole block of the arena.
  const std::vector<size_t> sizes = {1, 100, 4096, size_t{3} << 20, 77, size_t{70} << 20, 5000, 1};
  std::vector<uint8_t*> buffers;
  for (size_t i = 0; i < sizes.size(); ++i) {
    uint8_t* p = arena.allocate(sizes[i]);
    ASSERT_NE(p, nullptr) << i;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % 64, 0u) << i;
    EXPECT_TRUE(allBytes(p, std::min<size_t>(sizes[i], 1 << 16), 0)) << i;
    EXPECT_EQ(p[sizes[i] - 1], 0) << i;
    // Marked at both ends: a buffer that overlapped another would change
    // it. (A one-byte buffer keeps the start mark.)
    p[sizes[i] - 1] = static_cast<uint8_t>(i + 101);
    p[0] = static_cast<uint8_t>(i + 1);
    buffers.push_back(p);
  }
  auto marksIntact = [&] {
    for (size_t i = 0; i < sizes.size(); ++i)
      if (buffers[i][0] != i + 1 || (sizes[i] > 1 && buffers[i][sizes[i] - 1] != i + 101)) return false;
    return true;
  };
  EXPECT_TRUE(marksIntact());
  // Trimming keeps every byte handed out, the last buffer's included (it
  // ends inside a page), and later buffers are still zeros.
  arena.trim();
  EXPECT_TRUE(marksIntact());
  uint8_t* later = arena.allocate(size_t{1} << 20);
  ASSERT_NE(later, nullptr);
  EXPECT_TRUE(allBytes(later, size_t{1} << 20, 0));
  EXPECT_TRUE(marksIntact());
}

}  // namespace
}  // namespace korvex
