// The binary as a new user meets it: plain mistakes on the command line,
// inputs that are no files, failures that say why, and outputs that change
// as one set or not at all.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "support/psd_writer.h"
#include "support/run_korvex.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

std::string psdOpenError(const std::string& path) {
  return "エラー：PSDファイルのオープンに失敗しました。：" + path + "\n";
}

bool endsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::vector<std::string> entriesOf(const std::string& folder) {
  std::vector<std::string> names;
  for (auto& e : std::filesystem::directory_iterator(folder)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A user whose HOME is a temporary folder, working in its "work" folder,
// with a two-layer PSD at work/art.psd.
class Robustness : public testing::Test {
 protected:
  Robustness() {
    std::filesystem::create_directories(work());
    writeArt(work() + "/art.psd");
  }
  static void writeArt(const std::string& path) {
    test::PsdOptions options;
    options.width = 40;
    options.height = 30;
    EXPECT_TRUE(test::writePsd(path, options,
                               {test::solidLayer("body", 2, 3, 10, 12, 0xFF336699),
                                test::solidLayer("arm", 20, 5, 6, 8, 0xFFCC3300)}));
  }
  std::string work() const { return home_.path() + "/work"; }
  std::string file(const std::string& name) const { return work() + "/" + name; }
  test::RunResult run(const std::vector<std::string>& args) {
    return test::runKorvex(args, {{"HOME", home_.path()}, {"XDG_CONFIG_HOME", ""}}, work());
  }
  test::TempDir home_;
};

TEST_F(Robustness, HelpAndVersionGoToStandardOutput) {
  for (const char* name : {"--help", "-h"}) {
    const test::RunResult r = run({name});
    EXPECT_EQ(r.exitCode, 0) << name;
    EXPECT_EQ(r.stdErr, "") << name;
    // Both names of every option, the defaults, both modes and an example.
    for (const char* part : {"Usage:", "-I   --inputfile", "-PS  --pading_shape     2", "-SO  --sortmode         RECTMAX",
                             "korvex INPUT", "settings-file mode", "Example:\n  korvex -I art/hero.psd", "#"})
      EXPECT_NE(r.stdOut.find(part), std::string::npos) << name << ": " << part;
  }
  for (const char* name : {"--version", "-V"}) {
    const test::RunResult r = run({name});
    EXPECT_EQ(r.exitCode, 0);
    EXPECT_EQ(r.stdOut, "Korvex 2.4.4\n");
    EXPECT_EQ(r.stdErr, "");
  }
}

TEST_F(Robustness, UnknownOptionsAndMissingValuesAreNamedAndTheConversionGoesOn) {
  const test::RunResult r = run({"-I", "art.psd", "--padding_shape", "40", "-O", "out", "-OA"});
  EXPECT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_NE(r.stdErr.find("arg num = 8\n"
                          "warning: unknown option \"--padding_shape\"; it and the value \"40\" after it were "
                          "skipped\n"
                          "warning: option \"-OA\" has no value; it was ignored\n"),
            std::string::npos)
      << r.stdErr;
  EXPECT_TRUE(test::fileExists(file("out/art.png")));

  // A stray argument puts the pairs out of step; the warning says so.
  const test::RunResult stray = run({"-I", "art.psd", "extra", "-O", "elsewhere"});
  EXPECT_NE(stray.stdErr.find("warning: unknown option \"extra\"; it and the value \"-O\" after it were skipped "
                              "(\"-O\" is an option name: an argument before it is out of step)\n"
                              "warning: unknown option \"elsewhere\" has no value; it was ignored\n"),
            std::string::npos)
      << stray.stdErr;
}

TEST_F(Robustness, ASingleOptionNameIsReadAsTheInputWithAWarning) {
  const test::RunResult r = run({"-I"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.stdErr.find("exec load json \n\nwarning: \"-I\" is read as the input path: a single argument "
                          "always names the input\n"),
            std::string::npos)
      << r.stdErr;
}

TEST_F(Robustness, OnlyRegularFilesAreReadAndAPipeNeverBlocks) {
  std::filesystem::create_directories(file("d.psd"));
  ASSERT_EQ(::mkfifo(file("x.psd").c_str(), 0600), 0);
  ASSERT_EQ(::mkfifo(file("list.txt").c_str(), 0600), 0);
  const std::map<std::string, std::string> cases = {
      {"d.psd", psdOpenError("d.psd") + "reason: d.psd is a folder, not a file\n"},
      {"x.psd", psdOpenError("x.psd") + "reason: x.psd is a named pipe (FIFO), not a file\n"},
      {"list.txt", "エラー：情報ファイルのオープンに失敗しました。：list.txt\n"
                   "reason: list.txt is a named pipe (FIFO), not a file\n"},
  };
  for (const auto& [input, tail] : cases) {
    const test::RunResult r = run({"-I", input, "-O", "out"});
    EXPECT_EQ(r.exitCode, 1) << input;
    EXPECT_TRUE(endsWith(r.stdErr, tail)) << r.stdErr;
  }
  EXPECT_FALSE(test::fileExists(file("out")));
}

TEST_F(Robustness, DamagedAndEmptyDocumentsSayWhy) {
  test::writeFile(file("empty.psd"), "");
  const test::RunResult empty = run({"-I", "empty.psd"});
  EXPECT_EQ(empty.exitCode, 1);
  EXPECT_TRUE(endsWith(empty.stdErr, psdOpenError("empty.psd") +
                                         "reason: empty.psd: file header: the file ends within its 26 bytes\n"))
      << empty.stdErr;

  const std::string whole = test::readFile(file("art.psd"));
  test::writeFile(file("cut.psd"), whole.substr(0, 100));  // inside the layer records
  const test::RunResult cut = run({"-I", "cut.psd"});
  EXPECT_EQ(cut.exitCode, 1);
  const size_t reason = cut.stdErr.find(psdOpenError("cut.psd") + "reason: cut.psd: ");
  ASSERT_NE(reason, std::string::npos) << cut.stdErr;
  EXPECT_EQ(std::count(cut.stdErr.begin() + static_cast<long>(reason), cut.stdErr.end(), '\n'), 2);
}

TEST_F(Robustness, TheSignatureMakesADocumentWhateverItsName) {
  for (const std::string name : {"HERO.PSD", "hero.psb", "hero"}) {
    writeArt(file(name));
    const test::RunResult r = run({"-I", name, "-O", "out-" + name});
    EXPECT_EQ(r.exitCode, 0) << r.stdErr;
    EXPECT_NE(r.stdErr.find(" read (body)\n read (arm)\n"), std::string::npos) << r.stdErr;
  }
  // Without the signature an upper-case name stays an information file.
  test::writeFile(file("LIST.PSD"), "body.png#\n");
  const test::RunResult list = run({"-I", "LIST.PSD"});
  EXPECT_TRUE(endsWith(list.stdErr, "read image : body.png\nerror: body.png is not a PNG.\nERROR\n"
                                    "reason: cannot open body.png: No such file or directory\n"))
      << list.stdErr;
}

TEST_F(Robustness, InformationFileMistakesSayWhy) {
  test::writeFile(file("list.txt"), "art.psd\n");
  const test::RunResult noHash = run({"-I", "list.txt"});
  EXPECT_EQ(noHash.exitCode, 1);
  EXPECT_TRUE(endsWith(noHash.stdErr, "エラー：情報ファイルの内容が正しくありません。：list.txt\n"
                                      "reason: list.txt line 1 has no \"#\"; every PNG name must end with "
                                      "\"#\", e.g. \"hero.png#\"\n"))
      << noHash.stdErr;

  test::writeFile(file("list.txt"), "art.psd#\n");
  const test::RunResult notPng = run({"-I", "list.txt"});
  EXPECT_TRUE(endsWith(notPng.stdErr, "error: art.psd is not a PNG.\nERROR\n"
                                      "reason: art.psd does not begin with the PNG signature\n"))
      << notPng.stdErr;
}

TEST_F(Robustness, AMissingOutputFolderIsCreatedWithItsParents) {
  const test::RunResult r = run({"-I", "art.psd", "-O", "out/a/b", "-OA", "true", "-OP", "true"});
  ASSERT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_EQ(entriesOf(file("out/a/b")),
            (std::vector<std::string>{"art.png", "art.vtae", "art.vtce", "art.vtpj"}));
}

TEST_F(Robustness, AFailedDocumentLeavesEveryEarlierOutputAsItWas) {
  std::filesystem::create_directories(file("out/art.vtpj"));  // the project cannot be written
  test::writeFile(file("out/art.png"), "old atlas");
  test::writeFile(file("out/art.vtce"), "old cell map");
  test::writeFile(file("out/art.vtae"), "old animation pack");
  const test::RunResult r = run({"-I", "art.psd", "-O", "out", "-OA", "true", "-OP", "true", "-OW", "true"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(endsWith(r.stdErr, "error: cannot write out/art.vtpj\nreason: out/art.vtpj is a folder, not a file\n"))
      << r.stdErr;
  EXPECT_EQ(r.stdErr.find("vtpjファイルのコンバートが成功しました。"), std::string::npos);
  EXPECT_EQ(test::readFile(file("out/art.png")), "old atlas");
  EXPECT_EQ(test::readFile(file("out/art.vtce")), "old cell map");
  EXPECT_EQ(test::readFile(file("out/art.vtae")), "old animation pack");
  EXPECT_EQ(entriesOf(file("out")), (std::vector<std::string>{"art.png", "art.vtae", "art.vtce", "art.vtpj"}))
      << "no temporary file left";
}

TEST_F(Robustness, AnAtlasThatCannotBeWrittenSaysWhyAndWritesNothing) {
  test::writeFile(file("blocker"), "a file where the folder should be");
  const test::RunResult r = run({"-I", "art.psd", "-O", "blocker/out"});
  EXPECT_EQ(r.exitCode, 1);
  const std::string message = "パッキングが成功しました。\nerror: write_png blocker/out/art.png\n"
                              "reason: cannot create the folder blocker/out/: ";
  EXPECT_NE(r.stdErr.find(message), std::string::npos) << r.stdErr;
  EXPECT_TRUE(endsWith(r.stdErr, "Not a directory\n")) << r.stdErr;
  EXPECT_EQ(entriesOf(work()), (std::vector<std::string>{"art.psd", "blocker"}));
}

TEST_F(Robustness, AConversionWithoutCellsWarnsAndSucceeds) {
  test::PsdOptions options;
  options.width = 16;
  options.height = 16;
  test::PsdRecord hidden = test::solidLayer("ghost", 0, 0, 4, 4, 0xFF000000);
  hidden.hidden = true;
  ASSERT_TRUE(test::writePsd(file("ghost.psd"), options, {hidden}));
  const test::RunResult r = run({"-I", "ghost.psd"});
  EXPECT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_NE(r.stdErr.find("warning: ghost.psd has no visible top-level layer or group, so the conversion yields "
                          "no cell; the atlas and the documents will be empty\n"),
            std::string::npos)
      << r.stdErr;
}

TEST_F(Robustness, APreviousCellMapThatCannotBeUsedSaysWhy) {
  // Not well-formed: named in a warning, and the conversion goes on without it.
  test::writeFile(file("art.vtce"), "<VantrelCellMap><cells></VantrelCellMap>");
  test::RunResult r = run({"-I", "art.psd", "-UO", "true"});
  EXPECT_EQ(r.exitCode, 0) << r.stdErr;
  EXPECT_NE(r.stdErr.find(" read (arm)\nwarning: the previous cell map art.vtce could not be read "
                          "(XML_ERROR_MISMATCHED_ELEMENT at line 1); no pivot or mesh is carried over\n"
                          "テクスチャサイズを"),
            std::string::npos)
      << r.stdErr;

  // A cell without a readable size: the run stops, says where, writes nothing.
  const std::string map = "<VantrelCellMap>\n<cells>\n<cell><name>body</name><size>wide</size></cell>\n"
                          "</cells>\n</VantrelCellMap>\n";
  test::writeFile(file("art.vtce"), map);
  std::filesystem::remove(file("art.png"));
  r = run({"-I", "art.psd", "-UO", "true"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(endsWith(r.stdErr, " read (arm)\n"
                                 "error: the previous cell map art.vtce has a cell without a valid size (body); its "
                                 "meshes cannot be carried over\n"
                                 "reason: art.vtce: in the cell at line 3, the size \"wide\" is not two whole numbers\n"))
      << r.stdErr;
  EXPECT_EQ(test::readFile(file("art.vtce")), map);
  EXPECT_FALSE(std::filesystem::exists(file("art.png")));
}

TEST(OutputSetSignals, TerminationRemovesTheTemporaries) {
  test::TempDir dir;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    platform::OutputSet outputs;
    const bool added =
        static_cast<bool>(outputs.add(dir.file("a.png"), "", [](std::FILE* f) { return std::fputs("x", f) >= 0; }));
    if (added) std::raise(SIGTERM);
    ::_exit(3);  // reached only when the handler failed to end the process
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status)) << "exit status " << WEXITSTATUS(status);
  EXPECT_EQ(WTERMSIG(status), SIGTERM);
  EXPECT_EQ(entriesOf(dir.path()), std::vector<std::string>{});
}

}  // namespace
}  // namespace korvex
