#include "cli/Args.h"

#include <cmath>
#include <cstdlib>

namespace kv::cli {

std::string usageText()
{
    return "usage: kestrovid-convert [--lo] [--subtitles FILE] [--encoding NAME] [--output PATH] SOURCE\n"
           "       kestrovid-convert --list-subtitles FILE [--fps N] [--encoding NAME]\n"
           "       kestrovid-convert --frame-at TIME --output FILE.png [--subtitles FILE] SOURCE\n"
           "  Converts SOURCE into an MP4 file the PSP plays, beside the source unless --output is given.\n"
           "  --lo               MPEG-4 at 368x192 instead of H.264 at 480x272\n"
           "  --subtitles FILE   burn the subtitles of FILE into the picture\n"
           "  --encoding NAME    read a subtitle file without a byte-order mark as NAME (WINDOWS-1250, ...)\n"
           "  --output PATH      write to PATH (never replaces an existing file)\n"
           "  --list-subtitles FILE  print the subtitle table FILE gives: start in ms, a tab, the text\n"
           "  --fps N            frame rate MicroDVD frame numbers refer to when listing (default 25)\n"
           "  --frame-at TIME    write the frame at TIME (seconds or hh:mm:ss.ms) with its subtitle as PNG\n";
}

std::optional<std::int64_t> parseTimeUs(const std::string& text)
{
    if (text.empty())
        return std::nullopt;
    double total = 0;
    size_t start = 0;
    int fields = 0;
    for (;;) {
        const size_t colon = text.find(':', start);
        const std::string field =
            text.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        const bool last = colon == std::string::npos;
        // Digits, and a fraction only in the last field.
        if (field.empty() ||
            field.find_first_not_of(last ? "0123456789." : "0123456789") != std::string::npos ||
            field.find('.') != field.rfind('.') || field == ".")
            return std::nullopt;
        const double value = std::strtod(field.c_str(), nullptr);
        // Minutes and seconds after a colon stay below 60.
        if (fields > 0 && value >= 60)
            return std::nullopt;
        total = total * 60 + value;
        ++fields;
        if (last)
            break;
        if (fields == 3)
            return std::nullopt;
        start = colon + 1;
    }
    if (!std::isfinite(total) || total > 1e9)
        return std::nullopt;
    return static_cast<std::int64_t>(std::llround(total * 1e6));
}

ParsedArgs parseArgs(const std::vector<std::string>& argv)
{
    CliArgs a;
    bool optionsEnded = false;
    bool listGiven = false, fpsGiven = false, frameAtGiven = false, encodingGiven = false;
    auto isOption = [&](const std::string& arg, const std::string& name) {
        return !optionsEnded && arg.rfind(name, 0) == 0 &&
               (arg.size() == name.size() || arg[name.size()] == '=');
    };
    auto valueOf = [&](size_t& i, const std::string& name, std::string& into) -> std::string {
        const std::string& arg = argv[i];
        if (arg.size() > name.size()) {
            into = arg.substr(name.size() + 1);
        } else {
            if (i + 1 >= argv.size())
                return name + " needs a value";
            into = argv[++i];
        }
        return into.empty() ? name + " needs a value" : "";
    };
    for (size_t i = 0; i < argv.size(); ++i) {
        const std::string& arg = argv[i];
        std::string err;
        std::string value;
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            a.help = true;
        } else if (!optionsEnded && arg == "--lo") {
            a.lo = true;
        } else if (isOption(arg, "--subtitles")) {
            err = valueOf(i, "--subtitles", a.subtitles);
        } else if (isOption(arg, "--list-subtitles")) {
            err = valueOf(i, "--list-subtitles", a.subtitles);
            listGiven = true;
        } else if (isOption(arg, "--encoding")) {
            err = valueOf(i, "--encoding", a.encoding);
            encodingGiven = true;
        } else if (isOption(arg, "--fps")) {
            err = valueOf(i, "--fps", value);
            char* end = nullptr;
            a.fps = err.empty() ? std::strtod(value.c_str(), &end) : 0;
            if (err.empty() && (end == value.c_str() || *end != '\0' || !std::isfinite(a.fps) || a.fps <= 0))
                err = "--fps needs a positive number of frames per second, not " + value;
            fpsGiven = true;
        } else if (isOption(arg, "--frame-at")) {
            err = valueOf(i, "--frame-at", value);
            const auto us = parseTimeUs(value);
            if (err.empty() && !us)
                err = "--frame-at needs a time in seconds (12.5) or hh:mm:ss.ms (0:00:12.500), not " + value;
            a.frameAtUs = us.value_or(0);
            frameAtGiven = true;
        } else if (isOption(arg, "--output")) {
            err = valueOf(i, "--output", a.output);
        } else if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
            err = "unknown option " + arg;
        } else if (a.source.empty()) {
            a.source = arg;
        } else {
            err = "only one source file, please (got " + a.source + " and " + arg + ")";
        }
        if (!err.empty())
            return {std::nullopt, err};
    }
    if (a.help)
        return {a, ""};
    if (listGiven && frameAtGiven)
        return {std::nullopt, "--list-subtitles and --frame-at do not go together"};
    if (listGiven) {
        if (!a.source.empty() || a.lo || !a.output.empty())
            return {std::nullopt, "--list-subtitles takes only a subtitle file, --fps and --encoding"};
        a.command = Command::ListSubtitles;
        return {a, ""};
    }
    if (fpsGiven)
        return {std::nullopt, "--fps goes with --list-subtitles (a conversion uses the source's frame rate)"};
    if (encodingGiven && a.subtitles.empty())
        return {std::nullopt, "--encoding goes with a subtitle file"};
    if (a.source.empty())
        return {std::nullopt, "no source file given"};
    if (frameAtGiven) {
        if (a.output.empty())
            return {std::nullopt, "--frame-at needs --output FILE.png"};
        if (a.lo)
            return {std::nullopt, "--frame-at writes the frame at the source's size; --lo does not apply"};
        a.command = Command::FrameAt;
    }
    return {a, ""};
}

} // namespace kv::cli
