// The three editor documents: cell map (.vtce), animation pack (.vtae) and
// project (.vtpj). Each is made from its template (templates.h), filled and
// replaces its file atomically; false, with an error printed and no success
// message, when it cannot be made or saved (the previous file then stays).
// Texts taken from the settings (the output name) are in the console
// encoding and are written as UTF-8.
#pragma once

#include <string>

#include <tinyxml2.h>

#include "config/settings.h"
#include "config/user_folder.h"
#include "image/cell_image.h"
#include "documents/prev_cell_map.h"
#include "pack/texture_pack.h"

namespace korvex {

// Writes the cell map; moves each ordinary cell's canvas position by its
// pivot (read by writeAnimePack). Prints INFO_0003.
bool writeCellMap(const std::string& cellMapPath, const ConversionSettings& settings,
                  const CellTable& table, VTTexturePack& pack, PrevCellMap& prev,
                  const VTOptionReader& options);

// Writes the animation pack unless `keepExisting` or is_vtaeoutput is off.
// Prints INFO_0004 when written.
bool writeAnimePack(const std::string& animePackPath, const ConversionSettings& settings,
                    const CellTable& table, const VTTexturePack& pack, bool keepExisting,
                    const VTOptionReader& options);

// Writes the project naming outputName.vtce and outputName.vtae.
bool writeProject(const std::string& projectPath, const std::string& outputName,
                  const tinyxml2::XMLDocument& option);

}  // namespace korvex
