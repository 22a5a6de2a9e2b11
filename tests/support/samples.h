// The shared sample corpus: real PSD files from other programs, kept in
// ../shared/psd-samples beside the source tree. Only machines that carry the
// corpus (CI) run the tests that read it; everywhere else they skip, through
// KORVEX_SKIP_WITHOUT_SAMPLES, saying which folder is missing. A file missing
// inside a corpus that is there fails its test.
#pragma once

#include <gtest/gtest.h>

#include <string>

namespace korvex::test {

// The corpus folder this build was configured with.
std::string samplesFolder();

// Empty when `folder` is an existing folder; otherwise why the tests that
// need it skip, naming the folder.
std::string missingSamplesMessage(const std::string& folder);

}  // namespace korvex::test

// Skips the calling test when the sample corpus is missing, naming it.
#define KORVEX_SKIP_WITHOUT_SAMPLES()                                                                   \
  do {                                                                                                  \
    const std::string korvexMissingSamples = ::korvex::test::missingSamplesMessage(::korvex::test::samplesFolder()); \
    if (!korvexMissingSamples.empty()) GTEST_SKIP() << korvexMissingSamples;                            \
  } while (0)
