#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>

#include "config/settings.h"
#include "support/temp_dir.h"

namespace korvex {
namespace {

const char* const kFullJson = R"({
	"texture_width": 512.9,
	"texture_height": -256.7,
	"texture_padding_shape": 3,
	"pack_padding": 2,
	"add_priority": 10,
	"is_vtaeoutput": true,
	"is_vtpjoutput": true,
	"is_overwrite": false,
	"is_addnull": true,
	"is_layerPivotUse": true,
	"is_rootLayerUse": false,
	"is_oldPivotUse": true,
	"sortmode": "wmax",
	"padding_border": 5,
	"canvasSize": 1,
	"inner_padding": 1,
	"outputpath": "out/",
	"outputname": "hero",
	"unknown": [1, 2, 3]
}
)";

std::string replaced(std::string text, const std::string& from, const std::string& to) {
  size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

struct JsonRead {
  bool ok;
  ConversionSettings settings;
  std::string printed;
};

JsonRead readJson(const std::string& content, const test::TempDir& dir) {
  test::writeFile(dir.file("convert_info.json"), content);
  JsonRead r;
  r.settings.outputname = "derived";
  const Status status = r.settings.readJsonSettings(dir.file("convert_info.json"));
  r.ok = static_cast<bool>(status);
  r.printed = status.message();
  return r;
}

TEST(JsonSettings, EveryKeyIsReadAndNumbersAreTruncated) {
  test::TempDir dir;
  JsonRead r = readJson(kFullJson, dir);
  ASSERT_TRUE(r.ok) << r.printed;
  EXPECT_EQ(r.printed, "");
  const ConversionSettings& s = r.settings;
  EXPECT_EQ(s.texture_width, 512);
  EXPECT_EQ(s.texture_height, -256);
  EXPECT_EQ(s.texture_padding_shape, 3);
  EXPECT_EQ(s.pack_padding, 2);
  EXPECT_EQ(s.add_priority, 10);
  EXPECT_TRUE(s.is_vtaeoutput && s.is_vtpjoutput && s.is_addnull && s.is_layerPivotUse && s.is_oldPivotUse);
  EXPECT_FALSE(s.is_overwrite || s.is_rootLayerUse);
  EXPECT_EQ(s.sortmode, kSortWMax);
  EXPECT_EQ(s.padding_border, 5);
  EXPECT_EQ(s.canvasSize, 1);
  EXPECT_EQ(s.inner_padding, 1);
  EXPECT_EQ(s.outputpath, "out/");
  EXPECT_EQ(s.outputname, "hero");
}

TEST(JsonSettings, EmptyTextsAndOutOfRangeNumbers) {
  test::TempDir dir;
  std::string json = replaced(replaced(kFullJson, "\"hero\"", "\"\""), "\"out/\"", "\"\"");
  json = replaced(replaced(json, "512.9", "1e300"), "-256.7", "-99999999999");
  JsonRead r = readJson(json, dir);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.settings.outputname, "derived");  // an empty name keeps the derived one
  EXPECT_EQ(r.settings.outputpath, "");          // an empty folder is taken
  EXPECT_EQ(r.settings.texture_width, 2147483647);
  EXPECT_EQ(r.settings.texture_height, -2147483647 - 1);
}

TEST(JsonSettings, BackslashesInThePathAreSeparators) {
  test::TempDir dir;
  test::writeFile(dir.file("convert_info.json"), kFullJson);
  ConversionSettings s;
  std::string path = dir.file("convert_info.json");
  for (char& c : path) if (c == '/') c = '\\';
  EXPECT_TRUE(s.readJsonSettings(path));
  EXPECT_EQ(s.outputname, "hero");
}

TEST(JsonSettings, AMissingFileIsReportedWithItsPath) {
  test::TempDir dir;
  ConversionSettings s;
  const Status status = s.readJsonSettings(dir.file("none.json"));
  EXPECT_FALSE(status);
  EXPECT_EQ(status.message(), "failed to read :" + dir.file("none.json") + "\n");
  EXPECT_EQ(s.errorText, "failed to read :");
}

TEST(JsonSettings, SyntaxErrorsNameTheLineAndTheRestOfIt) {
  test::TempDir dir;
  JsonRead r = readJson("{\r\n\t\"texture_width\": 1,\r\n\t\"texture_height\": x2,\r\n}", dir);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.settings.errorText, "syntax error at line 3 near: x2,");
  EXPECT_EQ(r.printed, r.settings.errorText + dir.file("convert_info.json") + "\n");
  EXPECT_EQ(r.settings.texture_width, 0);  // untouched

  r = readJson("", dir);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.settings.errorText, "syntax error at line 1 near: ");

  // The rest starts at the byte the reader could not take, or just past one
  // it had already taken (an unknown escape, a number that does not read whole).
  const std::pair<const char*, const char*> cases[] = {
      {"not json", "ot json"},
      {"{\"a\":1 \"b\":2}", "\"b\":2}"},
      {"{\"a\":1,}", "}"},
      {"{\"a\": 1.2.3}", "}"},
      {"{\"a\": \"\\q\"}", "\"}"},
      {"{\"a\": \"\\ud800x\"}", "x\"}"},
      {"{'a': 1}", "'a': 1}"},
      {"{\"a\": \"x\ny\"}", ""},
  };
  for (const auto& [json, rest] : cases) {
    r = readJson(json, dir);
    EXPECT_FALSE(r.ok) << json;
    EXPECT_EQ(r.settings.errorText, std::string("syntax error at line 1 near: ") + rest) << json;
  }

  // Nesting no settings file has is refused, not followed down the stack.
  r = readJson(std::string(100000, '['), dir);
  EXPECT_FALSE(r.ok);
}

TEST(JsonSettings, DeepObjectsAndHugeNumbersInsideThemAreSafe) {
  test::TempDir dir;
  std::string deep;
  for (int i = 0; i < 100000; ++i) deep += "{\"a\":";
  EXPECT_FALSE(readJson(deep, dir).ok);  // objects count towards the nesting limit too

  // A number beyond any double, even inside an ignored key, is no exception.
  JsonRead r = readJson(replaced(kFullJson, "[1, 2, 3]", "[[-1e999], {\"x\": 1e999}]"), dir);
  EXPECT_TRUE(r.ok) << r.printed;
}

TEST(JsonSettings, TheFirstValueIsTheDocumentAndItsNumbersAreLenient) {
  test::TempDir dir;
  std::string json = replaced(kFullJson, "\"texture_height\": -256.7", "\"texture_height\": 01");
  json = replaced(json, "\"pack_padding\": 2", "\"pack_padding\": 2.");
  json = replaced(json, "\"canvasSize\": 1", "\"canvasSize\": 1e400");
  json = replaced(json, "\"hero\"", "\"h\\u00e9ro\\ud83d\\ude00\"");
  JsonRead r = readJson(json + "trailing text", dir);
  EXPECT_TRUE(r.ok) << r.printed;
  EXPECT_EQ(r.settings.texture_height, 1);
  EXPECT_EQ(r.settings.pack_padding, 2);
  EXPECT_EQ(r.settings.canvasSize, INT32_MAX);  // beyond any double: saturated
  EXPECT_EQ(r.settings.outputname, "h\xC3\xA9ro\xF0\x9F\x98\x80");
  EXPECT_EQ(r.printed, "");
}

TEST(JsonSettings, WrongShapesFallBackWithAReason) {
  test::TempDir dir;
  struct Case {
    std::string json;
    std::string reason;
  };
  const Case cases[] = {
      {"[1, 2]", "settings are not a JSON object :"},
      {"\"text\"", "settings are not a JSON object :"},
      {replaced(kFullJson, "\"canvasSize\": 1,", ""), "setting \"canvasSize\" is missing :"},
      {replaced(kFullJson, "\"texture_width\": 512.9", "\"texture_width\": \"512\""),
       "setting \"texture_width\" is not a number :"},
      {replaced(kFullJson, "\"is_overwrite\": false", "\"is_overwrite\": 0"),
       "setting \"is_overwrite\" is not a boolean :"},
      {replaced(kFullJson, "\"wmax\"", "2"), "setting \"sortmode\" is not a string :"},
      {replaced(kFullJson, "\"hero\"", "null"), "setting \"outputname\" is not a string :"},
  };
  for (const Case& c : cases) {
    JsonRead r = readJson(c.json, dir);
    EXPECT_FALSE(r.ok) << c.json;
    EXPECT_EQ(r.settings.errorText, c.reason);
    EXPECT_EQ(r.printed, c.reason + dir.file("convert_info.json") + "\n");
    EXPECT_EQ(r.settings.texture_padding_shape, 2);  // nothing taken from a rejected file
    EXPECT_EQ(r.settings.outputname, "derived");
  }
}

ConversionSettings readText(const std::string& content, bool* ok = nullptr) {
  test::TempDir dir;
  test::writeFile(dir.file("convert_info"), content);
  ConversionSettings s;
  s.outputname = "derived";
  const bool read = static_cast<bool>(s.readTextSettings(dir.file("convert_info")));
  if (ok) *ok = read;
  return s;
}

TEST(TextSettings, TheFolderLineAndSeventeenWords) {
  bool ok = false;
  ConversionSettings s = readText(
      "out dir/\r\n1024 512 3 2 10 vtae vtpj null ow yes root yes 2 6 1 4 hero\r\n", &ok);
  ASSERT_TRUE(ok);
  EXPECT_EQ(s.outputpath, "out dir/");
  EXPECT_EQ(s.texture_width, 1024);
  EXPECT_EQ(s.texture_height, 512);
  EXPECT_EQ(s.texture_padding_shape, 3);
  EXPECT_EQ(s.sortmode, 2);
  EXPECT_EQ(s.add_priority, 10);
  EXPECT_TRUE(s.is_vtaeoutput && s.is_vtpjoutput && s.is_addnull && s.is_overwrite &&
              s.is_layerPivotUse && s.is_rootLayerUse && s.is_oldPivotUse);
  EXPECT_EQ(s.pack_padding, 2);
  EXPECT_EQ(s.padding_border, 6);
  EXPECT_EQ(s.canvasSize, 1);
  EXPECT_EQ(s.inner_padding, 4);
  EXPECT_EQ(s.outputname, "hero");
}

TEST(TextSettings, FlagsMatchExactlyAndSortModeIsANumber) {
  ConversionSettings s = readText("\n0 0 2 7 1 VTAE - - OW no - Yes 1 4 0 0 name\n");
  EXPECT_FALSE(s.is_vtaeoutput || s.is_vtpjoutput || s.is_addnull || s.is_overwrite ||
               s.is_layerPivotUse || s.is_rootLayerUse || s.is_oldPivotUse);
  EXPECT_EQ(s.sortmode, 7);  // stored as written
  EXPECT_EQ(s.outputpath, "");
}

TEST(TextSettings, MissingWordsReadAsZeroAndLeaveTheRest) {
  bool ok = false;
  ConversionSettings s = readText("only/a/folder", &ok);
  EXPECT_TRUE(ok);
  EXPECT_EQ(s.outputpath, "only/a/folder");
  EXPECT_EQ(s.texture_padding_shape, 0);
  EXPECT_EQ(s.pack_padding, 0);
  EXPECT_EQ(s.padding_border, 0);
  EXPECT_EQ(s.add_priority, 0);
  EXPECT_EQ(s.sortmode, 0);
  EXPECT_FALSE(s.is_vtaeoutput);
  EXPECT_EQ(s.outputname, "derived");

  s = readText("f\n100 200 vtae");
  EXPECT_EQ(s.texture_width, 100);
  EXPECT_EQ(s.texture_height, 200);
  EXPECT_EQ(s.texture_padding_shape, 0);  // "vtae" is no number
  EXPECT_FALSE(s.is_vtaeoutput);          // and it was in the wrong position
}

TEST(TextSettings, AFirstLineBeyond255CharactersStopsTheReading) {
  std::string longLine(300, 'd');
  ConversionSettings s = readText(longLine + "\n1024 512 3 2 10 vtae vtpj null ow yes root yes 2 6 1 4 hero\n");
  EXPECT_EQ(s.outputpath, std::string(255, 'd'));
  EXPECT_EQ(s.texture_width, 0);
  EXPECT_FALSE(s.is_vtaeoutput);
  EXPECT_EQ(s.outputname, "derived");

  s = readText(std::string(255, 'e') + "\r\n64 32");
  EXPECT_EQ(s.outputpath, std::string(255, 'e'));
  EXPECT_EQ(s.texture_width, 64);
}

TEST(TextSettings, AMissingFileFailsWithTheSystemsReasonOnly) {
  test::TempDir dir;
  ConversionSettings s;
  const Status status = s.readTextSettings(dir.file("convert_info"));
  EXPECT_FALSE(status);
  EXPECT_EQ(status.message(), "");
  EXPECT_EQ(status.reason(), "cannot open " + dir.file("convert_info") + ": No such file or directory");
}

TEST(SettingsFiles, AFolderIsAMissingFile) {
  test::TempDir dir;
  std::filesystem::create_directory(dir.file("convert_info"));
  std::filesystem::create_directory(dir.file("convert_info.json"));
  ConversionSettings s;
  const Status json = s.readJsonSettings(dir.file("convert_info.json"));
  EXPECT_FALSE(json);
  EXPECT_EQ(json.message(), "failed to read :" + dir.file("convert_info.json") + "\n");
  const Status text = s.readTextSettings(dir.file("convert_info"));
  EXPECT_FALSE(text);
  EXPECT_EQ(text.reason(), dir.file("convert_info") + " is a folder, not a file");
}

}  // namespace
}  // namespace korvex
