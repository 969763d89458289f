// The practice history's accuracy over time as a PNG picture: one line per song and mode; below
// it, the minutes practised on each of the given days as bars.
#pragma once

#include <string>
#include <vector>

#include "history_report.h"

namespace practice {

// The picture's bytes; empty when it cannot be made. Needs no display: without a Qt
// application one is made for the drawing, on the offscreen platform unless another is set.
// No days: no bars.
std::string AccuracyChartPng(const std::vector<SongHistory>& songs,
                             const std::vector<DayMinutes>& days = {});

}  // namespace practice
