#include "cli/Args.h"

namespace kv::cli {

std::string usageText()
{
    return "usage: kestrovid-convert [--lo] [--subtitles FILE] [--output PATH] SOURCE\n"
           "  Converts SOURCE into an MP4 file the PSP plays, beside the source unless --output is given.\n"
           "  --lo               MPEG-4 at 368x192 instead of H.264 at 480x272\n"
           "  --subtitles FILE   burn the subtitles of FILE into the picture\n"
           "  --output PATH      write to PATH (never replaces an existing file)\n";
}

ParsedArgs parseArgs(const std::vector<std::string>& argv)
{
    CliArgs a;
    bool optionsEnded = false;
    auto valueOf = [&](size_t& i, const std::string& name, std::string& into) -> std::string {
        const std::string& arg = argv[i];
        if (arg.size() > name.size() && arg.compare(0, name.size() + 1, name + "=") == 0) {
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
        if (!optionsEnded && arg == "--") {
            optionsEnded = true;
        } else if (!optionsEnded && (arg == "-h" || arg == "--help")) {
            a.help = true;
        } else if (!optionsEnded && arg == "--lo") {
            a.lo = true;
        } else if (!optionsEnded && arg.rfind("--subtitles", 0) == 0 &&
                   (arg.size() == 11 || arg[11] == '=')) {
            err = valueOf(i, "--subtitles", a.subtitles);
        } else if (!optionsEnded && arg.rfind("--output", 0) == 0 && (arg.size() == 8 || arg[8] == '=')) {
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
    if (a.source.empty())
        return {std::nullopt, "no source file given"};
    return {a, ""};
}

} // namespace kv::cli
