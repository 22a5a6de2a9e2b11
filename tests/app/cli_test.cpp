// The korvex binary as a user runs it: arguments, settings files, messages
// and exit codes, up to the extraction of the cells.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "support/run_korvex.h"
#include "support/temp_dir.h"
#include "text/encoding.h"

namespace korvex {
namespace {

const std::string kBanner = "Korvex CUI Ver2.4.4\n";
const std::string kJsonFailed = "設定情報(jsonファイル)の読み込みに失敗しました。\n";
const std::string kTextFailed = "コンバート情報のオープンに失敗しました\n";
const std::string kMarginWarning =
    "警告：セル間余白+セル内余白の値が1以下に指定されています。色もれが発生する可能性があります。\n";
std::string psdOpenError(const std::string& path) {
  return "エラー：PSDファイルのオープンに失敗しました。：" + path + "\n";
}
// The reason line after a failure to open a file that does not exist.
std::string noSuchFile(const std::string& path) {
  return "reason: cannot open " + path + ": No such file or directory\n";
}

const char* const kJson = R"({
	"texture_width": 0, "texture_height": 0, "texture_padding_shape": 2,
	"pack_padding": 1, "add_priority": 1, "is_vtaeoutput": true, "is_vtpjoutput": true,
	"is_overwrite": false, "is_addnull": false, "is_layerPivotUse": false,
	"is_rootLayerUse": false, "is_oldPivotUse": false, "sortmode": "RECTMAX",
	"padding_border": 4, "canvasSize": 0, "inner_padding": 0,
	"outputpath": "", "outputname": ""
})";

// A user whose HOME is a temporary folder, working in `work`.
class Cli : public testing::Test {
 protected:
  Cli() { std::filesystem::create_directories(work()); }
  std::string work() const { return home_.path() + "/work"; }
  std::string korvexFolder() const { return home_.path() + "/Documents/Korvex"; }
  void writeSettings(const std::string& name, const std::string& content) {
    std::filesystem::create_directories(korvexFolder());
    test::writeFile(korvexFolder() + "/" + name, content);
  }
  test::RunResult run(const std::vector<std::string>& args, std::map<std::string, std::string> env = {}) {
    env.emplace("HOME", home_.path());
    env.emplace("XDG_CONFIG_HOME", "");
    return test::runKorvex(args, env, work());
  }
  static std::string echo(const std::vector<std::string>& args) {
    std::string out = kBanner + KORVEX_BINARY + "\n";
    for (const auto& a : args) out += a + "\n";
    return out;
  }
  test::TempDir home_;
};

TEST_F(Cli, WithoutArgumentsNothingIsPrintedAndTheExitCodeIs255) {
  test::RunResult r = run({});
  EXPECT_EQ(r.exitCode, 255);
  EXPECT_EQ(r.stdErr, "");
  EXPECT_EQ(r.stdOut, "");
}

TEST_F(Cli, NoSettingsFilesStopsAfterBothAreTried) {
  test::RunResult r = run({"art.psd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdOut, "");
  EXPECT_EQ(r.stdErr, echo({"art.psd"}) + "exec load json \n\n" + "failed to read :" + korvexFolder() +
                          "/convert_info.json\n" + kJsonFailed + kTextFailed + "reason: cannot open " +
                          korvexFolder() + "/convert_info: No such file or directory\n");
}

TEST_F(Cli, WithoutAHomeFolderSettingsFileModeStopsSilently) {
  test::RunResult r = test::runKorvex({"a.psd", "b.psd"}, {{"HOME", ""}}, work());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"a.psd", "b.psd"}) + "exec load json \n\n" +
                          "warning: argument \"b.psd\" was ignored: with no option name on the command line, "
                          "the settings come from the settings files and only the first argument is read, as "
                          "the input\n");
}

TEST_F(Cli, JsonSettingsLeadToExtraction) {
  writeSettings("convert_info.json", kJson);
  test::RunResult r = run({"missing.psd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"missing.psd"}) + "exec load json \n\n" + psdOpenError("missing.psd") + noSuchFile("missing.psd"));
}

TEST_F(Cli, JsonMarginsOfOneOrLessWarn) {
  std::string json = kJson;
  json.replace(json.find("\"texture_padding_shape\": 2"), 26, "\"texture_padding_shape\": 1");
  writeSettings("convert_info.json", json);
  test::RunResult r = run({"sub/missing.psd"});
  EXPECT_EQ(r.stdErr, echo({"sub/missing.psd"}) + "exec load json \n\n" + kMarginWarning +
                          psdOpenError("sub/missing.psd") + noSuchFile("sub/missing.psd"));
}

TEST_F(Cli, BrokenJsonFallsBackToTheTextFile) {
  writeSettings("convert_info.json", "{ \"texture_width\": 12,, }");
  writeSettings("convert_info", "out/\n0 0 1 1 1 vtae vtpj - - - - - 1 4 0 0 name\n");
  test::writeFile(work() + "/damaged.psd", "8BPS but nothing else");
  test::RunResult r = run({"damaged.psd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"damaged.psd"}) + "exec load json \n\n" +
                          "syntax error at line 1 near: , }" + korvexFolder() + "/convert_info.json\n" +
                          kJsonFailed + kMarginWarning + psdOpenError("damaged.psd") +
                          "reason: damaged.psd: file header: the file ends within its 26 bytes\n");
}

TEST_F(Cli, CommandLineOptionsLeadToExtraction) {
  test::RunResult r = run({"--inputfile", "dir\\missing.psd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"--inputfile", "dir\\missing.psd"}) + "exec from  args \n arg num = 3\n" +
                          psdOpenError("dir/missing.psd") + noSuchFile("dir/missing.psd"));

  r = run({"-PS", "1", "-PI", "0", "-I", "x.psd", "-PB"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"-PS", "1", "-PI", "0", "-I", "x.psd", "-PB"}) +
                          "exec from  args \n arg num = 8\n" + "warning: option \"-PB\" has no value; it was ignored\n" +
                          kMarginWarning + psdOpenError("x.psd") + noSuchFile("x.psd"));

  // Numbers beyond 32 bits are clamped; the margin sum does not overflow.
  r = run({"-PS", "99999999999", "-PI", "99999999999", "-I", "x.psd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr.find(kMarginWarning), std::string::npos);
  r = run({"-PS", "-99999999999", "-PI", "-99999999999", "-I", "x.psd"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.stdErr.find(kMarginWarning), std::string::npos);
}

TEST_F(Cli, AnUpperCaseExtensionIsAnInformationFile) {
  test::RunResult r = run({"-I", "x.PSD"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr.find("PSDファイル"), std::string::npos);
  EXPECT_EQ(r.stdErr, echo({"-I", "x.PSD"}) + "exec from  args \n arg num = 3\n" +
                          "エラー：情報ファイルのオープンに失敗しました。：x.PSD\n" + noSuchFile("x.PSD"));
}

TEST_F(Cli, AnInstalledShiftJisLocaleGivesTheSameBytes) {
  // Builds ja_JP.SJIS into a private folder (LOCPATH) when the system can.
  test::TempDir locales;
  const std::string command = "localedef --no-warnings=ascii -i ja_JP -f SHIFT_JIS '" + locales.path() +
                              "/ja_JP.SJIS' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0 || !std::filesystem::exists(locales.path() + "/ja_JP.SJIS"))
    GTEST_SKIP() << "localedef cannot build ja_JP.SJIS here";
  const std::string so = "\x83\x5C";  // "ソ"
  test::RunResult r = run({"-PS", "1", "-I", so + ".psd"}, {{"LC_ALL", "ja_JP.SJIS"}, {"LOCPATH", locales.path()}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"-PS", "1", "-I", so + ".psd"}) + "exec from  args \n arg num = 5\n" +
                          utf8ToSjis(kMarginWarning) +
                          utf8ToSjis("エラー：PSDファイルのオープンに失敗しました。：") + so + ".psd\n" +
                          noSuchFile(so + ".psd"));
}

TEST_F(Cli, AShiftJisLocaleGetsShiftJisMessages) {
  const std::string sjisName = "\x83\x41\x81\x5B\x83\x80.psd";  // "アーム.psd" in Shift_JIS
  test::RunResult r = run({"-I", sjisName}, {{"LC_ALL", "ja_JP.SJIS"}});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.stdErr, echo({"-I", sjisName}) + "exec from  args \n arg num = 3\n" +
                          utf8ToSjis("エラー：PSDファイルのオープンに失敗しました。：") + sjisName + "\n" +
                          noSuchFile(sjisName));

  // "ソ" ends in the byte of "\\"; the path rules leave it whole.
  const std::string so = "\x83\x5C";
  r = run({"-I", "dir\\" + so + ".psd"}, {{"LC_ALL", "ja_JP.SJIS"}});
  EXPECT_EQ(r.stdErr, echo({"-I", "dir\\" + so + ".psd"}) + "exec from  args \n arg num = 3\n" +
                          utf8ToSjis("エラー：PSDファイルのオープンに失敗しました。：") + "dir/" + so + ".psd\n" +
                          noSuchFile("dir/" + so + ".psd"));

  r = run({"x.psd"}, {{"LC_ALL", ""}, {"LC_CTYPE", ""}, {"LANG", "ja_JP.CP932"}});
  EXPECT_EQ(r.stdErr, echo({"x.psd"}) + "exec load json \n\n" + "failed to read :" + korvexFolder() +
                          "/convert_info.json\n" + utf8ToSjis(kJsonFailed) + utf8ToSjis(kTextFailed) +
                          "reason: cannot open " + korvexFolder() + "/convert_info: No such file or directory\n");
}

}  // namespace
}  // namespace korvex
