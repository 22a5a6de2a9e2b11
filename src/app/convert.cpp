#include "app/convert.h"

namespace korvex {
// Stub: replaced by the driver.
bool ConvertToVT::runConversion(int, const char* const[]) { return false; }
void ConvertToVT::setInputPath(const std::string&) {}
int runKorvex(int argc, const char* const[]) { return argc <= 1 ? 255 : 1; }
}  // namespace korvex
