#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "text/cell_names.h"
#include "text/messages.h"

namespace korvex {
namespace {

using namespace std::string_literals;

struct Outcome {
  bool valid;
  std::string printed;
};

Outcome validate(const std::vector<std::string>& names) {
  loadMessageCatalogue();
  const Status status = validateCellNames(names);
  return {static_cast<bool>(status), status.message()};
}

const std::string kCharacterError = "エラー：セル名に全角文字が使用されています。: ";
const std::string kDuplicateError = "エラー：同名のセル名が使用されています。 : ";

TEST(CellNames, PrintableSingleByteUniqueNamesPass) {
  EXPECT_TRUE(validate({}).valid);
  Outcome o = validate({"arm", "Arm", "arm 1", "+hand", "root", "~!@#$%^&*()_{}|:<>?`-=[];',./\\\""});
  EXPECT_TRUE(o.valid);
  EXPECT_EQ(o.printed, "");
  EXPECT_TRUE(validate({""}).valid);
}

TEST(CellNames, NonPrintableOrMultiByteCharactersFail) {
  EXPECT_EQ(validate({"arm", "arm\t1"}).printed, kCharacterError + "arm\t1  \n");
  EXPECT_EQ(validate({"del\x7F"}).printed, kCharacterError + "del\x7F  \n");
  // Japanese, half-width katakana, a character with no Shift_JIS form, and
  // a stray byte that is no UTF-8 at all.
  for (const std::string& name : {"腕"s, "\xEF\xBD\xB1"s, "\xF0\x9F\x98\x80"s, "a\xFF"s}) {
    Outcome o = validate({name});
    EXPECT_FALSE(o.valid);
    EXPECT_EQ(o.printed, kCharacterError + name + "  \n");
  }
}

TEST(CellNames, TheCharacterTestStopsAtAZeroByte) {
  EXPECT_TRUE(validate({"ok\0\x01"s}).valid);
}

TEST(CellNames, DuplicatesAreFoundBeforeLaterNamesAreTested) {
  Outcome o = validate({"a", "腕", "a"});
  EXPECT_FALSE(o.valid);
  EXPECT_EQ(o.printed, kDuplicateError + "a\n");
  EXPECT_EQ(validate({"b", "腕", "a", "a"}).printed, kCharacterError + "腕  \n");
  EXPECT_EQ(validate({"", "x", ""}).printed, kDuplicateError + "\n");
  EXPECT_EQ(validate({"x", "y", "y", "x"}).printed, kDuplicateError + "x\n");
}

}  // namespace
}  // namespace korvex
