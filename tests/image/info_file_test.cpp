// The image information file: tokens, lines, failures and the cells it makes.
#include "image/info_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>
#include <utility>

#include "image/png.h"
#include "support/cell_pixels.h"
#include "support/temp_dir.h"
#include "text/messages.h"

namespace korvex {
namespace {

using test::TempDir;

// A width x height PNG whose pixel (x, y) is 0xFF00yyxx.
void writeImage(const std::string& path, int32_t width, int32_t height) {
  ImageBuffer image;
  image.resize(width, height);
  for (int32_t y = 0; y < height; ++y)
    for (int32_t x = 0; x < width; ++x) {
      uint8_t* p = &image.pixels[(static_cast<size_t>(y) * width + x) * 4];
      p[0] = static_cast<uint8_t>(x);
      p[1] = static_cast<uint8_t>(y);
      p[3] = 0xFF;
    }
  ASSERT_TRUE(write_png(image, path));
}

struct InfoRun {
  Status result;
  std::string printed;  // the progress lines, then the failure's message
};

InfoRun readInfo(const TempDir& dir, const std::string& contents, CellTable& table) {
  test::writeFile(dir.file("cells.txt"), contents);
  InfoRun run;
  run.result = readImageInfoFile(dir.file("cells.txt"), dir.path() + "/", table,
                                 [&](const std::string& line) { run.printed += line + "\n"; });
  run.printed += run.result.message();
  return run;
}

TEST(InfoFile, TokensBecomeCellsInFileOrder) {
  TempDir dir;
  writeImage(dir.file("a.png"), 64, 32);
  writeImage(dir.file("b.png"), 10, 9);
  writeImage(dir.file("abc"), 3, 3);
  CellTable table;
  // Several tokens on a line, text after the last "#" ignored, CR LF line ends.
  const InfoRun run = readInfo(dir, "a.png#b.png#ignored\r\nabc#\r\n", table);
  ASSERT_TRUE(run.result);
  EXPECT_EQ(run.printed, "read image : " + dir.file("a.png") + "\nOK!\n" +  //
                             "read image : " + dir.file("b.png") + "\nOK!\n" +   //
                             "read image : " + dir.file("abc") + "\nOK!\n");
  ASSERT_EQ(table.cellCount(), 3);
  EXPECT_EQ(table.cellNames, (std::vector<std::string>{"a", "b", "abc"}));
  EXPECT_EQ(table.cellFileNames, (std::vector<std::string>{"a.png", "b.png", "abc"}));
  // The halves describe the last image read.
  EXPECT_EQ(table.canvasHalfWidth, 1);
  EXPECT_EQ(table.canvasHalfHeight, 1);

  const CellImage& b = *table.cells[1];
  EXPECT_EQ(b.width, 10);
  EXPECT_EQ(b.height, 9);
  EXPECT_EQ(b.stride, 40);
  EXPECT_EQ(b.canvasX, 0);
  EXPECT_EQ(b.canvasY, 0);
  EXPECT_EQ(b.priority, 0);
  EXPECT_EQ(test::pixelAt(b, 7, 5), 0xFF000507u);
  EXPECT_EQ(test::pixelAt(b, 10, 0), 0u);
}

TEST(InfoFile, HalvesFollowTheLastImage) {
  TempDir dir;
  writeImage(dir.file("big.png"), 64, 32);
  writeImage(dir.file("small.png"), 10, 9);
  CellTable table;
  ASSERT_TRUE(readInfo(dir, "big.png#\nsmall.png#", table).result);
  EXPECT_EQ(table.canvasHalfWidth, 5);
  EXPECT_EQ(table.canvasHalfHeight, 4);
}

TEST(InfoFile, LineWithoutHashFailsAfterEarlierCells) {
  TempDir dir;
  writeImage(dir.file("a.png"), 2, 2);
  CellTable table;
  // A trailing empty line is a line without "#".
  loadMessageCatalogue();
  const InfoRun run = readInfo(dir, "a.png#\n\n", table);
  EXPECT_EQ(run.result.code(), Status::Code::kInvalid);
  EXPECT_EQ(run.result.message(), "エラー：情報ファイルの内容が正しくありません。：" + dir.file("cells.txt") + "\n");
  EXPECT_EQ(run.result.reason(), dir.file("cells.txt") +
                                     " line 2 is empty; every PNG name must end with \"#\", e.g. \"hero.png#\"");
  EXPECT_EQ(table.cellNames, (std::vector<std::string>{"a"}));
  EXPECT_EQ(run.printed.rfind("read image : " + dir.file("a.png") + "\nOK!\n", 0), 0u);
}

TEST(InfoFile, LinesLongerThanTheBufferAreReadInPieces) {
  TempDir dir;
  writeImage(dir.file("a.png"), 2, 2);
  CellTable table;
  // 262,143 bytes fill the buffer; the line end that follows reads as an empty line.
  const std::string piece = "a.png#" + std::string(262143 - 6, 'x');
  EXPECT_EQ(readInfo(dir, piece + "\n", table).result.code(), Status::Code::kInvalid);
  EXPECT_EQ(table.cellCount(), 1);

  CellTable shorter;
  // One byte shorter, the line is whole: its token ".png" names no file.
  const InfoRun missing = readInfo(dir, piece.substr(1) + "\n", shorter);
  EXPECT_EQ(missing.result.code(), Status::Code::kSystem);
  EXPECT_EQ(missing.result.reason(), "cannot open " + dir.file(".png") + ": No such file or directory");
}

TEST(InfoFile, UnreadableImagesStopTheReader) {
  TempDir dir;
  writeImage(dir.file("a.png"), 2, 2);
  test::writeFile(dir.file("bad.png"), "not a png");
  {
    // Two "#" in a row: the empty token names the folder itself.
    CellTable table;
    const InfoRun run = readInfo(dir, "a.png##\n", table);
    EXPECT_EQ(run.result.reason(), dir.path() + "/ is a folder, not a file");
    EXPECT_NE(run.printed.find("read image : " + dir.path() + "/\nerror: " + dir.path() +
                               "/ is not a PNG.\nERROR\n"),
              std::string::npos);
    EXPECT_EQ(table.cellCount(), 1);
    EXPECT_EQ(table.cells.size(), 1u);
  }
  {
    CellTable table;
    const InfoRun run = readInfo(dir, "bad.png#a.png#\n", table);
    EXPECT_EQ(run.result.reason(), dir.file("bad.png") + " does not begin with the PNG signature");
    EXPECT_EQ(run.printed, "read image : " + dir.file("bad.png") + "\nerror: " + dir.file("bad.png") +
                               " is not a PNG.\nERROR\n");
    EXPECT_EQ(table.cellCount(), 0);
  }
}

TEST(InfoFile, OnlyARegularFileIsOpenedAndTheReasonSaysWhy) {
  TempDir dir;
  CellTable table;
  loadMessageCatalogue();
  ASSERT_EQ(mkfifo(dir.file("pipe.txt").c_str(), 0600), 0);
  const std::pair<std::string, std::string> cases[] = {
      {dir.file("none.txt"), "cannot open " + dir.file("none.txt") + ": No such file or directory"},
      {dir.path(), dir.path() + " is a folder, not a file"},
      {dir.file("pipe.txt"), dir.file("pipe.txt") + " is a named pipe (FIFO), not a file"},  // never blocks
  };
  for (const auto& [path, reason] : cases) {
    const Status read = readImageInfoFile(path, dir.path() + "/", table, [](const std::string&) {});
    EXPECT_EQ(read.message(), "エラー：情報ファイルのオープンに失敗しました。：" + path + "\n");
    EXPECT_EQ(read.reason(), reason);
    EXPECT_EQ(table.cellCount(), 0);
  }
}

TEST(InfoFile, MoreThanTheTableHoldsIsRefused) {
  TempDir dir;
  writeImage(dir.file("p.png"), 1, 1);
  std::string contents;
  for (int i = 0; i < kMaxCells; ++i) contents += "p.png#";
  CellTable table;
  ASSERT_TRUE(readInfo(dir, contents + "\n", table).result);
  EXPECT_EQ(table.cellCount(), kMaxCells);

  CellTable over;
  const InfoRun run = readInfo(dir, contents + "\np.png#\n", over);
  EXPECT_EQ(run.result.code(), Status::Code::kLimit);
  EXPECT_EQ(over.cellCount(), kMaxCells);
  EXPECT_EQ(over.cells.size(), static_cast<size_t>(kMaxCells));
  EXPECT_NE(run.printed.find("more than 1024 images"), std::string::npos);
}

}  // namespace
}  // namespace korvex
