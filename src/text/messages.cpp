#include "text/messages.h"

#include <cstdarg>
#include <cstdio>
#include <map>
#include <utility>

#include "platform/platform.h"
#include "text/encoding.h"

namespace korvex {
namespace {

struct CatalogueEntry {
  const char* label;
  const char* jp;  // UTF-8; printed, in the console encoding
  const char* en;  // kept, never printed
};

// The message catalogue. The last three labels begin with "ERROT"; callers
// use them so.
constexpr CatalogueEntry kCatalogue[] = {
    {"INFO_0001", "テクスチャサイズを %d × %d にしてパッキングします。", "Pack with a texture size of %d x %d."},
    {"INFO_0002", "パッキングが成功しました。", "Packing was successful."},
    {"INFO_0003", "vtceファイルのコンバートが成功しました。", "vtce convert success!!: %s"},
    {"INFO_0004", "vtaeファイルのコンバートが成功しました。", "vtae convert success!!: %s"},
    {"INFO_0005", "vtpjファイルのコンバートが成功しました。", "vtpj convert success!!: %s"},
    {"WARNING_0001", "警告：セル間余白+セル内余白の値が1以下に指定されています。色もれが発生する可能性があります。",
     "Warning: The value of margin between cells + margin within the cell is specified as 1 or less. Color leakage may occur."},
    {"ERROR_0001", "エラー：情報ファイルのオープンに失敗しました。：%s", "Error: Failed to open the information file."},
    {"ERROR_0002", "エラー：情報ファイルの内容が正しくありません。：%s",
     "Error: The contents of the information file are incorrect. : %s"},
    {"ERROR_0003", "エラー：PSDファイルのオープンに失敗しました。：%s", "Error: Failed to open PSD file. : %s"},
    {"ERROR_0004", "エラー：セル名に全角文字が使用されています。: %s  ",
     "Error: Double - byte characters are used in the cell name. : %s"},
    {"ERROR_0005", "エラー：同名のセル名が使用されています。 : %s", "Error: The same cell name is used."},
    {"ERROR_0006", "エラー：セルマップに収まりません", "Error: does not fit in cell map"},
    {"ERROR_0007", "エラー：テクスチャの幅より大きいセルがあります。",
     "Error: There are cells larger than the width of the texture."},
    {"ERROR_0008", "エラー：テクスチャの高さより大きいセルがあります。",
     "Error: There are cells larger than the height of the texture."},
    {"ERROT_0009", "パッキングに失敗しました。", "Packing failed."},
    {"ERROT_0010", "設定情報(jsonファイル)の読み込みに失敗しました。", "failed to read test.json"},
    {"ERROT_0011", "コンバート情報のオープンに失敗しました", "Failed to open convert information file"},
};

// Label -> (Japanese text in the console encoding, English text).
std::map<std::string, std::pair<std::string, std::string>>& catalogue() {
  static std::map<std::string, std::pair<std::string, std::string>> loaded;
  return loaded;
}

// The formatted text is cut to what a 1,024-byte buffer holds when at most
// 1,023 bytes are offered to the formatter: 1,022 characters and the zero.
constexpr size_t kMessageBufferSize = 1024;
constexpr size_t kMessageFormatLimit = kMessageBufferSize - 1;

}  // namespace

void loadMessageCatalogue() {
  auto& loaded = catalogue();
  loaded.clear();
  for (const CatalogueEntry& entry : kCatalogue)
    loaded[entry.label] = {utf8ToConsole(entry.jp), entry.en};
}

namespace {

std::string formatMessageV(const char* label, std::va_list args) {
  const std::string& format = catalogue()[label].first;
  char buffer[kMessageBufferSize] = {};
  // The catalogue's own texts are the formats; callers pass matching arguments.
  std::vsnprintf(buffer, kMessageFormatLimit, format.c_str(), args);
  return std::string(buffer);
}

}  // namespace

std::string formatMessage(const char* label, ...) {
  std::va_list args;
  va_start(args, label);
  std::string text = formatMessageV(label, args);
  va_end(args);
  return text;
}

void printMessage(const char* label, ...) {
  std::va_list args;
  va_start(args, label);
  std::string text = formatMessageV(label, args);
  va_end(args);
  platform::writeConsole(text + "\n");
}

void printLine(const std::string& text) { platform::writeConsole(text + "\n"); }

}  // namespace korvex
