#include "config/settings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {
namespace {

using Json = nlohmann::json;

// Settings files are a few hundred bytes; anything beyond this is no
// settings file and is not read further.
constexpr std::streamsize kMaxSettingsFileBytes = 1 << 20;

int32_t saturate(int64_t value) {
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

// Reads at most kMaxSettingsFileBytes of the file at `path`; false when it
// cannot be opened (a folder counts as missing). `truncated` tells whether
// more was there.
bool readFileHead(const std::string& path, std::string& bytes, bool& truncated) {
  if (!platform::isRegularFile(path)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  bytes.assign(static_cast<size_t>(kMaxSettingsFileBytes), '\0');
  in.read(bytes.data(), kMaxSettingsFileBytes);
  bytes.resize(static_cast<size_t>(in.gcount()));
  truncated = in.gcount() == kMaxSettingsFileBytes && in.peek() != std::char_traits<char>::eof();
  return true;
}

// The options: short name, long name. The long names are spelled as users
// have always typed them ("--pading_shape", "--padding_innner").
enum Option {
  kTextureWidth, kTextureHeight, kPaddingShape, kPackPadding, kAddPriority,
  kOutVtae, kOutVtpj, kOverwrite, kAddNull, kUseLayerPivot, kUseLayerRoot,
  kUseOldPivot, kSortMode, kPaddingBorder, kCanvasSize, kPaddingInner,
  kOutputPath, kOutputName, kInputFile, kJsonFlag, kOptionCount
};

struct OptionName {
  const char* shortName;
  const char* longName;
  const char* defaultText;
};

constexpr std::array<OptionName, kOptionCount> kOptions = {{
    {"-TW", "--texture_width", "0"},
    {"-TH", "--texture_height", "0"},
    {"-PS", "--pading_shape", "2"},
    {"-PP", "--pack_padding", "1"},
    {"-AP", "--add_priority", "1"},
    {"-OA", "--out_vtae", "false"},
    {"-OP", "--out_vtpj", "false"},
    {"-OW", "--overwrite", "false"},
    {"-AN", "--add_null", "false"},
    {"-UP", "--use_layer_pivot", "false"},
    {"-UR", "--use_layer_root", "false"},
    {"-UO", "--use_oldpivot", "false"},
    {"-SO", "--sortmode", "RECTMAX"},
    {"-PB", "--padding_border", "4"},
    {"-CS", "--canvas_size", "0"},
    {"-PI", "--padding_innner", "0"},
    {"-O", "--outputpath", ""},
    {"-ON", "--outputname", ""},
    {"-I", "--inputfile", ""},
    {"-J", "--json", "false"},
}};

// The option named by `arg`, or kOptionCount when it names none.
int findOption(const char* arg) {
  for (int i = 0; i < kOptionCount; ++i)
    if (std::strcmp(arg, kOptions[i].shortName) == 0 || std::strcmp(arg, kOptions[i].longName) == 0)
      return i;
  return kOptionCount;
}

// The JSON reader of the settings file. It keeps the grammar that settings
// files have always been read with, so a file that loaded before still
// loads, and a broken one is reported at the same place:
// - white space is blank, tab, CR and LF;
// - a number is the longest run of "0"-"9", "+", "-", "e", "E" and "." and
//   must be read whole as a decimal floating-point number ("01" and "1."
//   are numbers, "+1" is not);
// - string bytes below 0x20 are refused, others are taken as they are;
//   escapes \" \\ \/ \b \f \n \r \t and \uXXXX (surrogate pairs joined);
// - the first value of the text is the document: what follows it is not read.
// On a fault the reader stands on the byte it could not take, or just past
// it when that byte had already been taken (an unknown escape, a number
// that does not read whole). The message names the line of that byte
// (counting line feeds before it) and the rest of its line.
class SettingsJsonReader {
 public:
  explicit SettingsJsonReader(const std::string& text) : text_(text) {}

  // Parses the first value of the text into `out`; on failure `error` holds
  // "syntax error at line N near: " and the rest of the line.
  bool parse(Json& out, std::string& error) {
    if (parseValue(out, 0)) return true;
    error = "syntax error at line " + std::to_string(line_) + " near: ";
    for (int c = next(); c != -1 && c != '\n'; c = next())
      if (c >= ' ') error += static_cast<char>(c);
    return false;
  }

 private:
  // Nesting this deep is no settings file; refusing it keeps the stack safe.
  static constexpr int kMaxDepth = 512;

  // The byte at the reading position (taking it), or -1 at the end.
  int next() {
    if (taken_) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
    if (pos_ >= text_.size()) {
      taken_ = false;
      return -1;
    }
    taken_ = true;
    return static_cast<unsigned char>(text_[pos_]);
  }
  // Gives the last byte taken back.
  void putBack() { taken_ = false; }
  void skipSpace() {
    int c;
    do c = next();
    while (c == ' ' || c == '\t' || c == '\n' || c == '\r');
    putBack();
  }
  bool expect(int wanted) {
    skipSpace();
    if (next() == wanted) return true;
    putBack();
    return false;
  }
  bool match(const char* rest) {
    for (; *rest; ++rest)
      if (next() != *rest) {
        putBack();
        return false;
      }
    return true;
  }

  bool parseValue(Json& out, int depth) {
    skipSpace();
    int c = next();
    switch (c) {
      case 'n': out = nullptr; return match("ull");
      case 'f': out = false; return match("alse");
      case 't': out = true; return match("rue");
      case '"': {
        std::string s;
        if (!parseString(s)) return false;
        out = std::move(s);
        return true;
      }
      case '[': return depth < kMaxDepth && parseArray(out, depth + 1);
      case '{': return depth < kMaxDepth && parseObject(out, depth + 1);
      default: break;
    }
    if ((c >= '0' && c <= '9') || c == '-') {
      putBack();
      return parseNumber(out);
    }
    putBack();
    return false;
  }

  bool parseNumber(Json& out) {
    std::string digits;
    for (;;) {
      int c = next();
      if ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == 'e' || c == 'E' || c == '.') {
        digits += static_cast<char>(c);
      } else {
        putBack();
        break;
      }
    }
    if (digits.empty()) return false;
    char* end = nullptr;
    double value = std::strtod(digits.c_str(), &end);
    if (end != digits.c_str() + digits.size()) return false;
    out = value;
    return true;
  }

  // Four hexadecimal digits, or -1.
  int parseHex4() {
    int value = 0;
    for (int i = 0; i < 4; ++i) {
      int c = next();
      int digit;
      if (c >= '0' && c <= '9') digit = c - '0';
      else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      else {
        if (c != -1) putBack();
        return -1;
      }
      value = value * 16 + digit;
    }
    return value;
  }

  bool parseCodePoint(std::string& out) {
    int code = parseHex4();
    if (code == -1) return false;
    if (code >= 0xD800 && code <= 0xDFFF) {
      if (code >= 0xDC00) return false;  // a second half without a first
      if (next() != '\\' || next() != 'u') {
        putBack();
        return false;
      }
      int low = parseHex4();
      if (low < 0xDC00 || low > 0xDFFF) return false;
      code = 0x10000 + (((code - 0xD800) << 10) | ((low - 0xDC00) & 0x3FF));
    }
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
    return true;
  }

  // After the opening quote.
  bool parseString(std::string& out) {
    for (;;) {
      int c = next();
      if (c < ' ') {
        putBack();
        return false;
      }
      if (c == '"') return true;
      if (c != '\\') {
        out += static_cast<char>(c);
        continue;
      }
      switch (next()) {
        case -1: return false;
        case '"': out += '"'; break;
        case '\\': out += '\\'; break;
        case '/': out += '/'; break;
        case 'b': out += '\b'; break;
        case 'f': out += '\f'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case 't': out += '\t'; break;
        case 'u':
          if (!parseCodePoint(out)) return false;
          break;
        default: return false;
      }
    }
  }

  // After the opening bracket.
  bool parseArray(Json& out, int depth) {
    out = Json::array();
    if (expect(']')) return true;
    do {
      Json item;
      if (!parseValue(item, depth)) return false;
      out.push_back(std::move(item));
    } while (expect(','));
    return expect(']');
  }

  // After the opening brace; a repeated key keeps its last value.
  bool parseObject(Json& out, int depth) {
    out = Json::object();
    if (expect('}')) return true;
    do {
      std::string key;
      if (!expect('"') || !parseString(key) || !expect(':')) return false;
      Json item;
      if (!parseValue(item, depth)) return false;
      out[key] = std::move(item);
    } while (expect(','));
    return expect('}');
  }

  const std::string& text_;
  size_t pos_ = 0;
  bool taken_ = false;  // the byte at pos_ has been taken
  int line_ = 1;
};

// A JSON number as int32: truncated toward zero, saturated beyond the range.
int32_t jsonToInt32(const Json& value) {
  if (value.is_number_unsigned())
    return saturate(static_cast<int64_t>(std::min<uint64_t>(value.get<uint64_t>(), INT64_MAX)));
  if (value.is_number_integer()) return saturate(value.get<int64_t>());
  double d = std::trunc(value.get<double>());
  if (d >= 2147483647.0) return std::numeric_limits<int32_t>::max();
  if (d <= -2147483648.0) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(d);
}

enum class JsonKind { kNumber, kBoolean, kString };

struct JsonKey {
  const char* name;
  JsonKind kind;
};

// The keys of the JSON settings file, in the order they are read.
constexpr JsonKey kJsonKeys[] = {
    {"texture_width", JsonKind::kNumber},      {"texture_height", JsonKind::kNumber},
    {"texture_padding_shape", JsonKind::kNumber}, {"pack_padding", JsonKind::kNumber},
    {"add_priority", JsonKind::kNumber},       {"is_vtaeoutput", JsonKind::kBoolean},
    {"is_vtpjoutput", JsonKind::kBoolean},     {"is_overwrite", JsonKind::kBoolean},
    {"is_addnull", JsonKind::kBoolean},        {"is_layerPivotUse", JsonKind::kBoolean},
    {"is_rootLayerUse", JsonKind::kBoolean},   {"is_oldPivotUse", JsonKind::kBoolean},
    {"sortmode", JsonKind::kString},           {"padding_border", JsonKind::kNumber},
    {"canvasSize", JsonKind::kNumber},         {"inner_padding", JsonKind::kNumber},
    {"outputpath", JsonKind::kString},         {"outputname", JsonKind::kString},
};

bool hasKind(const Json& value, JsonKind kind) {
  switch (kind) {
    case JsonKind::kNumber: return value.is_number();
    case JsonKind::kBoolean: return value.is_boolean();
    case JsonKind::kString: return value.is_string();
  }
  return false;
}

const char* kindName(JsonKind kind) {
  switch (kind) {
    case JsonKind::kNumber: return "a number";
    case JsonKind::kBoolean: return "a boolean";
    case JsonKind::kString: return "a string";
  }
  return "";
}

// The next white-space separated word at `pos` (empty at the end).
std::string nextWord(const std::string& text, size_t& pos) {
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r'; };
  while (pos < text.size() && isSpace(text[pos])) ++pos;
  size_t start = pos;
  while (pos < text.size() && !isSpace(text[pos])) ++pos;
  return text.substr(start, pos - start);
}

}  // namespace

int32_t parseNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  int64_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > int64_t{1} << 32) value = int64_t{1} << 32;  // beyond int32 either way
  }
  return saturate(negative ? -value : value);
}

bool parseBoolean(const std::string& text) { return text == "TRUE" || text == "true"; }

int32_t parseSortMode(const std::string& text) {
  if (text == "RECTMAX" || text == "rectmax") return kSortRectMax;
  if (text == "WMAX" || text == "wmax") return kSortWMax;
  if (text == "HMAX" || text == "hmax") return kSortHMax;
  return kSortByName;
}

bool parseOptions(ConversionSettings& settings, int argc, const char* const argv[],
                  std::vector<std::string>* warnings) {
  if (argc <= 2) return false;
  bool anyOption = false;
  for (int i = 0; i < argc && !anyOption; ++i) anyOption = findOption(argv[i]) != kOptionCount;
  if (!anyOption) return false;

  std::array<std::string, kOptionCount> values;
  for (int i = 0; i < kOptionCount; ++i) values[i] = kOptions[i].defaultText;
  // Names sit at odd positions, each followed by its value, taken unchanged
  // even when it looks like a name. A final name without a value is ignored,
  // so the option keeps what it had.
  auto warn = [&](const std::string& text) {
    if (warnings) warnings->push_back("warning: " + text);
  };
  for (int i = 1; i < argc; i += 2) {
    const int option = findOption(argv[i]);
    const std::string name = std::string("\"") + argv[i] + "\"";
    if (i + 1 == argc) {
      warn((option != kOptionCount ? "option " : "unknown option ") + name + " has no value; it was ignored");
    } else if (option != kOptionCount) {
      values[option] = argv[i + 1];
    } else {
      const std::string value = std::string("\"") + argv[i + 1] + "\"";
      warn("unknown option " + name + "; it and the value " + value + " after it were skipped" +
           (findOption(argv[i + 1]) != kOptionCount
                ? " (" + value + " is an option name: an argument before it is out of step)"
                : ""));
    }
  }

  ConversionSettings& s = settings;
  s.texture_width = parseNumber(values[kTextureWidth]);
  s.texture_height = parseNumber(values[kTextureHeight]);
  s.texture_padding_shape = parseNumber(values[kPaddingShape]);
  s.pack_padding = parseNumber(values[kPackPadding]);
  s.add_priority = parseNumber(values[kAddPriority]);
  s.is_vtaeoutput = parseBoolean(values[kOutVtae]);
  s.is_vtpjoutput = parseBoolean(values[kOutVtpj]);
  s.is_overwrite = parseBoolean(values[kOverwrite]);
  s.is_addnull = parseBoolean(values[kAddNull]);
  s.is_layerPivotUse = parseBoolean(values[kUseLayerPivot]);
  s.is_rootLayerUse = parseBoolean(values[kUseLayerRoot]);
  s.is_oldPivotUse = parseBoolean(values[kUseOldPivot]);
  s.sortmode = parseSortMode(values[kSortMode]);
  s.padding_border = parseNumber(values[kPaddingBorder]);
  s.canvasSize = parseNumber(values[kCanvasSize]);
  s.inner_padding = parseNumber(values[kPaddingInner]);
  s.json = parseBoolean(values[kJsonFlag]);
  s.outputpath = values[kOutputPath];
  s.inputfile = values[kInputFile];
  if (!values[kOutputName].empty()) s.outputname = values[kOutputName];

  // The separator is appended before "\" becomes "/", so a folder written
  // with a trailing "\" ends in "//".
  if (!s.outputpath.empty() && s.outputpath.back() != '/') s.outputpath += '/';
  s.outputpath = withForwardSlashes(s.outputpath);
  s.inputfile = withForwardSlashes(s.inputfile);
  return true;
}

// The JSON settings file: one object with the keys of kJsonKeys, e.g.
//   {"texture_width": 1024, "is_vtaeoutput": true, "sortmode": "RECTMAX",
//    "outputpath": "out/", "outputname": "hero", ...}
// Numbers are truncated to int32; every key must be present with its type.
bool ConversionSettings::readJsonSettings(const std::string& path) {
  const std::string file = withForwardSlashes(path);

  auto fail = [&](std::string reason) {
    errorText = std::move(reason);
    printLine(errorText + file);
    return false;
  };

  std::string text;
  bool truncated = false;
  if (!readFileHead(file, text, truncated)) return fail("failed to read :");
  if (truncated) return fail("settings file too large :");

  Json root;
  std::string syntaxError;
  if (!SettingsJsonReader(text).parse(root, syntaxError)) return fail(syntaxError);
  if (!root.is_object()) return fail("settings are not a JSON object :");
  for (const JsonKey& key : kJsonKeys) {
    auto it = root.find(key.name);
    if (it == root.end())
      return fail(std::string("setting \"") + key.name + "\" is missing :");
    if (!hasKind(*it, key.kind))
      return fail(std::string("setting \"") + key.name + "\" is not " + kindName(key.kind) + " :");
  }

  texture_width = jsonToInt32(root["texture_width"]);
  texture_height = jsonToInt32(root["texture_height"]);
  texture_padding_shape = jsonToInt32(root["texture_padding_shape"]);
  pack_padding = jsonToInt32(root["pack_padding"]);
  add_priority = jsonToInt32(root["add_priority"]);
  is_vtaeoutput = root["is_vtaeoutput"].get<bool>();
  is_vtpjoutput = root["is_vtpjoutput"].get<bool>();
  is_overwrite = root["is_overwrite"].get<bool>();
  is_addnull = root["is_addnull"].get<bool>();
  is_layerPivotUse = root["is_layerPivotUse"].get<bool>();
  is_rootLayerUse = root["is_rootLayerUse"].get<bool>();
  is_oldPivotUse = root["is_oldPivotUse"].get<bool>();
  sortmode = parseSortMode(root["sortmode"].get<std::string>());
  padding_border = jsonToInt32(root["padding_border"]);
  canvasSize = jsonToInt32(root["canvasSize"]);
  inner_padding = jsonToInt32(root["inner_padding"]);
  outputpath = root["outputpath"].get<std::string>();
  const std::string& name = root["outputname"].get_ref<const std::string&>();
  if (!name.empty()) outputname = name;
  return true;
}

// The text settings file: the output folder on the first line (at most 255
// characters; a longer line is cut there and nothing after it is read), then
// seventeen white-space separated words:
//   width height padding-shape sortmode(0-3) add-priority vtae vtpj null ow
//   layer-pivot("yes") root old-pivot("yes") pack-padding padding-border
//   canvas-size inner-padding outputname
// A flag is set only by its exact word; a missing number reads as 0; a
// missing name leaves outputname as it was.
bool ConversionSettings::readTextSettings(const std::string& path) {
  std::string text;
  bool truncated = false;
  if (!readFileHead(path, text, truncated)) return false;

  constexpr size_t kMaxFirstLine = 255;
  std::string firstLine;
  size_t pos = 0;
  bool lineTooLong = false;
  for (; pos < text.size(); ++pos) {
    char c = text[pos];
    if (c == '\n') break;
    if (c == '\r' && pos + 1 < text.size() && text[pos + 1] == '\n') continue;  // CR LF ends the line
    if (firstLine.size() == kMaxFirstLine) {
      lineTooLong = true;
      break;
    }
    firstLine += c;
  }
  if (pos < text.size()) ++pos;  // past the line feed
  outputpath = firstLine;

  std::array<std::string, 17> words;
  if (!lineTooLong)
    for (std::string& word : words) word = nextWord(text, pos);

  texture_width = parseNumber(words[0]);
  texture_height = parseNumber(words[1]);
  texture_padding_shape = parseNumber(words[2]);
  sortmode = parseNumber(words[3]);
  add_priority = parseNumber(words[4]);
  if (words[5] == "vtae") is_vtaeoutput = true;
  if (words[6] == "vtpj") is_vtpjoutput = true;
  if (words[7] == "null") is_addnull = true;
  if (words[8] == "ow") is_overwrite = true;
  if (words[9] == "yes") is_layerPivotUse = true;
  if (words[10] == "root") is_rootLayerUse = true;
  if (words[11] == "yes") is_oldPivotUse = true;
  pack_padding = parseNumber(words[12]);
  padding_border = parseNumber(words[13]);
  canvasSize = parseNumber(words[14]);
  inner_padding = parseNumber(words[15]);
  if (!words[16].empty()) outputname = words[16];
  return true;
}

}  // namespace korvex
