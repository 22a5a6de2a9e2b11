#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>

#include "config/user_folder.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

// Points HOME at a temporary folder (XDG_CONFIG_HOME unset) for one test.
class UserFolder : public testing::Test {
 protected:
  void SetUp() override {
    saveEnv("HOME", home_);
    saveEnv("XDG_CONFIG_HOME", config_);
    setenv("HOME", dir_.path().c_str(), 1);
    unsetenv("XDG_CONFIG_HOME");
  }
  void TearDown() override {
    restoreEnv("HOME", home_);
    restoreEnv("XDG_CONFIG_HOME", config_);
  }

  std::string vantrel() const { return dir_.path() + "/Documents/Vantrel"; }

  // Loads the option files, returning their lines, each with its line end.
  std::string load(VTOptionReader& reader, bool expected = true) {
    std::string printed;
    EXPECT_EQ(reader.loadEditorOptions([&](const std::string& line) { printed += line + "\n"; }), expected);
    return printed;
  }

  test::TempDir dir_;

 private:
  struct Saved {
    bool had = false;
    std::string value;
  };
  static void saveEnv(const char* name, Saved& saved) {
    const char* v = std::getenv(name);
    saved.had = v != nullptr;
    if (v) saved.value = v;
  }
  static void restoreEnv(const char* name, const Saved& saved) {
    if (saved.had) setenv(name, saved.value.c_str(), 1);
    else unsetenv(name);
  }
  Saved home_, config_;
};

TEST_F(UserFolder, SettingsBasePathLivesInTheKorvexFolder) {
  std::string base;
  ASSERT_TRUE(buildSettingsBasePath(base));
  EXPECT_EQ(base, dir_.path() + "/Documents/Korvex/convert_info");
  EXPECT_EQ(documentsFolder(), dir_.path() + "/Documents");

  std::filesystem::create_directories(dir_.path() + "/.config");
  test::writeFile(dir_.path() + "/.config/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/Docs\"\n");
  ASSERT_TRUE(buildSettingsBasePath(base));
  EXPECT_EQ(base, dir_.path() + "/Docs/Korvex/convert_info");
}

TEST_F(UserFolder, NoHomeMeansNoFolderAndNoOutput) {
  unsetenv("HOME");
  std::string base = "kept";
  EXPECT_FALSE(buildSettingsBasePath(base));
  EXPECT_EQ(base, "kept");
  VTOptionReader reader;
  EXPECT_EQ(load(reader, false), "");
}

TEST_F(UserFolder, NeitherOptionFileMeansToolDefaults) {
  VTOptionReader reader;
  EXPECT_EQ(load(reader), "Load vtop : " + vantrel() + "/VtOption_v6.vtop\n" +
                              "Load vtop_beta : " + vantrel() + "/VtOption_v6_beta.vtop\n" +
                              "Project setting Load Tool Default \n");
  EXPECT_TRUE(reader.document.Error());
  EXPECT_EQ(reader.optionPath, vantrel() + "/VtOption_v6.vtop");
  EXPECT_EQ(reader.betaOptionPath, vantrel() + "/VtOption_v6_beta.vtop");
}

TEST_F(UserFolder, TheRegularOptionFileComesFirst) {
  std::filesystem::create_directories(vantrel());
  test::writeFile(vantrel() + "/VtOption_v6.vtop", "<Option><which>regular</which></Option>");
  test::writeFile(vantrel() + "/VtOption_v6_beta.vtop", "<Option><which>beta</which></Option>");
  VTOptionReader reader;
  EXPECT_EQ(load(reader), "Load vtop : " + vantrel() + "/VtOption_v6.vtop\n" +
                              "Project setting Load vtop : " + vantrel() + "/VtOption_v6.vtop\n");
  ASSERT_FALSE(reader.document.Error());
  EXPECT_STREQ(reader.document.RootElement()->FirstChildElement("which")->GetText(), "regular");
}

TEST_F(UserFolder, TheBetaFileStandsInForAMissingOrBrokenRegularOne) {
  std::filesystem::create_directories(vantrel());
  test::writeFile(vantrel() + "/VtOption_v6_beta.vtop", "<Option><which>beta</which></Option>");
  const std::string expected = "Load vtop : " + vantrel() + "/VtOption_v6.vtop\n" +
                               "Load vtop_beta : " + vantrel() + "/VtOption_v6_beta.vtop\n" +
                               "Project setting Load vtop_beta : " + vantrel() + "/VtOption_v6_beta.vtop\n";
  const std::string regular = vantrel() + "/VtOption_v6.vtop";
  const std::function<void()> regularFiles[] = {
      [] {},                                                          // missing
      [&] { test::writeFile(regular, ""); },                          // empty
      [&] { test::writeFile(regular, "<Option><unclosed></Option>"); },  // not well-formed
      [&] {                                                           // a folder
        std::filesystem::remove(regular);
        std::filesystem::create_directories(regular);
      },
  };
  for (const auto& makeRegularFile : regularFiles) {
    makeRegularFile();
    VTOptionReader reader;
    EXPECT_EQ(load(reader), expected);
    ASSERT_FALSE(reader.document.Error());
    EXPECT_STREQ(reader.document.RootElement()->FirstChildElement("which")->GetText(), "beta");
  }
}

}  // namespace
}  // namespace korvex
