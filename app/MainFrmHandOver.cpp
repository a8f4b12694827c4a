// How file names reach the window besides the add button: the subtitle button with its
// dialog, files dropped on the window and the command line. Each name is routed by its
// extension to the subtitle loader or to the add routine, and only while the button that
// stands for that step is enabled.
#include "app/MainFrm.h"

#include "subtitles/SubtitleLoader.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

#include <exception>

namespace kv::app {

QString upperExtension(const QString& path)
{
    // The last path component's part from its last dot on; empty without a dot.
    const QString name = path.mid(path.lastIndexOf('/') + 1);
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? QString() : name.mid(dot).toUpper();
}

bool isSubtitleFile(const QString& path)
{
    static const QStringList extensions = {".TXT", ".SUB", ".SRT", ".SSA", ".SMI", ".ASS"};
    return extensions.contains(upperExtension(path));
}

namespace {

bool isSubStation(const QString& path)
{
    const QString ext = upperExtension(path);
    return ext == QLatin1String(".SSA") || ext == QLatin1String(".ASS");
}

} // namespace

void TfrmMain::btnAddSubClick(TMBButton*)
{
    if (OpenTXT.Execute(this))
        LoadTXT(LoadCaller::User);
}

bool TfrmMain::LoadTXT(LoadCaller caller)
{
    const QString path = OpenTXT.FileName;
    subtitles::DecodeOptions decode;
    decode.language = FLocale.name();
    const subtitles::LoadResult result =
        subtitles::LoadTXT(path, frmOption->SourceFrameRate, frmOption->Settings, frmOption->TimeTXTEditor,
                           frmOption->Napisy, decode);
    if (result.ok) {
        log(result.message);
        btnSubOn->setVisible(true);
        btnSubOn->setDown(true);
        subtitleSwitchChanged();
        return true;
    }
    log(QString());
    log(QStringLiteral("***Subtitle load error: ") + result.message);
    log(QString());
    // A SubStation file without its events section is the one failure the user is told
    // about, unless the file came from the command line.
    if (caller == LoadCaller::User && isSubStation(path) &&
        result.message.contains(QLatin1String("[Events]")))
        ShowWarning(kApplicationTitle, result.message);
    return false;
}

void TfrmMain::HandOverDroppedFiles(const QStringList& files)
{
    if (files.isEmpty())
        return;
    const QString first = files.first();
    if (first.isEmpty())
        return;
    if (isSubtitleFile(first)) {
        // The number of files and the file's existence do not matter here: the loader
        // reports a file it cannot read.
        if (btnAddSub->isEnabled()) {
            OpenTXT.FileName = first;
            LoadTXT(LoadCaller::User);
        }
        return;
    }
    if (QFileInfo(first).isFile() && files.size() == 1 && btnAdd->isEnabled()) {
        OpenDialog1.FileName = first;
        btnAddClick(nullptr);
    }
}

void TfrmMain::HandOverCommandLine(const QStringList& arguments)
{
    // Nothing named on the command line may keep the program from starting.
    try {
        if (!arguments.isEmpty() && QFileInfo(arguments[0]).isFile() && btnAdd->isEnabled()) {
            OpenDialog1.FileName = arguments[0];
            btnAddClick(nullptr);
        }
        if (arguments.size() >= 2 && isSubtitleFile(arguments[1]) && btnAddSub->isEnabled()) {
            OpenTXT.FileName = arguments[1];
            LoadTXT(LoadCaller::CommandLine);
        }
    } catch (const std::exception& e) {
        log(QStringLiteral("Command line: %1").arg(QString::fromUtf8(e.what())));
    } catch (...) {
        log(QStringLiteral("Command line: an error was ignored"));
    }
}

void TfrmMain::OptionsStartup(const QString& executablePath, const QStringList& arguments)
{
    if (!options::runSettingsStartup(frmOption->Settings, settingsStore(), executablePath, VersionText))
        log(QStringLiteral("The registration values could not be written"));
    HandOverCommandLine(arguments);
}

void TfrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TfrmMain::dropEvent(QDropEvent* event)
{
    QStringList files;
    for (const QUrl& url : event->mimeData()->urls())
        files.append(url.isLocalFile() ? url.toLocalFile() : QString());
    event->acceptProposedAction();
    HandOverDroppedFiles(files);
}

} // namespace kv::app
