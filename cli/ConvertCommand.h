#pragma once
// One conversion from the command line, with the same records and naming as the window.
#include "cli/Args.h"

#include <atomic>
#include <ostream>
#include <string>

namespace kv::cli {

enum ExitCode { kExitDone = 0, kExitFailed = 1, kExitUsage = 2, kExitStopped = 130 };

struct Console {
    std::ostream& out;     // progress and the result
    std::ostream& err;     // errors and FFmpeg's complaints
    bool liveLine = false; // a terminal: one progress line rewritten in place
};

// Converts args.source; `interrupted` turning true (Ctrl-C) stops the conversion, which
// still finalises the shortened file. libFolder is where a private FFmpeg may sit.
int runConvert(const CliArgs& args, const std::string& libFolder, const std::atomic<bool>& interrupted,
               Console console);

} // namespace kv::cli
