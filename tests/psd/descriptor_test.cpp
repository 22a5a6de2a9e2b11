// The descriptor parser on hand-built bytes: every value type, the lookup
// helpers, and damaged input (truncation at every byte, bad counts, deep
// nesting, unknown types) giving an error rather than a crash.
#include "psd/descriptor.h"

#include <gtest/gtest.h>

#include <string>

#include "support/descriptor_bytes.h"

namespace korvex::psd {
namespace {

using test::Bytes;

bool parse(const std::string& bytes, DescriptorValue& out, std::string& error) {
  ByteReader c(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  return readVersionedDescriptor(c, out, error);
}

// A tree with every value type, nested objects and lists.
std::string everyType() {
  Bytes b;
  b.u32(16).unicode(u"Fill", true).id("null").u32(12);
  b.item("Clr ", "Objc").object("RGBC", 3);
  b.item("Rd  ", "doub").f64(254.6);
  b.item("Grn ", "long").u32(17);
  b.item("Bl  ", "UntF").raw("#Prc").f64(-3.5);
  b.item("Md  ", "enum").id("BlnM").id("Mltp");
  b.item("enab", "bool").u8(1);
  b.item("Nm  ", "TEXT").unicode(u"F\u00fcll \u2713", true);
  b.item("layerFXVisible", "bool").u8(0);
  b.item("big ", "comp").u64(static_cast<uint64_t>(-5000000000LL));
  b.item("Lst ", "VlLs").u32(3);
  b.raw("doub").f64(1.25);
  b.raw("Objc").object("Pnt ", 1).item("Hrzn", "UntF").raw("#Pxl").f64(12);
  b.raw("VlLs").u32(1).raw("TEXT").unicode(u"in");
  b.item("Crv ", "UnFl").raw("#Pxl").u32(2).f64(0.5).f64(7);
  b.item("Dt  ", "tdta").u32(3).raw("abc");
  b.item("Cls ", "type").unicode(u"").id("Grdn");
  b.item("Arr ", "ObAr").u32(2).object("rationalPoint", 1).item("Hrzn", "UnFl").raw("#Pxl").u32(2).f64(1).f64(2);
  b.item("Ref ", "obj ").u32(3);
  b.raw("Enmr").unicode(u"").id("Lyr ").id("Ordn").id("Trgt");
  b.raw("indx").u32(4);
  b.raw("prop").unicode(u"").id("Prpr").id("Lefx");
  return b.s;
}

TEST(Descriptor, ReadsEveryTypeIntoATree) {
  DescriptorValue d;
  std::string error;
  ASSERT_TRUE(parse(everyType(), d, error)) << error;
  EXPECT_EQ(d.kind, DescriptorKind::kObject);
  EXPECT_EQ(d.classId, "null");
  EXPECT_EQ(d.text, u"Fill");  // the trailing NUL dropped
  ASSERT_EQ(d.children.size(), 12u);

  const DescriptorValue* clr = d.find("Clr ");
  ASSERT_NE(clr, nullptr);
  EXPECT_EQ(clr->classId, "RGBC");
  EXPECT_DOUBLE_EQ(clr->number("Rd  "), 254.6);
  EXPECT_DOUBLE_EQ(clr->number("Grn "), 17);
  EXPECT_DOUBLE_EQ(clr->number("Bl  "), -3.5);
  EXPECT_EQ(clr->find("Bl  ")->unit, "#Prc");

  EXPECT_EQ(d.enumValue("Md  "), "Mltp");
  EXPECT_EQ(d.find("Md  ")->classId, "BlnM");
  EXPECT_TRUE(d.boolean("enab"));
  EXPECT_FALSE(d.boolean("layerFXVisible", true));
  EXPECT_EQ(d.string("Nm  "), u"F\u00fcll \u2713");
  EXPECT_DOUBLE_EQ(d.number("big "), -5000000000.0);

  const auto& list = d.list("Lst ");
  ASSERT_EQ(list.size(), 3u);
  EXPECT_EQ(list[0].kind, DescriptorKind::kDouble);
  EXPECT_DOUBLE_EQ(list[0].value, 1.25);
  EXPECT_TRUE(list[0].key.empty());
  EXPECT_DOUBLE_EQ(list[1].number("Hrzn"), 12);
  ASSERT_EQ(list[2].list().size(), 1u);
  EXPECT_EQ(list[2].list()[0].text, u"in");

  const DescriptorValue* crv = d.find("Crv ");
  ASSERT_NE(crv, nullptr);
  EXPECT_EQ(crv->kind, DescriptorKind::kUnitFloats);
  EXPECT_EQ(crv->numbers, (std::vector<double>{0.5, 7}));
  EXPECT_EQ(d.find("Dt  ")->data, (std::vector<uint8_t>{'a', 'b', 'c'}));
  EXPECT_EQ(d.find("Cls ")->classId, "Grdn");

  const DescriptorValue* arr = d.find("Arr ");
  ASSERT_NE(arr, nullptr);
  EXPECT_EQ(arr->kind, DescriptorKind::kObjectArray);
  EXPECT_DOUBLE_EQ(arr->value, 2);
  EXPECT_EQ(arr->classId, "rationalPoint");
  EXPECT_EQ(arr->find("Hrzn")->numbers, (std::vector<double>{1, 2}));

  const DescriptorValue* ref = d.find("Ref ");
  ASSERT_NE(ref, nullptr);
  ASSERT_EQ(ref->children.size(), 3u);
  EXPECT_EQ(ref->children[0].key, "Enmr");
  EXPECT_EQ(ref->children[0].id, "Trgt");
  EXPECT_DOUBLE_EQ(ref->children[1].value, 4);
  EXPECT_EQ(ref->children[2].id, "Lefx");
}

TEST(Descriptor, HelpersFallBackOnMissingKeysAndOtherTypes) {
  DescriptorValue d;
  std::string error;
  ASSERT_TRUE(parse(everyType(), d, error)) << error;
  EXPECT_EQ(d.find("none"), nullptr);
  EXPECT_DOUBLE_EQ(d.number("none", 42), 42);
  EXPECT_DOUBLE_EQ(d.number("Nm  ", 7), 7);      // TEXT holds no number
  EXPECT_DOUBLE_EQ(d.number("enab", 7), 1);      // a bool counts as 0 or 1
  EXPECT_EQ(d.enumValue("enab"), "");
  EXPECT_TRUE(d.boolean("Nm  ", true));
  EXPECT_EQ(d.string("Md  "), u"");
  EXPECT_TRUE(d.list("Clr ").empty());
  EXPECT_TRUE(d.list("none").empty());
}

TEST(Descriptor, TruncationAtEveryByteIsAnError) {
  const std::string full = everyType();
  for (size_t size = 0; size < full.size(); ++size) {
    DescriptorValue d;
    std::string error;
    EXPECT_FALSE(parse(full.substr(0, size), d, error)) << size;
    EXPECT_NE(error.find("descriptor"), std::string::npos) << size << ": " << error;
  }
}

TEST(Descriptor, RejectsDamagedHeadsCountsAndTypes) {
  struct Case {
    const char* what;
    std::string bytes;
    const char* reason;
  };
  const Case cases[] = {
      {"version", Bytes().u32(15).object("null", 0).s, "version 15"},
      {"item count", Bytes().u32(16).object("null", 0xFFFFFFFFu).s, "item count 4294967295"},
      {"list count", Bytes().u32(16).object("null", 1).item("Lst ", "VlLs").u32(1000).raw("bool").u8(1).s,
       "list count 1000"},
      {"unit float count", Bytes().u32(16).object("null", 1).item("Crv ", "UnFl").raw("#Pxl").u32(3).f64(1).f64(2).s,
       "unit float count 3"},
      {"text length", Bytes().u32(16).object("null", 1).item("Nm  ", "TEXT").u32(0x80000000u).s, "Unicode string"},
      {"ID length", Bytes().u32(16).unicode(u"").u32(0x7FFFFFFFu).s, "ID of 2147483647 bytes"},
      {"unknown type", Bytes().u32(16).object("null", 1).item("x   ", "what").u32(0).s, "unknown type 'what'"},
      {"reference form", Bytes().u32(16).object("null", 1).item("Ref ", "ref ").u32(1).raw("huh?").u32(0).s,
       "unknown reference form 'huh?'"},
      {"raw length", Bytes().u32(16).object("null", 1).item("Dt  ", "tdta").u32(10).raw("abc").s, "raw data"},
  };
  for (const Case& c : cases) {
    DescriptorValue d;
    std::string error;
    EXPECT_FALSE(parse(c.bytes, d, error)) << c.what;
    EXPECT_NE(error.find(c.reason), std::string::npos) << c.what << ": " << error;
  }
}

TEST(Descriptor, CapsNesting) {
  // Lists inside lists: the cap's depth parses, one more level does not.
  auto nested = [](int levels) {
    Bytes b;
    b.u32(16).object("null", 1).item("Lst ", "VlLs");
    for (int i = 1; i < levels; ++i) b.u32(1).raw("VlLs");
    b.u32(0);
    return b.s;
  };
  DescriptorValue d;
  std::string error;
  EXPECT_TRUE(parse(nested(kMaxDescriptorDepth), d, error)) << error;
  EXPECT_FALSE(parse(nested(kMaxDescriptorDepth + 1), d, error));
  EXPECT_NE(error.find("nested deeper"), std::string::npos) << error;
  EXPECT_FALSE(parse(nested(100000), d, error));
}

TEST(Descriptor, LeavesTheReaderAfterTheDescriptor) {
  const std::string bytes = Bytes().u32(16).object("null", 1).item("enab", "bool").u8(1).raw("tail").s;
  ByteReader c(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  DescriptorValue d;
  std::string error;
  ASSERT_TRUE(readVersionedDescriptor(c, d, error)) << error;
  std::string rest;
  ASSERT_TRUE(c.key(rest));
  EXPECT_EQ(rest, "tail");
  EXPECT_EQ(c.remaining(), 0u);
}

}  // namespace
}  // namespace korvex::psd
