#include "PositionStamp.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace Core {

namespace {

// The fewest decimals (at least `least`, at most 3) that keep successive positions apart.
int DecimalsFor(double step, int least)
{
    for (int d = least; d < 3; ++d) {
        const double scaled = step * std::pow(10.0, d);
        if (std::fabs(scaled - std::round(scaled)) < 1e-6 * std::max(1.0, scaled))
            return d;
    }
    return 3;
}

} // namespace

std::string FormatClock(double seconds, int decimals)
{
    decimals = std::clamp(decimals, 0, 3);
    if (!std::isfinite(seconds) || seconds < 0)
        seconds = 0;
    long long scale = 1;
    for (int i = 0; i < decimals; ++i)
        scale *= 10;
    // Clamped so that absurd intervals cannot overflow the integer.
    const long long units = std::llround(std::min(seconds, 1e12) * static_cast<double>(scale));
    const long long whole = units / scale;
    char buffer[64];
    int n = std::snprintf(buffer, sizeof buffer, "%02lld:%02lld:%02lld", whole / 3600, whole / 60 % 60, whole % 60);
    if (decimals > 0)
        std::snprintf(buffer + n, sizeof buffer - static_cast<size_t>(n), ".%0*lld", decimals, units % scale);
    return buffer;
}

std::string PositionStamp(const std::string& dimName, int index, int origin, double intervalSeconds, double spacingNm)
{
    const std::string prefix = dimName + " = ";
    if (intervalSeconds > 0 && std::isfinite(intervalSeconds))
        return prefix + FormatClock(index * intervalSeconds, DecimalsFor(intervalSeconds, 1));
    if (spacingNm > 0 && std::isfinite(spacingNm)) {
        const double stepUm = spacingNm / 1000.0;
        char buffer[64];
        std::snprintf(buffer, sizeof buffer, "%.*f \xC2\xB5m", DecimalsFor(stepUm, 1), index * stepUm);
        return prefix + buffer;
    }
    return prefix + std::to_string(static_cast<long long>(index) + origin);
}

} // namespace Core
