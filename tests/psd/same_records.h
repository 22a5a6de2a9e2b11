// Byte-for-byte comparison of two documents' records, for tests that read
// the same layers two ways (one thread or several, PSD or PSB, file or bytes).
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "psd/document.h"

namespace korvex::psd {

inline void expectSameRecords(const Document& a, const Document& b, const std::string& where) {
  ASSERT_EQ(a.layerRecords.size(), b.layerRecords.size()) << where;
  for (size_t i = 0; i < a.layerRecords.size(); ++i) {
    const LayerRecord& x = a.layerRecords[i];
    const LayerRecord& y = b.layerRecords[i];
    EXPECT_EQ(x.layerName, y.layerName) << where;
    EXPECT_EQ(x.unicodeName, y.unicodeName) << where;
    EXPECT_EQ(x.layerType, y.layerType) << where;
    EXPECT_EQ(x.fillColor, y.fillColor) << where;
    EXPECT_EQ(x.top, y.top) << where;
    EXPECT_EQ(x.left, y.left) << where;
    EXPECT_EQ(x.width, y.width) << where;
    EXPECT_EQ(x.height, y.height) << where;
    EXPECT_EQ(x.groupHeader, y.groupHeader) << where;
    EXPECT_TRUE(x.imageData == y.imageData) << where << ": pixels of record " << i;
    EXPECT_EQ(x.mask.data, y.mask.data) << where << ": mask of record " << i;
    EXPECT_EQ(x.mask.inverted, y.mask.inverted) << where;
  }
}

}  // namespace korvex::psd
