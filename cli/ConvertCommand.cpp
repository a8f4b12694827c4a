#include "cli/ConvertCommand.h"

#include "cli/Progress.h"
#include "cli/SubtitleCommands.h"
#include "media/Dispatcher.h"
#include "media/TFFEncoder.h"
#include "media/TFFLogger.h"
#include "options/TfrmOption.h"
#include "subtitles/SnapshotFromSettings.h"
#include "subtitles/SubtitleBurner.h"

#include <chrono>
#include <filesystem>
#include <optional>

namespace kv::cli {

namespace {

using Clock = std::chrono::steady_clock;

class ProgressPrinter {
  public:
    explicit ProgressPrinter(Console& c) : c_(c) {}

    void report(std::int64_t currentUs, std::int64_t totalUs)
    {
        const auto now = Clock::now();
        const double elapsed = std::chrono::duration<double>(now - started_).count();
        const std::string text = progressText(currentUs, totalUs, elapsed);
        if (c_.liveLine) {
            c_.out << '\r' << text << "   " << std::flush;
            lineOpen_ = true;
        } else if (now - lastLine_ >= std::chrono::seconds(2)) {
            // A log file or a pipe gets a plain line now and then.
            c_.out << text << '\n' << std::flush;
            lastLine_ = now;
        }
    }

    // Ends the live line before anything else is printed.
    void closeLine()
    {
        if (lineOpen_)
            c_.out << '\n' << std::flush;
        lineOpen_ = false;
    }

  private:
    Console& c_;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastLine_{};
    bool lineOpen_ = false;
};

} // namespace

int runConvert(const CliArgs& args, const std::string& libFolder, const std::atomic<bool>& interrupted,
               Console console)
{
    auto fail = [&](const std::string& text) {
        console.err << "kestrovid-convert: " << text << '\n';
        return kExitFailed;
    };

    media::QueueDispatcher dispatcher;
    ProgressPrinter printer(console);
    media::TFFLogger logger(dispatcher);
    logger.SetLogLevel(media::TLogLevel::llError);
    logger.SetOnLog([&](std::uint32_t, media::TLogLevel, const std::string& text) {
        printer.closeLine();
        console.err << text << '\n';
    });

    // Declared before the engine: its worker calls the burner until the engine is gone.
    subtitles::SubtitleBurner burner;
    media::TFFEncoder engine(dispatcher);
    if (!engine.AVLibLoaded() && !engine.LoadAVLib(libFolder))
        return fail(engine.LastErrMsg());

    // Probe, then fill the task's records exactly as the window does.
    media::TFFDecoder& decoder = engine.Decoder();
    if (!decoder.LoadFile(args.source))
        return fail(decoder.LastErrMsg());
    options::TfrmOption holder;
    holder.AttachDecoder(decoder);
    media::TOutputOptions out;
    media::TInputOptions in;
    holder.FillOutputOptions(out, !args.lo);
    holder.FillInputOptions(in);
    // Only the subtitle file named on the command line is burnt in; one named like the
    // source is not picked up by itself.
    std::shared_ptr<const subtitles::SubtitleSnapshot> snapshot;
    std::string loadedMessage;
    if (!args.subtitles.empty()) {
        std::string error;
        auto loaded = loadSubtitles(args.subtitles, sourceFrameRate(decoder), args.encoding, true, &error);
        if (!loaded)
            return fail(error);
        snapshot = subtitles::makeSubtitleSnapshot(loaded->settings, loaded->table);
        loadedMessage = loaded->message;
    }
    decoder.CloseFile();
    if (!args.output.empty())
        out.FileName = args.output;

    engine.ClearTasks();
    const int task = engine.AddTask(in.FileName, in);
    if (task < 0)
        return fail(engine.LastErrMsg());
    if (!engine.SetOutputFile(task, out.FileName, out))
        return fail(engine.LastErrMsg());

    std::optional<media::TTerminateInfo> result;
    bool allDone = false;
    engine.SetOnProgress(
        [&](const media::TProgressInfo& p) { printer.report(p.CurrentDuration, p.TotalDuration); });
    engine.SetOnTerminate([&](const media::TTerminateInfo& t) {
        // Raised on a thread of the engine; take it over to this (the handler) thread.
        dispatcher.post([&, t] {
            if (t.TaskIndex >= 0)
                result = t;
            else
                allDone = true;
        });
    });

    if (snapshot) {
        burner.btnSubOn().store(true);
        burner.ResetSubtitleSchedule(snapshot);
        engine.SetOnVideoInputHook([&burner](media::THookInfo& info) { burner.FFVCLCustomHook(info); });
    }

    console.out << "Converting " << in.FileName << "\n        to " << out.FileName << '\n';
    if (snapshot)
        console.out << loadedMessage << '\n';
    console.out << std::flush;
    engine.SetThreadPriority(media::TThreadPriority::tpNormal);
    engine.Start(1);
    bool stopAsked = false;
    while (!allDone) {
        dispatcher.serveFor(std::chrono::milliseconds(50));
        if (interrupted.load() && !stopAsked) {
            stopAsked = true;
            printer.closeLine();
            console.out << "Stopping: the file keeps what was converted so far." << std::endl;
            engine.Stop(false);
        }
    }
    engine.Stop(true);
    engine.SetOnProgress(nullptr);
    engine.SetOnTerminate(nullptr);
    engine.SetOnVideoInputHook(nullptr);
    dispatcher.drain();
    printer.closeLine();

    if (!result)
        return fail(engine.LastErrMsg().empty() ? "the conversion did not run" : engine.LastErrMsg());
    if (result->Exception)
        return fail(result->ExceptionMsg);
    if (!result->Finished) {
        std::error_code ec;
        if (std::filesystem::exists(out.FileName, ec))
            console.out << "Stopped: " << out.FileName << " holds the part converted so far." << std::endl;
        else
            console.out << "Stopped before anything was converted." << std::endl;
        return kExitStopped;
    }
    console.out << "Done: " << out.FileName << std::endl;
    return kExitDone;
}

} // namespace kv::cli
