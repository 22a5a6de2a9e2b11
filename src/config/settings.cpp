#include "config/settings.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <nlohmann/json.hpp>

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
// cannot be opened. `truncated` tells whether more was there.
bool readFileHead(const std::string& path, std::string& bytes, bool& truncated) {
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

// Finds where a JSON text stops being valid, for the error message.
struct JsonErrorLocator : nlohmann::json_sax<Json> {
  size_t position = 0;
  bool null() override { return true; }
  bool boolean(bool) override { return true; }
  bool number_integer(number_integer_t) override { return true; }
  bool number_unsigned(number_unsigned_t) override { return true; }
  bool number_float(number_float_t, const string_t&) override { return true; }
  bool string(string_t&) override { return true; }
  bool binary(binary_t&) override { return true; }
  bool start_object(std::size_t) override { return true; }
  bool key(string_t&) override { return true; }
  bool end_object() override { return true; }
  bool start_array(std::size_t) override { return true; }
  bool end_array() override { return true; }
  bool parse_error(std::size_t at, const std::string&, const nlohmann::detail::exception&) override {
    position = at;
    return false;
  }
};

// "syntax error at line N near: " and the rest of the offending line from
// the character where parsing failed (control characters left out).
std::string syntaxErrorText(const std::string& text) {
  JsonErrorLocator locator;
  Json::sax_parse(text, &locator);
  size_t at = std::min(locator.position > 0 ? locator.position - 1 : 0, text.size());
  long line = 1 + std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(at), '\n');
  std::string message = "syntax error at line " + std::to_string(line) + " near: ";
  for (size_t i = at; i < text.size() && text[i] != '\n'; ++i)
    if (static_cast<unsigned char>(text[i]) >= ' ') message += text[i];
  return message;
}

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

bool parseOptions(ConversionSettings& settings, int argc, const char* const argv[]) {
  if (argc <= 2) return false;
  bool anyOption = false;
  for (int i = 0; i < argc && !anyOption; ++i) anyOption = findOption(argv[i]) != kOptionCount;
  if (!anyOption) return false;

  std::array<std::string, kOptionCount> values;
  for (int i = 0; i < kOptionCount; ++i) values[i] = kOptions[i].defaultText;
  // Names sit at odd positions, each followed by its value, taken unchanged
  // even when it looks like a name. A final name without a value is ignored,
  // so the option keeps what it had.
  for (int i = 1; i + 1 < argc; i += 2) {
    int option = findOption(argv[i]);
    if (option != kOptionCount) values[option] = argv[i + 1];
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

  Json root = Json::parse(text, nullptr, /*allow_exceptions=*/false);
  if (root.is_discarded()) return fail(syntaxErrorText(text));
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
