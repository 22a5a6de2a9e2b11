#include "support/samples.h"

#include <filesystem>
#include <system_error>

namespace korvex::test {

std::string samplesFolder() { return KORVEX_SAMPLES_DIR; }

std::string missingSamplesMessage(const std::string& folder) {
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return {};
  return "the sample corpus " + folder + " is missing; the tests that read it are skipped";
}

}  // namespace korvex::test
