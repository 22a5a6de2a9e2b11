#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "text/encoding.h"

namespace korvex {
namespace {

using namespace std::string_literals;

// "日本語" in UTF-8 and in Shift_JIS.
const std::string kJapaneseUtf8 = "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E";
const std::string kJapaneseSjis = "\x93\xFA\x96\x7B\x8C\xEA";

TEST(Encoding, JapaneseRoundTripsBetweenShiftJisAndUtf8) {
  EXPECT_EQ(sjisToUtf8(kJapaneseSjis), kJapaneseUtf8);
  EXPECT_EQ(utf8ToSjis(kJapaneseUtf8), kJapaneseSjis);
  EXPECT_EQ(utf8ToSjis(sjisToUtf8(kJapaneseSjis)), kJapaneseSjis);
  // Half-width katakana is one byte in Shift_JIS.
  EXPECT_EQ(utf8ToSjis("\xEF\xBD\xB1"), "\xB1");
  // The multiplication sign of the catalogue, and CP932's backslash and tilde.
  EXPECT_EQ(utf8ToSjis("\xC3\x97"), "\x81\x7E");
  EXPECT_EQ(utf8ToSjis("\\~"), "\\~");
}

TEST(Encoding, EmptyAndAsciiTextPassUnchanged) {
  for (const std::string& text : {""s, "arm_01 + root"s, "C:/out/x.psd"s}) {
    EXPECT_EQ(sjisToUtf8(text), text);
    EXPECT_EQ(utf8ToSjis(text), text);
    std::string utf8 = "stale";
    ASSERT_TRUE(wideToUtf8(std::u16string(text.begin(), text.end()), utf8));
    EXPECT_EQ(utf8, text);
  }
}

TEST(Encoding, TextEndsAtAnEmbeddedZeroByte) {
  EXPECT_EQ(utf8ToSjis("ab\0" "cd"s), "ab");
  EXPECT_EQ(sjisToUtf8(kJapaneseSjis + "\0"s + kJapaneseSjis), kJapaneseUtf8);
}

TEST(Encoding, UnconvertibleCharactersBecomeSubstitutes) {
  // An emoji has no Shift_JIS form, nor has a stray UTF-8 byte: both become
  // the two-byte substitute, which no cell name may contain.
  EXPECT_EQ(utf8ToSjis("a\xF0\x9F\x98\x80" "b"), "a\xFC\xFC" "b");
  EXPECT_EQ(utf8ToSjis("a\xFF" "b"), "a\xFC\xFC" "b");
  // A byte that starts no Shift_JIS character becomes the substitute control.
  EXPECT_EQ(sjisToUtf8("a\xFF"), "a\x1A");
}

TEST(Encoding, WideToUtf8RejectsUnpairedSurrogates) {
  std::string utf8;
  ASSERT_TRUE(wideToUtf8(u"\u65E5\u672C\U0001F600", utf8));
  EXPECT_EQ(utf8, "\xE6\x97\xA5\xE6\x9C\xAC\xF0\x9F\x98\x80");
  EXPECT_FALSE(wideToUtf8(std::u16string(u"a") + char16_t(0xD800), utf8));
  EXPECT_FALSE(wideToUtf8(std::u16string(1, char16_t(0xDC00)) + u"b", utf8));
}

// Sets LC_ALL for one scope.
class ScopedLocaleName {
 public:
  explicit ScopedLocaleName(const char* value) {
    const char* old = std::getenv("LC_ALL");
    had_ = old != nullptr;
    if (had_) old_ = old;
    setenv("LC_ALL", value, 1);
  }
  ~ScopedLocaleName() {
    if (had_) setenv("LC_ALL", old_.c_str(), 1);
    else unsetenv("LC_ALL");
  }

 private:
  bool had_ = false;
  std::string old_;
};

TEST(Encoding, ConsoleTakesShiftJisOnlyUnderAShiftJisLocale) {
  const std::string sjisLayerName = "\x83\x41\x81\x5B\x83\x80";  // "アーム"
  for (const char* locale : {"ja_JP.SJIS", "ja_JP.Shift_JIS", "ja_JP.CP932", "ja_JP.sjis@x"}) {
    ScopedLocaleName scoped(locale);
    EXPECT_EQ(utf8ToConsole(kJapaneseUtf8), kJapaneseSjis) << locale;
    EXPECT_EQ(sjisToConsole(sjisLayerName), sjisLayerName) << locale;
    EXPECT_EQ(consoleToUtf8(kJapaneseSjis), kJapaneseUtf8) << locale;
  }
  for (const char* locale : {"C", "POSIX", "C.UTF-8", "ja_JP.UTF-8", "ja_JP.eucJP"}) {
    ScopedLocaleName scoped(locale);
    EXPECT_EQ(utf8ToConsole(kJapaneseUtf8), kJapaneseUtf8) << locale;
    EXPECT_EQ(sjisToConsole(sjisLayerName), "\xE3\x82\xA2\xE3\x83\xBC\xE3\x83\xA0") << locale;
    EXPECT_EQ(consoleToUtf8(kJapaneseUtf8), kJapaneseUtf8) << locale;
  }
}

TEST(Encoding, PathSeparatorsSkipTheSecondByteOfShiftJisCharacters) {
  // "ソ" is 0x83 0x5C in Shift_JIS: its second byte is the code of "\\".
  const std::string so = "\x83\x5C";
  {
    ScopedLocaleName scoped("ja_JP.SJIS");
    EXPECT_EQ(withForwardSlashes("a\\" + so + "\\b" + so), "a/" + so + "/b" + so);
    EXPECT_EQ(lastPathSeparator("dir\\" + so + ".psd"), 3u);
    EXPECT_EQ(lastPathSeparator(so + ".psd"), std::string::npos);
    EXPECT_EQ(lastPathSeparator("a/b\\c"), 3u);
    // A lead byte at the very end has no second byte to skip.
    EXPECT_EQ(withForwardSlashes("a\\\x83"), "a/\x83");
  }
  ScopedLocaleName scoped("C.UTF-8");
  EXPECT_EQ(withForwardSlashes("a\\b\\"), "a/b/");
  EXPECT_EQ(lastPathSeparator("a\\b/c"), 3u);
  EXPECT_EQ(lastPathSeparator("\xE3\x82\xBD.psd"), std::string::npos);
  EXPECT_EQ(lastPathSeparator(""), std::string::npos);
}

}  // namespace
}  // namespace korvex
