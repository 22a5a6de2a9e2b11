#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

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

TEST(Platform, AtomicWriterLeavesTargetUntouchedUntilCommit) {
  test::TempDir dir;
  std::string target = dir.file("out.txt");
  test::writeFile(target, "old");
  {
    platform::AtomicFileWriter writer;
    ASSERT_TRUE(writer.open(target));
    std::fputs("new", writer.file());
    EXPECT_EQ(test::readFile(target), "old");
  }  // destroyed without commit: discarded
  EXPECT_EQ(test::readFile(target), "old");
  EXPECT_TRUE(platform::writeFileAtomically(target, "new"));
  EXPECT_EQ(test::readFile(target), "new");
  EXPECT_FALSE(platform::writeFileAtomically(dir.file("missing/x.txt"), "x"));
  int entries = 0;
  for (auto& e : std::filesystem::directory_iterator(dir.path())) { (void)e; ++entries; }
  EXPECT_EQ(entries, 1);  // no temporary file left behind
}

}  // namespace
}  // namespace korvex
