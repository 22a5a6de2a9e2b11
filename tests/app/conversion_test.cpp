// Whole conversions through the binary: where the outputs go, and which
// existing outputs are kept.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/psd_writer.h"
#include "support/run_korvex.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

const std::string kReadLines = " read (body)\n read (arm)\n";
const std::string kPacked = "パッキングが成功しました。\n";
const std::string kCellMapDone = "vtceファイルのコンバートが成功しました。\n";
const std::string kAnimePackDone = "vtaeファイルのコンバートが成功しました。\n";
const std::string kProjectDone = "vtpjファイルのコンバートが成功しました。\n";

class Conversion : public testing::Test {
 protected:
  Conversion() {
    std::filesystem::create_directories(home_.path() + "/work/in");
    test::PsdOptions options;
    options.width = 40;
    options.height = 30;
    EXPECT_TRUE(test::writePsd(psd(), options,
                               {test::solidLayer("body", 2, 3, 10, 12, 0xFF336699),
                                test::solidLayer("arm", 20, 5, 6, 8, 0xFFCC3300)}));
  }
  std::string work() const { return home_.path() + "/work"; }
  std::string psd() const { return work() + "/in/art.psd"; }
  std::string documents() const { return home_.path() + "/Documents"; }
  test::RunResult run(const std::vector<std::string>& args) {
    return test::runKorvex(args, {{"HOME", home_.path()}, {"XDG_CONFIG_HOME", ""}}, work());
  }
  static bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
  }
  test::TempDir home_;
};

TEST_F(Conversion, OutputsGoBesideTheInputUnderItsName) {
  test::RunResult r = run({"-I", "in/art.psd", "-OA", "true", "-OP", "true"});
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  for (const char* ext : {".png", ".vtce", ".vtae", ".vtpj"})
    EXPECT_TRUE(test::fileExists(work() + "/in/art" + ext)) << ext;
  const std::string vantrel = documents() + "/Vantrel/";
  EXPECT_TRUE(contains(r.stdErr, "exec from  args \n arg num = 7\n" + kReadLines)) << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, kPacked + "Load vtop : " + vantrel +
                                     "VtOption_v6.vtop\nLoad vtop_beta : " + vantrel +
                                     "VtOption_v6_beta.vtop\nProject setting Load Tool Default \n"))
      << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, kCellMapDone));
  EXPECT_TRUE(contains(r.stdErr, kAnimePackDone));
  EXPECT_EQ(r.stdErr.substr(r.stdErr.size() - kProjectDone.size()), kProjectDone);
}

TEST_F(Conversion, LargeDocumentsConvertLikePsds) {
  test::PsdOptions options;
  options.width = 40;
  options.height = 30;
  options.psb = true;
  ASSERT_TRUE(test::writePsd(work() + "/in/big.psb", options,
                             {test::solidLayer("body", 2, 3, 10, 12, 0xFF336699),
                              test::solidLayer("arm", 20, 5, 6, 8, 0xFFCC3300)}));
  test::RunResult r = run({"-I", "in/big.psb"});
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, kReadLines)) << r.stdErr;
  EXPECT_TRUE(test::fileExists(work() + "/in/big.png"));
  EXPECT_TRUE(test::fileExists(work() + "/in/big.vtce"));
}

TEST_F(Conversion, ExistingProjectAndAnimationPackAreKeptUnlessOverwriting) {
  const std::vector<std::string> args = {"-I", "in/art.psd", "-O", "out", "-ON", "hero", "-OA", "true",
                                         "-OP", "true"};
  std::filesystem::create_directories(work() + "/out");
  test::writeFile(work() + "/out/hero.vtpj", "the user's project");
  test::writeFile(work() + "/out/hero.vtae", "<AnimePack>the user's animation</AnimePack>");
  test::RunResult r = run(args);
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_TRUE(test::fileExists(work() + "/out/hero.png"));
  EXPECT_TRUE(contains(r.stdErr, kCellMapDone));
  EXPECT_FALSE(contains(r.stdErr, kAnimePackDone));
  EXPECT_FALSE(contains(r.stdErr, kProjectDone));
  EXPECT_EQ(test::readFile(work() + "/out/hero.vtpj"), "the user's project");
  EXPECT_EQ(test::readFile(work() + "/out/hero.vtae"), "<AnimePack>the user's animation</AnimePack>");

  // An animation pack that is no XML is replaced; the project stays.
  test::writeFile(work() + "/out/hero.vtae", "not xml <");
  r = run(args);
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, kAnimePackDone));
  EXPECT_FALSE(contains(r.stdErr, kProjectDone));
  EXPECT_NE(test::readFile(work() + "/out/hero.vtae"), "not xml <");

  std::vector<std::string> overwrite = args;
  overwrite.insert(overwrite.end(), {"-OW", "true"});
  r = run(overwrite);
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, kAnimePackDone));
  EXPECT_TRUE(contains(r.stdErr, kProjectDone));
  EXPECT_NE(test::readFile(work() + "/out/hero.vtpj"), "the user's project");
}

TEST_F(Conversion, WithoutADocumentsFolderNothingIsWritten) {
  test::RunResult r = test::runKorvex({"-I", "in/art.psd", "-OA", "true"}, {{"HOME", ""}}, work());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(contains(r.stdErr, kReadLines)) << r.stdErr;
  EXPECT_FALSE(contains(r.stdErr, kPacked)) << r.stdErr;
  for (const char* ext : {".png", ".vtce", ".vtae", ".vtpj"})
    EXPECT_FALSE(test::fileExists(work() + "/in/art" + ext)) << ext;
}

TEST_F(Conversion, SettingsFileModeTakesFolderAndNameFromTheJsonFile) {
  std::filesystem::create_directories(documents() + "/Korvex");
  std::filesystem::create_directories(work() + "/json-out");
  test::writeFile(documents() + "/Korvex/convert_info.json", R"({
    "texture_width": 0, "texture_height": 0, "texture_padding_shape": 2, "pack_padding": 1,
    "add_priority": 1, "is_vtaeoutput": true, "is_vtpjoutput": false, "is_overwrite": false,
    "is_addnull": false, "is_layerPivotUse": false, "is_rootLayerUse": false,
    "is_oldPivotUse": false, "sortmode": "RECTMAX", "padding_border": 4, "canvasSize": 0,
    "inner_padding": 0, "outputpath": "json-out/", "outputname": "from_json"})");
  test::RunResult r = run({"in/art.psd"});
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, "in/art.psd\nexec load json \n\n" + kReadLines)) << r.stdErr;
  EXPECT_TRUE(test::fileExists(work() + "/json-out/from_json.png"));
  EXPECT_TRUE(test::fileExists(work() + "/json-out/from_json.vtce"));
  EXPECT_TRUE(test::fileExists(work() + "/json-out/from_json.vtae"));
  EXPECT_FALSE(test::fileExists(work() + "/json-out/from_json.vtpj"));
  EXPECT_FALSE(contains(r.stdErr, kProjectDone));
}

TEST_F(Conversion, TextSettingsWithAnEmptyFolderWriteToTheCurrentFolder) {
  std::filesystem::create_directories(documents() + "/Korvex");
  test::writeFile(documents() + "/Korvex/convert_info",
                  "\r\n0 0 2 1 1 - vtpj - - - - - 1 4 0 0 plain\r\n");
  test::RunResult r = run({"in/art.psd"});
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_TRUE(contains(r.stdErr, "設定情報(jsonファイル)の読み込みに失敗しました。\n" + kReadLines));
  EXPECT_TRUE(test::fileExists(work() + "/plain.png"));
  EXPECT_TRUE(test::fileExists(work() + "/plain.vtpj"));
  EXPECT_FALSE(test::fileExists(work() + "/plain.vtae"));
}

}  // namespace
}  // namespace korvex
