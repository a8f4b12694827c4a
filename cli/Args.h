#pragma once
// The converter's command line:
//   kestrovid-convert [--lo] [--subtitles FILE] [--output PATH] SOURCE
#include <optional>
#include <string>
#include <vector>

namespace kv::cli {

struct CliArgs {
    bool lo = false;       // Lo profile (MPEG-4 368x192) instead of Hi (H.264 480x272)
    std::string subtitles; // subtitle file to burn in; empty: none
    std::string output;    // output path; empty: beside the source, numbered if taken
    std::string source;
    bool help = false;
};

struct ParsedArgs {
    std::optional<CliArgs> args; // empty when the command line is wrong
    std::string error;           // why
};

ParsedArgs parseArgs(const std::vector<std::string>& argv); // without the program name
std::string usageText();

} // namespace kv::cli
