// Taking in a source and queuing its one task, running the conversion and showing its
// progress, the remaining-time estimate, the profile pair and the subtitle switch.
#include "app/MainFrm.h"

#include "app/ComponentShutdown.h"
#include "subtitles/SnapshotFromSettings.h"
#include "options/Profiles.h"

#include <QCoreApplication>
#include <QDir>
#include <QImage>

#include <algorithm>
#include <cmath>

namespace kv::app {

using namespace kv::media;

namespace {

// Closes the decoder's file when the add routine ends, however it ends.
struct CloseFileAtEnd {
    TFFDecoder& decoder;
    ~CloseFileAtEnd() { decoder.CloseFile(); }
};

QString fromUtf8(const std::string& text)
{
    return QString::fromStdString(text);
}

} // namespace

void TfrmMain::setUpMedia()
{
    FFLogger = std::make_unique<TFFLogger>(*Dispatcher);
    FFVCL = std::make_unique<TFFEncoder>(*Dispatcher);
    FFPlayer = std::make_unique<TFFPlayer>(*Dispatcher);
    FOwnMedia = std::make_unique<ComponentShutdown>(*FFVCL, *FFPlayer, *FFLogger);
    if (!FMedia)
        FMedia = FOwnMedia.get();

    PlayerScreen = new PreviewScreen(Panel);
    PlayerScreen->setObjectName("PlayerScreen");
    PlayerScreen->setGeometry(0, 0, Panel->width(), Panel->height());
    PlayerScreen->setVisible(false);

    FFVCL->SetPreviewBitmap(true);
    FFVCL->SetPreviewSize(Image1->width(), Image1->height());
    FFLogger->SetLogLevel(logLevel());
    FFLogger->SetOnLog([this](std::uint32_t threadId, TLogLevel level, const std::string& text) {
        FFLoggerLog(threadId, static_cast<int>(level), fromUtf8(text));
    });
}

void TfrmMain::bindConversionHandlers()
{
    FFVCL->SetOnProgress([this](const TProgressInfo& info) { FFVCLProgress(info); });
    FFVCL->SetOnPreviewBitmap([this](const TPreviewInfo& info) { FFVCLPreviewBitmap(info); });
    // The end of a task is reported on a short-lived engine thread: everything it does to
    // the window happens on the GUI thread, and nothing once the window has shut down.
    FFVCL->SetOnTerminate([this](const TTerminateInfo& info) {
        Dispatcher->post([this, info] {
            if (!FShutDown)
                FFVCLTerminate(info);
        });
    });
    FFVCL->SetOnVideoInputHook([this](THookInfo& info) { Burner.FFVCLCustomHook(info); });

    btnStartConvert->OnClick = [this](TMBButton* b) { btnStartConvertClick(b); };
    btnPauseConvert->OnClick = [this](TMBButton* b) { btnPauseConvertClick(b); };
    btnResumeConvert->OnClick = [this](TMBButton* b) { btnResumeConvertClick(b); };
    connect(TimerStatystyki, &QTimer::timeout, this, [this] { TimerStatystykiTimer(); });
}

TLogLevel TfrmMain::logLevel() const
{
    return static_cast<TLogLevel>(std::clamp(grpLogLevel->ItemIndex(), 0, 7));
}

QString TfrmMain::libraryFolder() const
{
    return QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("LibAV"));
}

void TfrmMain::btnAddClick(TMBButton* sender)
{
    const std::string folder = libraryFolder().toStdString();
    if (!FFVCL->AVLibLoaded() && !FFVCL->LoadAVLib(folder)) {
        log(fromUtf8(FFVCL->LastErrMsg()));
        return;
    }
    FFVCL->ClearTasks();
    if (sender && !OpenDialog1.Execute(this))
        return;
    FFLogger->SetLogLevel(logLevel());

    const QString fileName = OpenDialog1.FileName;
    TFFDecoder& decoder = FFVCL->Decoder();
    if (!decoder.LoadFile(fileName.toStdString())) {
        log(QString());
        log(QStringLiteral("***File load error: ") + fromUtf8(decoder.LastErrMsg()));
        log(QString());
        return;
    }
    CloseFileAtEnd closeAtEnd{decoder};

    // The first stream of the container, whatever its kind: not a video stream gives
    // -1/-1, that is 1.0. A zero denominator gives an infinite or undefined rate, which the
    // subtitle loader refuses for frame-based files.
    const TAVRational rate = decoder.VideoStreamInfo(0).FrameRate;
    frmOption->SourceFrameRate = static_cast<double>(rate.num) / static_cast<double>(rate.den);

    TInputOptions input;
    TOutputOptions output;
    frmOption->AttachDecoder(decoder);
    frmOption->FillOutputOptions(output, btnHi->Down());
    frmOption->FillInputOptions(input);
    AddConvertTask(input, output);

    if (!FFPlayer->AVLibLoaded() && !FFPlayer->LoadAVLib(folder))
        log(fromUtf8(FFPlayer->LastErrMsg()));
    Panel->setVisible(!btnInfo->Down()); // the info picture keeps the panel's place while shown
    PlayerScreen->Clear();
    PlayerScreen->setVisible(true);
    PlayerScreen->raise();
    if (FFPlayer->Open(fileName.toStdString(), PlayerScreen, PlayerScreen->width(), PlayerScreen->height(),
                       false)) {
        ProgressBar(1);
        ImageProgress->Tag = 0; // the next position report repaints the strip
        ImageProgress->setCursor(Qt::PointingHandCursor);
        btnAddSub->setEnabled(true);
        if (btnHi->Down())
            btnLo->setEnabled(false);
        else
            btnHi->setEnabled(false);
    } else {
        log(fromUtf8(FFPlayer->LastErrMsg()));
    }
}

bool TfrmMain::AddConvertTask(const TInputOptions& input, const TOutputOptions& output)
{
    const int index = FFVCL->AddTask(input.FileName, input);
    if (index < 0) {
        log(QString());
        log(QStringLiteral("***File open error: ") + fromUtf8(FFVCL->LastErrMsg()));
        log(QString());
        return false;
    }
    if (!FFVCL->SetOutputFile(index, output.FileName, output)) {
        FFVCL->RemoveTask(index);
        log(QString());
        log(QStringLiteral("***Cannot do convert, error: ") + fromUtf8(FFVCL->LastErrMsg()));
        log(QString());
        return false;
    }
    log(QString());
    log(QStringLiteral("***File has been added to convert list."));
    log(QString());
    // A new source brings the shared Stop, Pause and Play buttons back to the preview.
    Panel->Tag = kPreviewMode;
    btnStartConvert->setEnabled(true);
    btnStop->setEnabled(true);
    btnPause->setEnabled(true);
    btnPause->setDown(false);
    btnPlay->setEnabled(true);
    btnPlay->setDown(true);
    return true;
}

void TfrmMain::btnHiClick(TMBButton*)
{
    const options::ProfileButtons b =
        options::afterHiClick({btnHi->Down(), btnLo->Down(), btnHi->isEnabled(), btnLo->isEnabled()});
    btnHi->setDown(b.hiDown);
    btnLo->setDown(b.loDown);
}

void TfrmMain::btnLoClick(TMBButton*)
{
    const options::ProfileButtons b =
        options::afterLoClick({btnHi->Down(), btnLo->Down(), btnHi->isEnabled(), btnLo->isEnabled()});
    btnHi->setDown(b.hiDown);
    btnLo->setDown(b.loDown);
}

void TfrmMain::btnStartConvertClick(TMBButton*)
{
    // Nothing queued (the source dialog was cancelled after an earlier add): the engine would
    // convert nothing, so the window stays ready for a new source and says why.
    if (FFVCL->TaskCount() == 0) {
        btnStartConvert->setEnabled(false);
        log(QString());
        log(QStringLiteral("***Nothing to convert: add a source file first."));
        log(QString());
        return;
    }
    Estimate.reset();
    LProgress->setText(ProgressPrefix + QStringLiteral("0%"));
    ImageProgress->setCursor(Qt::ArrowCursor);
    Panel->Tag = kConversionMode;
    FFPlayer->Stop(true);
    PlayerScreen->setVisible(false); // the engine's preview frames show in Image1 from now on
    FFLogger->SetLogLevel(logLevel());
    FFVCL->SetThreadPriority(TThreadPriority::tpNormal);
    for (TMBButton* b : {btnAdd, btnStartConvert, btnAddSub, btnStop, btnPause, btnPlay})
        b->setEnabled(false);
    // The burner reads only this copy of the settings and the table while the worker runs.
    Burner.ResetSubtitleSchedule(subtitles::makeSubtitleSnapshot(frmOption->Settings, frmOption->TimeTXTEditor));
    subtitleSwitchChanged();
    ProgressBar(1);
    btnPauseConvert->move(btnPauseConvert->x(), 181);
    btnResumeConvert->move(btnResumeConvert->x(), 181);
    btnStartConvert->setVisible(false);
    btnPauseConvert->setVisible(true);
    TimerStatystyki->start();
    FFVCL->Start(1);
}

void TfrmMain::btnPauseConvertClick(TMBButton*)
{
    btnPauseConvert->setVisible(false);
    btnResumeConvert->setVisible(true);
    TimerStatystyki->stop();
    FFVCL->Pause();
}

void TfrmMain::btnResumeConvertClick(TMBButton*)
{
    btnResumeConvert->setVisible(false);
    btnPauseConvert->setVisible(true);
    TimerStatystyki->start();
    FFVCL->Resume();
}

void TfrmMain::FFVCLProgress(const TProgressInfo& info)
{
    CurrentPosition = info.CurrentDuration;
    TotalDuration = info.TotalDuration;
    if (info.TotalDuration <= 0) {
        // The source does not tell its duration: no percentage can be made, so the label
        // shows how much has been converted and the strip waits for the end.
        LProgress->setText(ProgressPrefix + longTimeText(std::max<std::int64_t>(0, info.CurrentDuration)));
        return;
    }
    const std::int64_t percent = std::max<std::int64_t>(0, info.CurrentDuration * 100 / info.TotalDuration);
    LProgress->setText(ProgressPrefix + QString::number(percent) + QStringLiteral("% ") + Estimate.text());
    const int column = static_cast<int>(std::trunc(percent / 100.0 * (ImageProgress->width() - 4)));
    if (column + 1 != ImageProgress->Tag)
        ProgressBar(column + 1);
}

void TfrmMain::FFVCLTerminate(const TTerminateInfo& info)
{
    if (info.TaskIndex >= 0 && info.Finished) {
        LProgress->setText(ProgressPrefix + QStringLiteral("100%"));
        ProgressBar(ImageProgress->width() - 4);
        endConversionState();
    } else if (info.TaskIndex >= 0 && info.Exception) {
        // A fatal error: the window is made ready for another source rather than left in
        // its converting state with no way on but closing.
        endConversionState();
        TimerStatystyki->stop();
    }
    if (info.Exception)
        ShowWarning(kApplicationTitle, fromUtf8(info.ExceptionMsg));
}

void TfrmMain::endConversionState()
{
    btnPauseConvert->setVisible(false);
    btnResumeConvert->setVisible(false);
    btnStartConvert->setVisible(true);
    btnStartConvert->setEnabled(false);
    btnAdd->setEnabled(true);
    btnSubOn->setVisible(false); // subtitles are loaded again for the next conversion
    subtitleSwitchChanged();
    btnLo->setEnabled(true);
    btnHi->setEnabled(true);
}

void TfrmMain::FFVCLPreviewBitmap(const TPreviewInfo& info)
{
    Image1->Tag = ~Image1->Tag;
    if (Image1->Tag != 0 || !info.Bitmap || info.Bitmap->empty())
        return;
    const TRGBImage& b = *info.Bitmap;
    Image1->setPicture(QImage(b.Pixels.data(), b.Width, b.Height, b.Stride, QImage::Format_RGB888).copy());
}

void TfrmMain::TimerStatystykiTimer()
{
    Estimate.tick(CurrentPosition, TotalDuration);
}

void TfrmMain::subtitleSwitchChanged()
{
    Burner.btnSubOn().store(!btnSubOn->isHidden() && btnSubOn->Down());
}

} // namespace kv::app
