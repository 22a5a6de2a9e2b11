// The three editor documents: cell map (.vtce), animation pack (.vtae) and
// project (.vtpj). Each is made from its template (templates.h), filled and
// added to the run's output set, which puts the files in place together. A
// failure, with no success message, carries the writer's message and reason
// (the previous file then stays). Progress and success lines go to `lines`.
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
#include "platform/platform.h"
#include "platform/status.h"

namespace korvex {

// Writes the cell map; moves each ordinary cell's canvas position by its
// pivot (read by writeAnimePack). Prints INFO_0003.
Status writeCellMap(const std::string& cellMapPath, const ConversionSettings& settings,
                    const CellTable& table, VTTexturePack& pack, PrevCellMap& prev,
                    const VTOptionReader& options, platform::OutputSet& outputs, const LineSink& lines);

// Writes the animation pack unless `keepExisting` or is_vtaeoutput is off.
// Prints INFO_0004 when written.
Status writeAnimePack(const std::string& animePackPath, const ConversionSettings& settings,
                      const CellTable& table, const VTTexturePack& pack, bool keepExisting,
                      const VTOptionReader& options, platform::OutputSet& outputs, const LineSink& lines);

// Writes the project naming outputName.vtce and outputName.vtae.
Status writeProject(const std::string& projectPath, const std::string& outputName,
                    const tinyxml2::XMLDocument& option, platform::OutputSet& outputs,
                    const LineSink& lines);

}  // namespace korvex
