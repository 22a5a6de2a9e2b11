// Extraction through the binary: the cells of a PSD or of an image
// information file, their console lines, the name checks, and the failures
// that stop a conversion before anything is written.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "image/png.h"
#include "support/psd_writer.h"
#include "support/run_korvex.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

using test::PsdRecord;
using test::TempDir;

class CellsEndToEnd : public testing::Test {
 protected:
  TempDir dir;
  TempDir home;

  void SetUp() override { std::filesystem::create_directory(dir.file("out")); }

  std::string out(const std::string& name) const { return dir.file("out") + "/" + name; }

  test::RunResult convert(const std::string& input) {
    return test::runKorvex({"--inputfile", input, "--outputpath", dir.file("out")}, {{"HOME", home.path()}});
  }

  std::string writePsd(const std::vector<PsdRecord>& records) {
    test::PsdOptions options;
    options.width = 64;
    options.height = 48;
    const std::string path = dir.file("art.psd");
    EXPECT_TRUE(test::writePsd(path, options, records));
    return path;
  }

  void writeImage(const std::string& name, int32_t width, int32_t height) {
    ImageBuffer image;
    image.resize(width, height);
    for (size_t i = 3; i < image.pixels.size(); i += 4) image.pixels[i] = 0xFF;
    ASSERT_TRUE(write_png(image, dir.file(name)));
  }

  // No output of the conversion exists.
  void expectNothingWritten() const {
    for (const char* name : {"art.png", "art.vtce", "art.vtae", "art.vtpj", "cells.png", "cells.vtce"})
      EXPECT_FALSE(test::fileExists(out(name))) << name;
  }
};

// The lines of `text` that start with `prefix`, in order.
std::vector<std::string> linesStartingWith(const std::string& text, const std::string& prefix) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (line.rfind(prefix, 0) == 0) lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TEST_F(CellsEndToEnd, PsdLayersAndGroupsBecomeCells) {
  std::vector<PsdRecord> records{test::solidLayer("body.main", 4, 4, 10, 10, 0xFF336699u)};
  PsdRecord hidden = test::solidLayer("hidden", 0, 0, 4, 4, 0xFFFF0000u);
  hidden.hidden = true;
  records.push_back(hidden);
  test::append(records, test::group("arm", {test::solidLayer("upper", 30, 10, 6, 12, 0xFF00FF00u),
                                            test::solidLayer("lower", 30, 22, 6, 12, 0xFF0000FFu)}));
  const test::RunResult run = convert(writePsd(records));

  // Printed by the walk, before packing.
  std::vector<std::string> walkLines = linesStartingWith(run.stdErr, " read (");
  for (const std::string& line : linesStartingWith(run.stdErr, " skip (")) walkLines.push_back(line);
  EXPECT_EQ(walkLines, (std::vector<std::string>{" read (body.main)", " read (arm)", " skip (hidden)"}));
  EXPECT_LT(run.stdErr.find(" read (body.main)"), run.stdErr.find(" skip (hidden)"));
  EXPECT_LT(run.stdErr.find(" skip (hidden)"), run.stdErr.find(" read (arm)"));

  // The rest needs packing and the cell map writer.
  EXPECT_EQ(run.exitCode, 0) << run.stdErr;
  const std::string cellMap = test::readFile(out("art.vtce"));
  EXPECT_NE(cellMap.find("<name>arm</name>"), std::string::npos);
  EXPECT_NE(cellMap.find("<name>body_main</name>"), std::string::npos);
  EXPECT_LT(cellMap.find("<name>arm</name>"), cellMap.find("<name>body_main</name>"));
  EXPECT_TRUE(test::fileExists(out("art.png")));
}

TEST_F(CellsEndToEnd, InvalidCellNamesStopTheConversion) {
  {
    const test::RunResult run = convert(writePsd({test::solidLayer("twin", 0, 0, 2, 2, 0xFF000000u),
                                                  test::solidLayer("twin", 4, 4, 2, 2, 0xFF000000u)}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.stdErr.find("同名のセル名が使用されています。 : twin"), std::string::npos) << run.stdErr;
    expectNothingWritten();
  }
  {
    // Katakana A in Shift_JIS: the cell name is not single-byte.
    const test::RunResult run = convert(writePsd({test::solidLayer("\x83\x41", 0, 0, 2, 2, 0xFF000000u)}));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.stdErr.find(" read (ア)\n"), std::string::npos) << run.stdErr;
    EXPECT_NE(run.stdErr.find("全角文字が使用されています。: ア"), std::string::npos) << run.stdErr;
    expectNothingWritten();
  }
}

TEST_F(CellsEndToEnd, TooManyCellsOrAnUnreadablePsdStopTheConversion) {
  std::vector<PsdRecord> records;
  for (int i = 0; i <= 1024; ++i) records.push_back(test::solidLayer("l" + std::to_string(i), i % 60, 0, 1, 1, 0xFF000000u));
  const test::RunResult tooMany = convert(writePsd(records));
  EXPECT_EQ(tooMany.exitCode, 1);
  EXPECT_NE(tooMany.stdErr.find("more than 1024"), std::string::npos) << tooMany.stdErr;
  expectNothingWritten();

  test::writeFile(dir.file("art.psd"), "8BPS damaged");
  const test::RunResult damaged = convert(dir.file("art.psd"));
  EXPECT_EQ(damaged.exitCode, 1);
  EXPECT_NE(damaged.stdErr.find("PSDファイルのオープンに失敗しました。：" + dir.file("art.psd")), std::string::npos)
      << damaged.stdErr;
  expectNothingWritten();
}

TEST_F(CellsEndToEnd, InformationFileListsTheCells) {
  writeImage("head.png", 16, 8);
  writeImage("tail.png", 5, 7);
  test::writeFile(dir.file("cells.txt"), "head.png#tail.png#\r\n");
  const test::RunResult run = convert(dir.file("cells.txt"));
  EXPECT_NE(run.stdErr.find("read image : " + dir.file("head.png") + "\nOK!\nread image : " +
                            dir.file("tail.png") + "\nOK!\n"),
            std::string::npos)
      << run.stdErr;

  // The rest needs packing and the cell map writer.
  EXPECT_EQ(run.exitCode, 0) << run.stdErr;
  const std::string cellMap = test::readFile(out("cells.vtce"));
  EXPECT_LT(cellMap.find("<name>head</name>"), cellMap.find("<name>tail</name>"));
}

TEST_F(CellsEndToEnd, BrokenInformationFilesStopTheConversion) {
  writeImage("head.png", 16, 8);
  {
    test::writeFile(dir.file("cells.txt"), "head.png#\n\n");
    const test::RunResult run = convert(dir.file("cells.txt"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.stdErr.find("情報ファイルの内容が正しくありません。：" + dir.file("cells.txt")), std::string::npos)
        << run.stdErr;
    expectNothingWritten();
  }
  {
    test::writeFile(dir.file("cells.txt"), "head.png#missing.png#\n");
    const test::RunResult run = convert(dir.file("cells.txt"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.stdErr.find("read image : " + dir.file("missing.png") + "\nerror: " + dir.file("missing.png") +
                              " is not a PNG.\nERROR\n"),
              std::string::npos)
        << run.stdErr;
    expectNothingWritten();
  }
  {
    const test::RunResult run = convert(dir.file("absent.txt"));
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_NE(run.stdErr.find("情報ファイルのオープンに失敗しました。"), std::string::npos) << run.stdErr;
  }
}

}  // namespace
}  // namespace korvex
