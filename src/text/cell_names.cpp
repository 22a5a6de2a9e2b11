#include "text/cell_names.h"

#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {
namespace {

// True when every byte of the Shift_JIS form of `name` is printable ASCII
// (blank to tilde): multi-byte characters, half-width katakana, control
// characters and DEL all fail.
bool isSingleBytePrintable(const std::string& sjisName) {
  for (char c : sjisName) {
    auto byte = static_cast<unsigned char>(c);
    if (byte == 0) break;
    if (byte < 0x20 || byte > 0x7E) return false;
  }
  return true;
}

}  // namespace

Status validateCellNames(const std::vector<std::string>& names) {
  // Each name is character-tested and then compared with every later name
  // before the next name is tested, so a duplicate of an earlier name is
  // reported even when a later name would fail the character test.
  for (size_t i = 0; i < names.size(); ++i) {
    // The name up to its first zero byte, as a C string would be.
    const std::string name(names[i].c_str());
    if (!isSingleBytePrintable(utf8ToSjis(name))) {
      return Status::failure(Status::Code::kInvalid, formatMessage("ERROR_0004", utf8ToConsole(name).c_str()) + "\n",
                             "");
    }
    for (size_t j = i + 1; j < names.size(); ++j) {
      if (names[i] == names[j]) {
        return Status::failure(Status::Code::kInvalid,
                               formatMessage("ERROR_0005", utf8ToConsole(names[i]).c_str()) + "\n", "");
      }
    }
  }
  return Status::ok();
}

}  // namespace korvex
