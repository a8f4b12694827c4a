// kestrovid-convert: converts one file into an MP4 the PSP plays, without a window.
#include "cli/Args.h"
#include "cli/ConvertCommand.h"

#include <atomic>
#include <csignal>
#include <filesystem>
#include <iostream>
#include <unistd.h>

namespace {

std::atomic<bool> interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

void onSignal(int)
{
    interrupted = true;
}

std::string libFolder(const char* argv0)
{
    std::error_code ec;
    auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec)
        exe = std::filesystem::absolute(argv0, ec);
    return (exe.parent_path() / "LibAV").string();
}

} // namespace

int main(int argc, char** argv)
{
    const auto parsed = kv::cli::parseArgs(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.args) {
        std::cerr << "kestrovid-convert: " << parsed.error << '\n' << kv::cli::usageText();
        return kv::cli::kExitUsage;
    }
    if (parsed.args->help) {
        std::cout << kv::cli::usageText();
        return kv::cli::kExitDone;
    }

    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);

    kv::cli::Console console{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1};
    return kv::cli::runConvert(*parsed.args, libFolder(argv[0]), interrupted, console);
}
