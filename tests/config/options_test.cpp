#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/settings.h"

namespace korvex {
namespace {

// Runs parseOptions on "korvex" followed by `args`.
struct Parsed {
  bool commandLine;
  ConversionSettings settings;
};

Parsed parse(std::vector<std::string> args) {
  args.insert(args.begin(), "/usr/bin/korvex");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  Parsed p;
  p.settings.outputname = "untouched";
  p.commandLine = parseOptions(p.settings, static_cast<int>(argv.size()), argv.data());
  return p;
}

TEST(Options, NotCommandLineModeWithoutAnOptionName) {
  EXPECT_FALSE(parse({"--inputfile"}).commandLine);       // count 2
  EXPECT_FALSE(parse({"art.psd"}).commandLine);
  EXPECT_FALSE(parse({"a.psd", "b.psd"}).commandLine);
  EXPECT_FALSE(parse({"a.psd", "--Inputfile", "x"}).commandLine);  // names are case-sensitive
  Parsed p = parse({"a.psd", "b.psd", "c"});
  EXPECT_EQ(p.settings.outputname, "untouched");
  EXPECT_EQ(p.settings.texture_padding_shape, 2);
}

TEST(Options, OnlyAnInputFileKeepsEveryDefault) {
  Parsed p = parse({"--inputfile", "dir\\art.psd"});
  ASSERT_TRUE(p.commandLine);
  const ConversionSettings& s = p.settings;
  EXPECT_EQ(s.texture_width, 0);
  EXPECT_EQ(s.texture_height, 0);
  EXPECT_EQ(s.texture_padding_shape, 2);
  EXPECT_EQ(s.pack_padding, 1);
  EXPECT_EQ(s.add_priority, 1);
  EXPECT_FALSE(s.is_vtaeoutput || s.is_vtpjoutput || s.is_overwrite || s.is_addnull ||
               s.is_layerPivotUse || s.is_rootLayerUse || s.is_oldPivotUse || s.json);
  EXPECT_EQ(s.sortmode, kSortRectMax);
  EXPECT_EQ(s.padding_border, 4);
  EXPECT_EQ(s.canvasSize, 0);
  EXPECT_EQ(s.inner_padding, 0);
  EXPECT_EQ(s.outputpath, "");
  EXPECT_EQ(s.outputname, "untouched");
  EXPECT_EQ(s.inputfile, "dir/art.psd");
}

TEST(Options, EveryShortAndLongNameFillsItsField) {
  const std::vector<std::vector<std::string>> spellings = {
      {"-TW", "11", "-TH", "12", "-PS", "13", "-PP", "14", "-AP", "15", "-OA", "true", "-OP", "TRUE",
       "-OW", "true", "-AN", "true", "-UP", "true", "-UR", "true", "-UO", "true", "-SO", "hmax",
       "-PB", "16", "-CS", "17", "-PI", "18", "-O", "out", "-ON", "name", "-I", "in.psd", "-J", "true"},
      {"--texture_width", "11", "--texture_height", "12", "--pading_shape", "13", "--pack_padding", "14",
       "--add_priority", "15", "--out_vtae", "true", "--out_vtpj", "TRUE", "--overwrite", "true",
       "--add_null", "true", "--use_layer_pivot", "true", "--use_layer_root", "true", "--use_oldpivot",
       "true", "--sortmode", "hmax", "--padding_border", "16", "--canvas_size", "17", "--padding_innner",
       "18", "--outputpath", "out", "--outputname", "name", "--inputfile", "in.psd", "--json", "true"},
  };
  for (const auto& args : spellings) {
    Parsed p = parse(args);
    ASSERT_TRUE(p.commandLine);
    const ConversionSettings& s = p.settings;
    EXPECT_EQ(s.texture_width, 11);
    EXPECT_EQ(s.texture_height, 12);
    EXPECT_EQ(s.texture_padding_shape, 13);
    EXPECT_EQ(s.pack_padding, 14);
    EXPECT_EQ(s.add_priority, 15);
    EXPECT_TRUE(s.is_vtaeoutput && s.is_vtpjoutput && s.is_overwrite && s.is_addnull &&
                s.is_layerPivotUse && s.is_rootLayerUse && s.is_oldPivotUse && s.json);
    EXPECT_EQ(s.sortmode, kSortHMax);
    EXPECT_EQ(s.padding_border, 16);
    EXPECT_EQ(s.canvasSize, 17);
    EXPECT_EQ(s.inner_padding, 18);
    EXPECT_EQ(s.outputpath, "out/");
    EXPECT_EQ(s.outputname, "name");
    EXPECT_EQ(s.inputfile, "in.psd");
  }
  // The conventional spellings are not the option names.
  EXPECT_EQ(parse({"--padding_shape", "9", "--padding_inner", "9", "-I", "x"}).settings.texture_padding_shape, 2);
  EXPECT_EQ(parse({"--padding_shape", "9", "--padding_inner", "9", "-I", "x"}).settings.inner_padding, 0);
}

TEST(Options, TheLaterOfTwoNamesForOneOptionWins) {
  EXPECT_EQ(parse({"-TW", "1024", "--texture_width", "2048"}).settings.texture_width, 2048);
  EXPECT_EQ(parse({"--texture_width", "2048", "-TW", "1024"}).settings.texture_width, 1024);
}

TEST(Options, ValuesAreTakenUnchangedEvenWhenTheyLookLikeNames) {
  Parsed p = parse({"-ON", "-TW", "-TH", "5"});
  EXPECT_EQ(p.settings.outputname, "-TW");
  EXPECT_EQ(p.settings.texture_height, 5);
  EXPECT_EQ(p.settings.texture_width, 0);
}

TEST(Options, BooleansAndSortModesAreExact) {
  EXPECT_FALSE(parse({"--overwrite", "True"}).settings.is_overwrite);
  EXPECT_FALSE(parse({"--overwrite", "1"}).settings.is_overwrite);
  EXPECT_TRUE(parse({"--overwrite", "true"}).settings.is_overwrite);
  EXPECT_EQ(parse({"--sortmode", "wmax"}).settings.sortmode, kSortWMax);
  EXPECT_EQ(parse({"--sortmode", "WMAX"}).settings.sortmode, kSortWMax);
  EXPECT_EQ(parse({"--sortmode", "Wmax"}).settings.sortmode, kSortByName);
  EXPECT_EQ(parse({"--sortmode", "rectmax"}).settings.sortmode, kSortRectMax);
  EXPECT_EQ(parse({"--sortmode", "NAME"}).settings.sortmode, kSortByName);
}

TEST(Options, OutputPathGetsOneSeparatorAndForwardSlashes) {
  EXPECT_EQ(parse({"--outputpath", "C:/out"}).settings.outputpath, "C:/out/");
  EXPECT_EQ(parse({"--outputpath", "out/"}).settings.outputpath, "out/");
  EXPECT_EQ(parse({"--outputpath", "C:\\out"}).settings.outputpath, "C:/out/");
  // The separator test comes before "\" turns into "/".
  EXPECT_EQ(parse({"--outputpath", "C:\\out\\"}).settings.outputpath, "C:/out//");
  EXPECT_EQ(parse({"--outputpath", "", "-I", "x"}).settings.outputpath, "");
  EXPECT_EQ(parse({"--inputfile", "a\\b/c.psd"}).settings.inputfile, "a/b/c.psd");
}

TEST(Options, AnEmptyOutputNameKeepsTheDerivedName) {
  EXPECT_EQ(parse({"--outputname", "", "-I", "x.psd"}).settings.outputname, "untouched");
}

TEST(Options, APlainPathBeforeTheOptionsShiftsThePairs) {
  // "art.psd" and "-TW" are skipped as a pair; "512" is then read as a name.
  Parsed p = parse({"art.psd", "-TW", "512", "-TH", "256", "-PB"});
  ASSERT_TRUE(p.commandLine);
  EXPECT_EQ(p.settings.texture_width, 0);
  EXPECT_EQ(p.settings.texture_height, 0);
  EXPECT_EQ(p.settings.padding_border, 4);
}

TEST(Options, AFinalNameWithoutValueIsIgnored) {
  Parsed p = parse({"-I", "x.psd", "-PP"});
  ASSERT_TRUE(p.commandLine);
  EXPECT_EQ(p.settings.pack_padding, 1);
  EXPECT_EQ(parse({"-PP", "7", "-I", "x.psd", "-PP"}).settings.pack_padding, 7);
}

TEST(Options, NumbersFollowTheLeadingDigitsAndSaturate) {
  EXPECT_EQ(parseNumber("512"), 512);
  EXPECT_EQ(parseNumber("  \t-12px"), -12);
  EXPECT_EQ(parseNumber("+7"), 7);
  EXPECT_EQ(parseNumber("px12"), 0);
  EXPECT_EQ(parseNumber(""), 0);
  EXPECT_EQ(parseNumber("-"), 0);
  EXPECT_EQ(parseNumber("2147483647"), 2147483647);
  EXPECT_EQ(parseNumber("2147483648"), 2147483647);
  EXPECT_EQ(parseNumber("-2147483648"), -2147483647 - 1);
  EXPECT_EQ(parseNumber("99999999999999999999999999"), 2147483647);
  EXPECT_EQ(parseNumber("-99999999999999999999999999"), -2147483647 - 1);
  EXPECT_EQ(parse({"-TW", "4294967296"}).settings.texture_width, 2147483647);
}

}  // namespace
}  // namespace korvex
