// Cell name validation: printable single-byte names, no two alike.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace korvex {

// Checks `names` (UTF-8) in index order. Each name is character-tested
// (after conversion to Shift_JIS every byte must lie in 0x20..0x7E, else
// ERROR_0004), then compared with every later name (ERROR_0005 on the first
// equal pair). The first finding comes back as a failure with its message.
Status validateCellNames(const std::vector<std::string>& names);

}  // namespace korvex
