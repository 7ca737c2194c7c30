// Sorvel's views in the gallery: the wave display, the EQ view, the chain row, the power
// buttons and the segmented choices, each in several states, fed by the real processor where the
// editor would feed them. Message thread only.
#pragma once

#include "Sheets.h"

namespace gallery
{
// The Sorvel sheets, in the order the gallery writes them.
const std::vector<SheetInfo>& sorvelSheets();
} // namespace gallery
