#pragma once
// The subtitle side of the headless converter: reading the user's subtitle settings,
// loading a subtitle file as the window does, listing the table it gives, and the
// single-frame picture with the subtitle a conversion would burn there.
#include "cli/Args.h"
#include "cli/ConvertCommand.h"
#include "media/TFFDecoder.h"
#include "options/SubtitleSettings.h"
#include "subtitles/SubtitleSnapshot.h"
#include "subtitles/TimeTXTEditor.h"

#include <memory>
#include <optional>
#include <string>

namespace kv::cli {

// The subtitle settings as the window reads them at start (the sibling player's key in the
// user's settings store). Only reads: the CLI writes no registration values.
options::SubtitleSettings readUserSubtitleSettings();

// The source frame rate as the window computes it: the container's first stream, 1.0 when
// that stream is not video (its rate is -1/-1).
double sourceFrameRate(const media::TFFDecoder& decoder);

struct LoadedSubtitles {
    options::SubtitleSettings settings;
    subtitles::TimeTXTEditor table;
    std::string message; // what was loaded, for the console
};

// Loads `path` for a source of `frameRate` frames per second. A file the loader refuses is an
// error, and with `needCues` so is one that gives no subtitle row (only the credit row):
// nothing is returned and *error says why.
std::optional<LoadedSubtitles> loadSubtitles(const std::string& path, double frameRate,
                                             const std::string& encoding, bool needCues, std::string* error);

// --list-subtitles: prints the table, one row per line (key, tab, text) in UTF-8.
int runListSubtitles(const CliArgs& args, Console console);

// --frame-at: the source's frame at args.frameAtUs with its subtitle, written as a new PNG.
// Needs a QGuiApplication (fonts).
int runFrameAt(const CliArgs& args, Console console);

} // namespace kv::cli
