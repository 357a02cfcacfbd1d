#pragma once

#include <string>

namespace Core {

// The stamp drawn on a picture for a dimension's position: "t = 00:01:30.0" when the file
// gives the time between indices (seconds), "z = 12.5 µm" when it gives the spacing (nm),
// else the index as the file numbers it ("t = 7").
std::string PositionStamp(const std::string& dimName, int index, int origin, double intervalSeconds, double spacingNm);

// hh:mm:ss with `decimals` (0..3) places of seconds, rounded once so that 59.96 s reads 00:01:00.0.
std::string FormatClock(double seconds, int decimals);

} // namespace Core
