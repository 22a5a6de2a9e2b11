// Cell name validation: printable single-byte names, no two alike.
#pragma once

#include <string>
#include <vector>

namespace korvex {

// Checks `names` (UTF-8) in index order. Each name is character-tested
// (after conversion to Shift_JIS every byte must lie in 0x20..0x7E, else
// ERROR_0004), then compared with every later name (ERROR_0005 on the first
// equal pair). Prints the first finding and returns false; true when valid.
bool validateCellNames(const std::vector<std::string>& names);

}  // namespace korvex
