#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "text/encoding.h"
#include "text/messages.h"

namespace korvex {
namespace {

std::string printed(void (*print)()) {
  testing::internal::CaptureStderr();
  print();
  return testing::internal::GetCapturedStderr();
}

class Messages : public testing::Test {
 protected:
  void SetUp() override { loadMessageCatalogue(); }
};

TEST_F(Messages, EveryLabelPrintsItsJapaneseTextExactly) {
  struct Expected {
    const char* label;
    const char* text;
  };
  const Expected expected[] = {
      {"INFO_0002", "パッキングが成功しました。\n"},
      {"INFO_0003", "vtceファイルのコンバートが成功しました。\n"},
      {"INFO_0004", "vtaeファイルのコンバートが成功しました。\n"},
      {"INFO_0005", "vtpjファイルのコンバートが成功しました。\n"},
      {"WARNING_0001", "警告：セル間余白+セル内余白の値が1以下に指定されています。色もれが発生する可能性があります。\n"},
      {"ERROR_0006", "エラー：セルマップに収まりません\n"},
      {"ERROR_0007", "エラー：テクスチャの幅より大きいセルがあります。\n"},
      {"ERROR_0008", "エラー：テクスチャの高さより大きいセルがあります。\n"},
      {"ERROT_0009", "パッキングに失敗しました。\n"},
      {"ERROT_0010", "設定情報(jsonファイル)の読み込みに失敗しました。\n"},
      {"ERROT_0011", "コンバート情報のオープンに失敗しました\n"},
  };
  for (const Expected& e : expected) {
    testing::internal::CaptureStderr();
    printMessage(e.label);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), e.text) << e.label;
  }
  // Texts without placeholders ignore any argument.
  testing::internal::CaptureStderr();
  printMessage("INFO_0003", "out/x.vtce");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "vtceファイルのコンバートが成功しました。\n");
}

TEST_F(Messages, PlaceholdersAreFilled) {
  EXPECT_EQ(printed([] { printMessage("INFO_0001", 1024, 512); }),
            "テクスチャサイズを 1024 × 512 にしてパッキングします。\n");
  EXPECT_EQ(printed([] { printMessage("ERROR_0001", "dir/info.txt"); }),
            "エラー：情報ファイルのオープンに失敗しました。：dir/info.txt\n");
  EXPECT_EQ(printed([] { printMessage("ERROR_0002", "dir/info.txt"); }),
            "エラー：情報ファイルの内容が正しくありません。：dir/info.txt\n");
  EXPECT_EQ(printed([] { printMessage("ERROR_0003", "C:/x.psd"); }),
            "エラー：PSDファイルのオープンに失敗しました。：C:/x.psd\n");
  EXPECT_EQ(printed([] { printMessage("ERROR_0004", "arm\t1"); }),
            "エラー：セル名に全角文字が使用されています。: arm\t1  \n");
  EXPECT_EQ(printed([] { printMessage("ERROR_0005", "arm"); }),
            "エラー：同名のセル名が使用されています。 : arm\n");
}

TEST_F(Messages, UnknownLabelsPrintAnEmptyLine) {
  EXPECT_EQ(printed([] { printMessage("error_0003", "x"); }), "\n");
  EXPECT_EQ(printed([] { printMessage("ERROR_0009"); }), "\n");
}

TEST_F(Messages, LongTextIsCutTo1022Bytes) {
  static const std::string longPath(5000, 'p');
  std::string out = printed([] { printMessage("ERROR_0003", longPath.c_str()); });
  ASSERT_EQ(out.size(), 1023u);
  EXPECT_EQ(out.back(), '\n');
  EXPECT_EQ(out.compare(0, 3, "エ"), 0);
  EXPECT_EQ(out[1021], 'p');
}

TEST_F(Messages, CatalogueFollowsTheConsoleEncoding) {
  const char* old = std::getenv("LC_ALL");
  std::string saved = old ? old : "";
  setenv("LC_ALL", "ja_JP.SJIS", 1);
  loadMessageCatalogue();
  std::string out = printed([] { printMessage("ERROR_0003", "\x83\x41.psd"); });
  if (old) setenv("LC_ALL", saved.c_str(), 1);
  else unsetenv("LC_ALL");
  loadMessageCatalogue();
  EXPECT_EQ(out, utf8ToSjis("エラー：PSDファイルのオープンに失敗しました。：") + "\x83\x41.psd\n");
  EXPECT_EQ(printed([] { printMessage("INFO_0001", 1, 2); }),
            "テクスチャサイズを 1 × 2 にしてパッキングします。\n");
}

TEST(MessagesLines, PrintLineAddsALineEnd) {
  testing::internal::CaptureStderr();
  printLine("exec load json \n");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "exec load json \n\n");
}

}  // namespace
}  // namespace korvex
