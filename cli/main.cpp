// kestrovid-convert: converts one file into an MP4 the PSP plays, without a window.
#include "cli/Args.h"
#include "cli/ConvertCommand.h"
#include "cli/SubtitleCommands.h"

#include <QGuiApplication>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
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

// Qt's notes about a missing XDG_RUNTIME_DIR mean nothing to a converter run from a script;
// everything else Qt says goes to stderr as usual.
void qtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
        return;
    std::cerr << qFormatLogMessage(type, context, text).toStdString() << '\n';
}

// Drawing subtitles needs fonts, and fonts need a QGuiApplication; without a display it
// runs on the offscreen platform.
std::unique_ptr<QGuiApplication> makeGuiApplication(int& argc, char** argv)
{
    const auto unset = [](const char* name) {
        const char* v = std::getenv(name);
        return !v || !*v;
    };
    if (unset("QT_QPA_PLATFORM") && unset("DISPLAY") && unset("WAYLAND_DISPLAY"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    qInstallMessageHandler(qtMessages);
    return std::make_unique<QGuiApplication>(argc, argv);
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

    const kv::cli::CliArgs& args = *parsed.args;
    kv::cli::Console console{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1};
    if (args.command == kv::cli::Command::ListSubtitles)
        return kv::cli::runListSubtitles(args, console);

    std::unique_ptr<QGuiApplication> gui;
    if (!args.subtitles.empty())
        gui = makeGuiApplication(argc, argv);
    if (args.command == kv::cli::Command::FrameAt)
        return kv::cli::runFrameAt(args, console);
    return kv::cli::runConvert(args, libFolder(argv[0]), interrupted, console);
}
