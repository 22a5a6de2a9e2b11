#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <cstdlib>
#include <filesystem>

#include "app/convert.h"
#include "support/temp_dir.h"
#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {
namespace {

TEST(InputPath, PsdInputFolderAndDerivedName) {
  ConvertToVT c;
  c.setInputPath("work/art.psd");
  EXPECT_TRUE(c.isPsdInput);
  EXPECT_EQ(c.inputPath, "work/art.psd");
  EXPECT_EQ(c.inputDir, "work/");
  EXPECT_EQ(c.settings.outputname, "art");
  EXPECT_EQ(c.settings.outputpath, "work/");
  c.deriveOutputPaths();
  EXPECT_EQ(c.texturePath, "work/art.png");
  EXPECT_EQ(c.cellMapPath, "work/art.vtce");
  EXPECT_EQ(c.animePackPath, "work/art.vtae");
  EXPECT_EQ(c.projectPath, "work/art.vtpj");
}

TEST(InputPath, ModeIsDecidedByACaseSensitivePsdAnywhere) {
  struct Case {
    const char* path;
    bool psd;
    const char* dir;
    const char* name;
  };
  const Case cases[] = {
      {"x.PSD", false, "", "x"},
      {"a.psd.txt", true, "", "a.psd"},
      {".psd", true, "", ""},
      {"psd", false, "", "psd"},
      {"info.txt", false, "", "info"},
      {"C:\\in\\pic.psd", true, "C:\\in\\", "pic"},
      {"a\\b/c.d\\e", false, "a\\b/c.d\\", "e"},  // the later separator counts
      {"a/b\\c", false, "a/b\\", "c"},
      {"v1.2/art", false, "v1.2/", "art"},      // a dot before the separator is no extension
      {"dir/", false, "dir/", ""},
      {"", false, "", ""},
  };
  for (const Case& k : cases) {
    ConvertToVT c;
    c.setInputPath(k.path);
    EXPECT_EQ(c.isPsdInput, k.psd) << k.path;
    EXPECT_EQ(c.inputDir, k.dir) << k.path;
    EXPECT_EQ(c.settings.outputname, k.name) << k.path;
  }
}

TEST(InputPath, GivenNameAndFolderWin) {
  ConvertToVT c;
  c.settings.outputname = "given";
  c.settings.outputpath = "out/";
  c.setInputPath("in/art.psd");
  c.deriveOutputPaths();
  EXPECT_EQ(c.texturePath, "out/given.png");
  // Plain concatenation: no separator is inserted.
  c.settings.outputpath = "out";
  c.deriveOutputPaths();
  EXPECT_EQ(c.animePackPath, "outgiven.vtae");
}

// A converter whose cells carry `names`, last index first in priority.
std::vector<int32_t> priorities(const std::vector<std::string>& names, int32_t step) {
  ConvertToVT c;
  c.settings.add_priority = step;
  for (const auto& name : names) {
    c.cellTable.cellNames.push_back(name);
    c.cellTable.cells.push_back(std::make_unique<CellImage>());
    c.cellTable.cells.back()->priority = -7;
  }
  c.assignPriorities();
  std::vector<int32_t> result;
  for (const auto& cell : c.cellTable.cells) result.push_back(cell->priority);
  return result;
}

TEST(Priorities, RootAndPlusCellsShareTheValueOfTheCellAfterThem) {
  EXPECT_EQ(priorities({"h", "root", "+j", "k"}, 1), (std::vector<int32_t>{2, 1, 1, 1}));
  EXPECT_EQ(priorities({"a", "b", "c"}, 10), (std::vector<int32_t>{30, 20, 10}));
  EXPECT_EQ(priorities({"a", "+last"}, 5), (std::vector<int32_t>{5, 0}));
  EXPECT_EQ(priorities({"a", "root"}, 5), (std::vector<int32_t>{5, 0}));
  // Only a leading "+" counts, "root" must match exactly, an empty name steps.
  EXPECT_EQ(priorities({"a+", "Root", "roots", ""}, 1), (std::vector<int32_t>{4, 3, 2, 1}));
  EXPECT_EQ(priorities({"a", "b"}, -3), (std::vector<int32_t>{-6, -3}));
}

TEST(Priorities, AZeroStepLeavesThePrioritiesAlone) {
  EXPECT_EQ(priorities({"a", "b"}, 0), (std::vector<int32_t>{-7, -7}));
  EXPECT_TRUE(priorities({}, 1).empty());
}

TEST(ExistingOutputs, AnimationPackMustParseAndProjectMustExist) {
  test::TempDir dir;
  ConvertToVT c;
  c.settings.outputpath = dir.path() + "/";
  c.settings.outputname = "art";
  c.deriveOutputPaths();
  c.detectExistingOutputs();
  EXPECT_FALSE(c.keepExistingAnimePack);
  EXPECT_FALSE(c.keepExistingProject);

  test::writeFile(c.animePackPath, "<not xml");
  test::writeFile(c.projectPath, "");
  c.detectExistingOutputs();
  EXPECT_FALSE(c.keepExistingAnimePack);  // unparsable: it will be replaced
  EXPECT_TRUE(c.keepExistingProject);     // a project that merely exists is kept

  test::writeFile(c.animePackPath, "<AnimePack/>");
  c.detectExistingOutputs();
  EXPECT_TRUE(c.keepExistingAnimePack);

  c.settings.is_overwrite = true;
  c.detectExistingOutputs();
  EXPECT_FALSE(c.keepExistingAnimePack);
  EXPECT_FALSE(c.keepExistingProject);

  // Folders under the output names are no documents to keep.
  c.settings.is_overwrite = false;
  std::filesystem::remove(c.animePackPath);
  std::filesystem::remove(c.projectPath);
  std::filesystem::create_directory(c.animePackPath);
  std::filesystem::create_directory(c.projectPath);
  c.detectExistingOutputs();
  EXPECT_FALSE(c.keepExistingAnimePack);
  EXPECT_FALSE(c.keepExistingProject);
}

// Sets an environment variable for one scope (unset when `value` is null).
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    const char* old = std::getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value) setenv(name, value, 1);
    else unsetenv(name);
  }
  ~ScopedEnv() {
    if (had_) setenv(name_, old_.c_str(), 1);
    else unsetenv(name_);
  }

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(InputPath, AShiftJisNameEndingInTheBackslashByteStaysWhole) {
  ScopedEnv locale("LC_ALL", "ja_JP.SJIS");
  const std::string so = "\x83\x5C";  // "ソ"
  ConvertToVT c;
  c.setInputPath("in\\" + so + "\\" + so + ".psd");
  EXPECT_EQ(c.inputDir, "in\\" + so + "\\");
  EXPECT_EQ(c.settings.outputname, so);
}

TEST(SettingsFileMode, JsonTextsAreTakenIntoTheConsoleEncoding) {
  test::TempDir home;
  ScopedEnv homeEnv("HOME", home.path().c_str()), config("XDG_CONFIG_HOME", nullptr);
  ScopedEnv locale("LC_ALL", "ja_JP.SJIS");
  std::filesystem::create_directories(home.path() + "/Documents/Korvex");
  test::writeFile(home.path() + "/Documents/Korvex/convert_info.json", R"({
    "texture_width": 0, "texture_height": 0, "texture_padding_shape": 2, "pack_padding": 1,
    "add_priority": 1, "is_vtaeoutput": false, "is_vtpjoutput": false, "is_overwrite": false,
    "is_addnull": false, "is_layerPivotUse": false, "is_rootLayerUse": false,
    "is_oldPivotUse": false, "sortmode": "HMAX", "padding_border": 4, "canvasSize": 0,
    "inner_padding": 0, "outputpath": "出力/", "outputname": "腕"})");
  const std::string missing = home.path() + "/missing.psd";
  const char* argv[] = {"korvex", missing.c_str()};
  ConvertToVT c;
  testing::internal::CaptureStderr();
  EXPECT_FALSE(c.runConversion(2, argv));  // stops at extraction
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(c.settingsBasePath, home.path() + "/Documents/Korvex/convert_info");
  EXPECT_EQ(c.settings.sortmode, kSortHMax);
  EXPECT_EQ(c.settings.outputpath, utf8ToSjis("出力/"));
  EXPECT_EQ(c.settings.outputname, utf8ToSjis("腕"));
}

}  // namespace
}  // namespace korvex
