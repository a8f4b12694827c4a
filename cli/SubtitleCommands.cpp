#include "cli/SubtitleCommands.h"

#include "cli/FrameGrab.h"
#include "platform/RegistryFileStore.h"
#include "subtitles/SnapshotFromSettings.h"
#include "subtitles/SubtitleBurner.h"
#include "subtitles/SubtitleLoader.h"

#include <QFile>
#include <QImage>
#include <QImageWriter>

#include <iomanip>
#include <sstream>

namespace kv::cli {

options::SubtitleSettings readUserSubtitleSettings()
{
    options::SubtitleSettings settings;
    const std::unique_ptr<platform::ISettingsStore> store = platform::openUserSettingsStore();
    if (store)
        settings.readFromStore(*store);
    return settings;
}

double sourceFrameRate(const media::TFFDecoder& decoder)
{
    const media::TAVRational rate = decoder.VideoStreamInfo(0).FrameRate;
    return static_cast<double>(rate.num) / static_cast<double>(rate.den);
}

std::optional<LoadedSubtitles> loadSubtitles(const std::string& path, double frameRate,
                                             const std::string& encoding, bool needCues, std::string* error)
{
    LoadedSubtitles loaded;
    loaded.settings = readUserSubtitleSettings();
    QStringList rawLines;
    subtitles::DecodeOptions decode;
    decode.encodingOverride = QString::fromStdString(encoding);
    const QString file = QString::fromStdString(path);
    const subtitles::LoadResult result =
        subtitles::LoadTXT(file, frameRate, loaded.settings, loaded.table, rawLines, decode);
    if (!result.ok) {
        *error = result.message.toStdString();
        return std::nullopt;
    }
    if (needCues && result.cueRows == 0) {
        *error = "no subtitle could be read from " + path + " (" + result.message.toStdString() + ")";
        return std::nullopt;
    }
    loaded.message = result.message.toStdString();
    return loaded;
}

int runListSubtitles(const CliArgs& args, Console console)
{
    std::string error;
    const auto loaded = loadSubtitles(args.subtitles, args.fps, args.encoding, false, &error);
    if (!loaded) {
        console.err << "kestrovid-convert: " << error << '\n';
        return kExitFailed;
    }
    console.out << subtitles::formatSubtitleTable(loaded->table).toStdString() << std::flush;
    return console.out ? kExitDone : kExitFailed;
}

namespace {

std::string secondsText(std::int64_t us)
{
    std::ostringstream s;
    s << std::fixed << std::setprecision(3) << static_cast<double>(us) / 1e6 << " s";
    return s.str();
}

// Writes the picture into a file that must not exist yet; a failed write removes what it
// created, so no broken picture is left behind.
bool writeNewPng(const media::TRGBImage& image, const std::string& path, std::string* error)
{
    const QImage picture(image.Pixels.data(), image.Width, image.Height, image.Stride, QImage::Format_RGB888);
    QFile file(QString::fromStdString(path));
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *error = file.exists() ? path + " already exists; it is left as it is"
                               : "cannot create " + path + ": " + file.errorString().toStdString();
        return false;
    }
    QImageWriter writer(&file, "png");
    const bool written = writer.write(picture) && file.flush();
    if (!written) {
        *error = "cannot write " + path + ": " +
                 (writer.error() != QImageWriter::UnknownError ? writer.errorString() : file.errorString())
                     .toStdString();
        file.close();
        file.remove();
        return false;
    }
    file.close();
    if (file.error() != QFileDevice::NoError) {
        *error = "cannot write " + path + ": " + file.errorString().toStdString();
        file.remove();
        return false;
    }
    return true;
}

} // namespace

int runFrameAt(const CliArgs& args, Console console)
{
    auto fail = [&](const std::string& text) {
        console.err << "kestrovid-convert: " << text << '\n';
        return kExitFailed;
    };
    // Refuse an existing picture before any work is done (the write checks again).
    if (QFile::exists(QString::fromStdString(args.output)))
        return fail(args.output + " already exists; it is left as it is");

    // The frame rate subtitle times are read with, probed as for a conversion.
    media::TFFDecoder decoder;
    if (!decoder.LoadFile(args.source))
        return fail(decoder.LastErrMsg());
    const double frameRate = sourceFrameRate(decoder);
    decoder.CloseFile();

    std::shared_ptr<const subtitles::SubtitleSnapshot> snapshot;
    if (!args.subtitles.empty()) {
        std::string error;
        const auto loaded = loadSubtitles(args.subtitles, frameRate, args.encoding, true, &error);
        if (!loaded)
            return fail(error);
        snapshot = subtitles::makeSubtitleSnapshot(loaded->settings, loaded->table);
    }

    GrabbedFrame frame;
    try {
        frame = grabFrameAt(args.source, args.frameAtUs);
    } catch (const std::exception& e) {
        return fail("no frame at " + secondsText(args.frameAtUs) + " in " + args.source + ": " + e.what());
    }

    QString shown;
    if (snapshot)
        shown = subtitles::BurnSubtitleAt(snapshot, frame.Image, frame.PtsUs, frame.FrameRate);

    std::string error;
    if (!writeNewPng(frame.Image, args.output, &error))
        return fail(error);
    console.out << "Frame at " << secondsText(frame.PtsUs) << " (" << frame.Image.Width << "x"
                << frame.Image.Height << ")";
    if (snapshot)
        console.out << (shown.isEmpty() ? std::string(", no subtitle on screen")
                                        : ", subtitle: " + shown.toStdString());
    console.out << "\n        to " << args.output << std::endl;
    return kExitDone;
}

} // namespace kv::cli
