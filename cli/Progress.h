#pragma once
// The converter's progress text: percent, time left and speed.
#include <cstdint>
#include <string>

namespace kv::cli {

// "42%  left 0:12  3.1x" from µs of the source converted, its total (-1: unknown) and the
// seconds spent so far; the time left shows "--:--" until it can be estimated.
std::string progressText(std::int64_t currentUs, std::int64_t totalUs, double elapsedSeconds);
// "0:07", "12:34", "1:02:03".
std::string clockText(double seconds);

} // namespace kv::cli
