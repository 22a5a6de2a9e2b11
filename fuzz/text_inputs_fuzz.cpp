// libFuzzer entry point for the text inputs: the JSON and text settings
// files, the image information file and a previous cell map. Each reader
// takes a path, so the input is written to a temporary file first.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "config/settings.h"
#include "image/cell_image.h"
#include "image/info_file.h"
#include "documents/prev_cell_map.h"
#include "pack/texture_pack.h"

namespace {

// A private folder holding the input file; the information file's PNG names
// resolve inside it, where there are none.
struct Scratch {
  Scratch() {
    char folder[] = "/tmp/korvex-fuzz-XXXXXX";
    if (::mkdtemp(folder)) dir = std::string(folder) + "/";
    file = dir + "input";
  }
  ~Scratch() {
    std::remove(file.c_str());
    ::rmdir(dir.c_str());
  }
  std::string dir, file;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  if (scratch.dir.empty()) return 0;
  std::FILE* out = std::fopen(scratch.file.c_str(), "wb");
  if (!out) return 0;
  std::fwrite(data, 1, size, out);
  std::fclose(out);

  korvex::ConversionSettings json;
  json.readJsonSettings(scratch.file);
  korvex::ConversionSettings text;
  text.readTextSettings(scratch.file);

  korvex::CellTable table;
  korvex::readImageInfoFile(scratch.file, scratch.dir, table, [](const std::string&) {});

  korvex::PrevCellMap prev;
  korvex::ImportPrevCellMap(scratch.file, {"a"}, prev, [](const std::string&) {});
  return 0;
}
