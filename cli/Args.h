#pragma once
// The converter's command line:
//   kestrovid-convert [--lo] [--subtitles FILE [--encoding NAME]] [--output PATH] SOURCE
//   kestrovid-convert --list-subtitles FILE [--fps N] [--encoding NAME]
//   kestrovid-convert --frame-at TIME --output FILE.png [--subtitles FILE [--encoding NAME]] SOURCE
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kv::cli {

enum class Command { Convert, ListSubtitles, FrameAt };

struct CliArgs {
    Command command = Command::Convert;
    bool lo = false;            // Lo profile (MPEG-4 368x192) instead of Hi (H.264 480x272)
    std::string subtitles;      // subtitle file to burn in (or to list); empty: none
    std::string encoding;       // how to read a subtitle file without a byte-order mark; empty: guess
    double fps = 25;            // --list-subtitles: frame rate MicroDVD frame numbers refer to
    std::int64_t frameAtUs = 0; // --frame-at: time of the frame, µs from the start
    std::string output;         // output path; empty: beside the source, numbered if taken
    std::string source;
    bool help = false;
};

struct ParsedArgs {
    std::optional<CliArgs> args; // empty when the command line is wrong
    std::string error;           // why
};

ParsedArgs parseArgs(const std::vector<std::string>& argv); // without the program name
std::string usageText();

// "12.5" (seconds), "1:05" (minutes:seconds) or "0:01:05.250" (hours:minutes:seconds) in µs;
// nothing for anything else, negative times included.
std::optional<std::int64_t> parseTimeUs(const std::string& text);

} // namespace kv::cli
