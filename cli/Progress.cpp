#include "cli/Progress.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kv::cli {

std::string clockText(double seconds)
{
    const long s = std::lround(std::max(0.0, seconds));
    char buf[32];
    if (s >= 3600)
        std::snprintf(buf, sizeof buf, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(buf, sizeof buf, "%ld:%02ld", s / 60, s % 60);
    return buf;
}

std::string progressText(std::int64_t currentUs, std::int64_t totalUs, double elapsedSeconds)
{
    const double done = std::max<std::int64_t>(0, currentUs) / 1e6;
    char speed[32] = "";
    if (elapsedSeconds > 0.2 && done > 0)
        std::snprintf(speed, sizeof speed, "  %.1fx", done / elapsedSeconds);
    char buf[128];
    if (totalUs > 0) {
        const double fraction =
            std::clamp(static_cast<double>(currentUs) / static_cast<double>(totalUs), 0.0, 1.0);
        const int percent = static_cast<int>(fraction * 100); // truncated, as the window shows it
        const std::string left = fraction > 0.01 && (elapsedSeconds > 1.0 || fraction > 0.5)
                                     ? clockText(elapsedSeconds * (1 - fraction) / fraction)
                                     : std::string("--:--");
        std::snprintf(buf, sizeof buf, "%3d%%  left %s%s", percent, left.c_str(), speed);
    } else {
        std::snprintf(buf, sizeof buf, "%s converted%s", clockText(done).c_str(), speed);
    }
    return buf;
}

} // namespace kv::cli
