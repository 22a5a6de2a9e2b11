#include "config/settings.h"

#include <array>
#include <cfloat>
#include <cmath>
#include <cstring>

// Numbers are read with "." whatever the user's locale.
#define PICOJSON_USE_LOCALE 0
#include <picojson.h>

#include "platform/platform.h"
#include "text/encoding.h"
#include "text/numbers.h"

namespace korvex {
namespace {

// Settings files are a few hundred bytes; anything beyond this is no
// settings file and is not read further.
constexpr size_t kMaxSettingsFileBytes = size_t{1} << 20;

// Reads at most kMaxSettingsFileBytes of the file at `path`; a failure, with
// the system's reason, when it is no regular file or cannot be read.
// `truncated` tells whether more was there.
Status readFileHead(const std::string& path, std::string& bytes, bool& truncated) {
  Status status = platform::readFileStart(path, kMaxSettingsFileBytes + 1, bytes);
  if (!status) return status;
  truncated = bytes.size() > kMaxSettingsFileBytes;
  if (truncated) bytes.resize(kMaxSettingsFileBytes);
  return status;
}

// How a setting is written and stored.
enum class SettingType {
  kNumber,    // int32: JSON number (truncated); option and text word by the number rule
  kBoolean,   // JSON true/false; option "TRUE"/"true"; text: the flag word sets it
  kSortMode,  // JSON and option by name ("RECTMAX" ...); text word by the number rule
  kText,      // string, taken as it is, also when empty
  kName,      // string, taken only when not empty
};

// Where a setting sits in the text settings file.
constexpr int kNotInTextFile = -1;
constexpr int kFirstLine = 0;  // positions 1 to 17 are the words after it
constexpr size_t kTextWords = 17;

struct Setting {
  const char* jsonKey;  // nullptr: not in the JSON file
  const char* shortOption;
  const char* longOption;  // spelled as users have always typed them ("--pading_shape")
  const char* defaultText;  // what the option holds before the command line is read
  int textPosition;
  const char* flagWord;  // the text file's word that sets a boolean
  SettingType type;
  int32_t ConversionSettings::*number;
  bool ConversionSettings::*flag;
  std::string ConversionSettings::*text;
};

constexpr Setting numberSetting(const char* key, const char* shortName, const char* longName,
                         const char* defaultText, int position, int32_t ConversionSettings::*field,
                         SettingType type = SettingType::kNumber) {
  return {key, shortName, longName, defaultText, position, nullptr, type, field, nullptr, nullptr};
}
constexpr Setting flagSetting(const char* key, const char* shortName, const char* longName, int position,
                       const char* word, bool ConversionSettings::*field) {
  return {key, shortName, longName, "false", position, word, SettingType::kBoolean, nullptr, field, nullptr};
}
constexpr Setting textSetting(const char* key, const char* shortName, const char* longName, int position,
                       SettingType type, std::string ConversionSettings::*field) {
  return {key, shortName, longName, "", position, nullptr, type, nullptr, nullptr, field};
}

using S = ConversionSettings;
// Every setting, in the order the JSON file is read and checked.
constexpr std::array<Setting, 20> kSettings = {{
    numberSetting("texture_width", "-TW", "--texture_width", "0", 1, &S::texture_width),
    numberSetting("texture_height", "-TH", "--texture_height", "0", 2, &S::texture_height),
    numberSetting("texture_padding_shape", "-PS", "--pading_shape", "2", 3, &S::texture_padding_shape),
    numberSetting("pack_padding", "-PP", "--pack_padding", "1", 13, &S::pack_padding),
    numberSetting("add_priority", "-AP", "--add_priority", "1", 5, &S::add_priority),
    flagSetting("is_vtaeoutput", "-OA", "--out_vtae", 6, "vtae", &S::is_vtaeoutput),
    flagSetting("is_vtpjoutput", "-OP", "--out_vtpj", 7, "vtpj", &S::is_vtpjoutput),
    flagSetting("is_overwrite", "-OW", "--overwrite", 9, "ow", &S::is_overwrite),
    flagSetting("is_addnull", "-AN", "--add_null", 8, "null", &S::is_addnull),
    flagSetting("is_layerPivotUse", "-UP", "--use_layer_pivot", 10, "yes", &S::is_layerPivotUse),
    flagSetting("is_rootLayerUse", "-UR", "--use_layer_root", 11, "root", &S::is_rootLayerUse),
    flagSetting("is_oldPivotUse", "-UO", "--use_oldpivot", 12, "yes", &S::is_oldPivotUse),
    numberSetting("sortmode", "-SO", "--sortmode", "RECTMAX", 4, &S::sortmode, SettingType::kSortMode),
    numberSetting("padding_border", "-PB", "--padding_border", "4", 14, &S::padding_border),
    numberSetting("canvasSize", "-CS", "--canvas_size", "0", 15, &S::canvasSize),
    numberSetting("inner_padding", "-PI", "--padding_innner", "0", 16, &S::inner_padding),
    textSetting("outputpath", "-O", "--outputpath", kFirstLine, SettingType::kText, &S::outputpath),
    textSetting("outputname", "-ON", "--outputname", 17, SettingType::kName, &S::outputname),
    textSetting(nullptr, "-I", "--inputfile", kNotInTextFile, SettingType::kText, &S::inputfile),
    flagSetting(nullptr, "-J", "--json", kNotInTextFile, nullptr, &S::json),
}};

// Stores option text or a text-file word in its field.
void storeText(ConversionSettings& s, const Setting& setting, const std::string& value) {
  switch (setting.type) {
    case SettingType::kNumber: s.*setting.number = parseNumber(value); break;
    case SettingType::kBoolean: s.*setting.flag = parseBoolean(value); break;
    case SettingType::kSortMode: s.*setting.number = parseSortMode(value); break;
    case SettingType::kText: s.*setting.text = value; break;
    case SettingType::kName:
      if (!value.empty()) s.*setting.text = value;
      break;
  }
}

// The setting named by the option `arg`, or nullptr.
const Setting* findOption(const char* arg) {
  for (const Setting& setting : kSettings)
    if (std::strcmp(arg, setting.shortOption) == 0 || std::strcmp(arg, setting.longOption) == 0)
      return &setting;
  return nullptr;
}

// picojson's document builder with two guards for untrusted files: arrays
// and objects alike count towards the nesting limit, and a number beyond
// the range of a double is kept as the largest double of its sign rather
// than refused by an exception.
class SettingsParseContext : public picojson::default_parse_context {
 public:
  SettingsParseContext(picojson::value* out, size_t depths) : default_parse_context(out, depths) {}

  bool set_number(double f) {
    *out_ = picojson::value(std::isfinite(f) ? f : std::copysign(DBL_MAX, f));
    return true;
  }
  bool parse_object_start() {
    if (depths_ == 0) return false;
    --depths_;
    *out_ = picojson::value(picojson::object_type, false);
    return true;
  }
  template <typename Iter>
  bool parse_array_item(picojson::input<Iter>& in, size_t) {
    picojson::array& items = out_->get<picojson::array>();
    items.emplace_back();
    SettingsParseContext item(&items.back(), depths_);
    return picojson::_parse(item, in);
  }
  template <typename Iter>
  bool parse_object_item(picojson::input<Iter>& in, const std::string& key) {
    SettingsParseContext item(&out_->get<picojson::object>()[key], depths_);
    return picojson::_parse(item, in);
  }
};

bool hasType(const picojson::value& value, SettingType type) {
  switch (type) {
    case SettingType::kNumber: return value.is<double>();
    case SettingType::kBoolean: return value.is<bool>();
    default: return value.is<std::string>();
  }
}

const char* typeName(SettingType type) {
  switch (type) {
    case SettingType::kNumber: return "a number";
    case SettingType::kBoolean: return "a boolean";
    default: return "a string";
  }
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

int32_t parseNumber(const std::string& text) { return parseDecimal(text).value; }

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
  for (int i = 0; i < argc && !anyOption; ++i) anyOption = findOption(argv[i]) != nullptr;
  if (!anyOption) return false;

  std::array<std::string, kSettings.size()> values;
  for (size_t i = 0; i < kSettings.size(); ++i) values[i] = kSettings[i].defaultText;
  // Names sit at odd positions, each followed by its value, taken unchanged
  // even when it looks like a name. A final name without a value is ignored,
  // so the option keeps what it had.
  auto warn = [&](const std::string& text) {
    if (warnings) warnings->push_back("warning: " + text);
  };
  for (int i = 1; i < argc; i += 2) {
    const Setting* setting = findOption(argv[i]);
    const std::string name = std::string("\"") + argv[i] + "\"";
    if (i + 1 == argc) {
      warn((setting ? "option " : "unknown option ") + name + " has no value; it was ignored");
    } else if (setting) {
      values[static_cast<size_t>(setting - kSettings.data())] = argv[i + 1];
    } else {
      const std::string value = std::string("\"") + argv[i + 1] + "\"";
      warn("unknown option " + name + "; it and the value " + value + " after it were skipped" +
           (findOption(argv[i + 1]) ? " (" + value + " is an option name: an argument before it is out of step)"
                                    : ""));
    }
  }
  for (size_t i = 0; i < kSettings.size(); ++i) storeText(settings, kSettings[i], values[i]);

  // The separator is appended before "\" becomes "/", so a folder written
  // with a trailing "\" ends in "//".
  ConversionSettings& s = settings;
  if (!s.outputpath.empty() && s.outputpath.back() != '/') s.outputpath += '/';
  s.outputpath = withForwardSlashes(s.outputpath);
  s.inputfile = withForwardSlashes(s.inputfile);
  return true;
}

// The JSON settings file: one object with the JSON keys of kSettings, e.g.
//   {"texture_width": 1024, "is_vtaeoutput": true, "sortmode": "RECTMAX",
//    "outputpath": "out/", "outputname": "hero", ...}
// Numbers are truncated to int32; every key must be present with its type.
Status ConversionSettings::readJsonSettings(const std::string& path) {
  const std::string file = withForwardSlashes(path);

  // The message says what and where; the text settings file is tried next.
  auto fail = [&](std::string reason) {
    errorText = std::move(reason);
    return Status::failure(Status::Code::kInvalid, errorText + file + "\n", "");
  };

  std::string text;
  bool truncated = false;
  if (!readFileHead(file, text, truncated)) return fail("failed to read :");
  if (truncated) return fail("settings file too large :");

  // The first value of the text is the document: what follows it is not read.
  picojson::value root;
  std::string syntaxError;
  SettingsParseContext context(&root, picojson::DEFAULT_MAX_DEPTHS);
  picojson::_parse(context, text.cbegin(), text.cend(), &syntaxError);
  if (!syntaxError.empty()) return fail(syntaxError);
  if (!root.is<picojson::object>()) return fail("settings are not a JSON object :");
  const picojson::object& keys = root.get<picojson::object>();
  for (const Setting& setting : kSettings) {
    if (!setting.jsonKey) continue;
    auto it = keys.find(setting.jsonKey);
    if (it == keys.end()) return fail(std::string("setting \"") + setting.jsonKey + "\" is missing :");
    if (!hasType(it->second, setting.type))
      return fail(std::string("setting \"") + setting.jsonKey + "\" is not " + typeName(setting.type) + " :");
  }

  for (const Setting& setting : kSettings) {
    if (!setting.jsonKey) continue;
    const picojson::value& value = keys.at(setting.jsonKey);
    switch (setting.type) {
      case SettingType::kNumber: this->*setting.number = truncateToInt32(value.get<double>()); break;
      case SettingType::kBoolean: this->*setting.flag = value.get<bool>(); break;
      default: storeText(*this, setting, value.get<std::string>()); break;
    }
  }
  return Status::ok();
}

// The text settings file: the output folder on the first line (at most 255
// characters; a longer line is cut there and nothing after it is read), then
// seventeen white-space separated words at the positions of the table:
//   width height padding-shape sortmode(0-3) add-priority vtae vtpj null ow
//   layer-pivot("yes") root old-pivot("yes") pack-padding padding-border
//   canvas-size inner-padding outputname
// A flag is set only by its exact word; a missing number reads as 0; a
// missing name leaves outputname as it was.
Status ConversionSettings::readTextSettings(const std::string& path) {
  std::string text;
  bool truncated = false;
  Status read = readFileHead(path, text, truncated);
  if (!read) return read;

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

  std::array<std::string, kTextWords> words;
  if (!lineTooLong)
    for (std::string& word : words) word = nextWord(text, pos);

  for (const Setting& setting : kSettings) {
    if (setting.textPosition == kNotInTextFile) continue;
    const std::string& value =
        setting.textPosition == kFirstLine ? firstLine : words[static_cast<size_t>(setting.textPosition - 1)];
    if (setting.type == SettingType::kBoolean) {
      if (value == setting.flagWord) this->*setting.flag = true;
    } else if (setting.type == SettingType::kSortMode) {
      this->*setting.number = parseNumber(value);  // the mode's number, not its name
    } else {
      storeText(*this, setting, value);
    }
  }
  return Status::ok();
}

}  // namespace korvex
