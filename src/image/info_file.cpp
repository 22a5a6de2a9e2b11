// The image information file.
//
// Plain text read line by line; "\r\n" and "\n" end a line. Each line holds
// one or more tokens, each ended by "#"; text after the last "#" of a line is
// ignored, and a line without "#" (an empty line included) is an error. A
// token is a PNG file name relative to the information file's folder, taken
// byte for byte. Lines are read in pieces of at most 262,143 bytes, so a
// longer line counts as several lines. The cell name is the token without its
// last four characters (the ".png"); a shorter token is kept whole.
#include "image/info_file.h"

#include <cerrno>
#include <cstdio>
#include <memory>

#include "image/png.h"
#include "platform/platform.h"
#include "text/messages.h"

namespace korvex {

namespace {

constexpr size_t kMaxLineBytes = 262143;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

// Reads the next line piece into `line` (without its line end). False at
// the end of the file when nothing was read.
bool readLine(std::FILE* file, std::string& line) {
  line.clear();
  int c = 0;
  while (line.size() < kMaxLineBytes && (c = std::getc(file)) != EOF) {
    if (c == '\n') return true;
    if (c == '\r') {
      const int next = std::getc(file);
      if (next == '\n') return true;
      if (next != EOF) std::ungetc(next, file);
    }
    line.push_back(static_cast<char>(c));
  }
  return c != EOF || !line.empty();
}

// Reads the PNG named by `token` and appends its cell.
Status addImageCell(const std::string& token, const std::string& inputDir, CellTable& table,
                    const LineSink& progress) {
  const std::string path = inputDir + token;
  progress("read image : " + path);
  auto image = std::make_shared<ImageBuffer>();
  Status read = read_png(*image, path, progress);
  if (!read) return read.withMessage(read.message() + "ERROR\n");
  progress("OK!");

  auto cell = std::make_unique<CellImage>();
  cell->pixels = image->pixels.empty() ? nullptr : reinterpret_cast<const uint32_t*>(image->pixels.data());
  cell->width = image->width;
  cell->height = image->height;
  cell->stride = image->width * 4;
  if (cell->pixels) {
    cell->boxWidth = image->width;
    cell->boxHeight = image->height;
  }
  table.canvasHalfWidth = image->width / 2;
  table.canvasHalfHeight = image->height / 2;

  table.cellFileNames.push_back(token);
  table.cellNames.push_back(token.size() < 4 ? token : token.substr(0, token.size() - 4));
  table.cells.push_back(std::move(cell));
  table.pixelOwners.push_back(std::move(image));
  return Status::ok();
}

}  // namespace

Status readImageInfoFile(const std::string& infoPath, const std::string& inputDir, CellTable& table,
                         const LineSink& progress) {
  using Code = Status::Code;
  const std::string openFailed = formatMessage("ERROR_0001", infoPath.c_str()) + "\n";
  // A folder opens for reading here but holds no lines, and a pipe would
  // block: only a regular file is an information file.
  Status regular = platform::checkRegularFile(infoPath);
  if (!regular) return regular.withMessage(openFailed);
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(infoPath.c_str(), "rb"));
  if (!file)
    return Status::failure(Code::kSystem, openFailed,
                           "cannot open " + infoPath + ": " + platform::systemReason(errno));
  std::string line;
  for (int lineNumber = 1; readLine(file.get(), line); ++lineNumber) {
    // Like any C string, the line ends at a zero byte.
    line.resize(std::char_traits<char>::length(line.c_str()));
    size_t start = 0;
    size_t hash = 0;
    bool anyToken = false;
    while ((hash = line.find('#', start)) != std::string::npos) {
      anyToken = true;
      if (table.cellCount() >= kMaxCells) {
        const std::string limit = std::to_string(kMaxCells);
        return Status::failure(Code::kLimit,
                               "error: " + infoPath + " lists more than " + limit +
                                   " images; Korvex takes at most " + limit + " cells.\n",
                               "");
      }
      Status added = addImageCell(line.substr(start, hash - start), inputDir, table, progress);
      if (!added) return added;
      start = hash + 1;
    }
    if (!anyToken) {
      return Status::failure(Code::kInvalid, formatMessage("ERROR_0002", infoPath.c_str()) + "\n",
                             infoPath + " line " + std::to_string(lineNumber) +
                                 (line.empty() ? " is empty" : " has no \"#\"") +
                                 "; every PNG name must end with \"#\", e.g. \"hero.png#\"");
    }
  }
  return Status::ok();
}

}  // namespace korvex
