#include "text/encoding.h"

#include <unicode/unistr.h>
#include <unicode/ustring.h>

#include <vector>

#include "platform/platform.h"

namespace korvex {
namespace {

// Converts between two ICU code pages. The input is read up to its first zero
// byte; bytes invalid in the source and characters the target cannot hold
// become the converters' substitution characters. An impossible conversion
// gives the empty string.
std::string convertCodePage(const std::string& text, const char* from, const char* to) {
  icu::UnicodeString unicode(text.c_str(), from);
  // Asking with no buffer gives the length in the target code page.
  int32_t length = unicode.extract(0, unicode.length(), nullptr, 0, to);
  if (length <= 0) return {};
  std::vector<char> buffer(static_cast<size_t>(length) + 1, '\0');
  unicode.extract(0, unicode.length(), buffer.data(), static_cast<uint32_t>(buffer.size()), to);
  return std::string(buffer.data(), static_cast<size_t>(length));
}

// True for the first byte of a Shift_JIS double-byte character.
bool isSjisLeadByte(unsigned char byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

// Calls visit(i) for every byte of `path` that stands for itself: all bytes
// on a UTF-8 console (no multi-byte UTF-8 sequence holds an ASCII byte), and
// all but the second bytes of double-byte characters on a Shift_JIS console.
template <typename Visit>
void forEachSingleByte(const std::string& path, Visit visit) {
  const bool sjis = platform::consoleUsesShiftJis();
  for (size_t i = 0; i < path.size(); ++i) {
    if (sjis && isSjisLeadByte(static_cast<unsigned char>(path[i]))) {
      ++i;  // skip the second byte
      continue;
    }
    visit(i);
  }
}

}  // namespace

std::string sjisToUtf8(const std::string& sjis) { return convertCodePage(sjis, "shift_jis", "utf8"); }

std::string utf8ToSjis(const std::string& utf8) { return convertCodePage(utf8, "utf8", "shift_jis"); }

bool wideToUtf8(const std::u16string& wide, std::string& utf8) {
  utf8.clear();
  if (wide.empty()) return true;
  if (wide.size() > static_cast<size_t>(INT32_MAX / 3)) return false;
  const auto* units = reinterpret_cast<const UChar*>(wide.data());
  const auto count = static_cast<int32_t>(wide.size());
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  u_strToUTF8(nullptr, 0, &length, units, count, &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  std::string out(static_cast<size_t>(length), '\0');
  status = U_ZERO_ERROR;
  u_strToUTF8(out.data(), length, nullptr, units, count, &status);
  if (U_FAILURE(status)) return false;
  utf8 = std::move(out);
  return true;
}

std::string utf8ToConsole(const std::string& utf8) {
  return platform::consoleUsesShiftJis() ? utf8ToSjis(utf8) : utf8;
}

std::string sjisToConsole(const std::string& sjis) {
  return platform::consoleUsesShiftJis() ? sjis : sjisToUtf8(sjis);
}

std::string consoleToUtf8(const std::string& console) {
  return platform::consoleUsesShiftJis() ? sjisToUtf8(console) : console;
}

std::string withForwardSlashes(const std::string& consolePath) {
  std::string path = consolePath;
  forEachSingleByte(path, [&path](size_t i) {
    if (path[i] == '\\') path[i] = '/';
  });
  return path;
}

size_t lastPathSeparator(const std::string& consolePath) {
  size_t last = std::string::npos;
  forEachSingleByte(consolePath, [&](size_t i) {
    if (consolePath[i] == '/' || consolePath[i] == '\\') last = i;
  });
  return last;
}

}  // namespace korvex
