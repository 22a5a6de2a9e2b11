// The shared sample corpus: real PSD files from other programs, kept in
// ../shared/psd-samples beside the source tree. Only machines that carry the
// corpus (CI) run the tests that read it; everywhere else they skip.
#pragma once

#include <string>

namespace korvex::test {

// The corpus folder this build was configured with.
std::string samplesFolder();

// Empty when `folder` is an existing folder; otherwise why the tests that
// need it skip, naming the folder.
std::string missingSamplesMessage(const std::string& folder);

}  // namespace korvex::test
