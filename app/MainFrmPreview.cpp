// The preview player's controls: the shared Play, Pause and Stop buttons (on the player in
// preview mode, on the engine in conversion mode), the position report on the strip and the
// label, seeking by a click on the strip, and the two volume buttons.
#include "app/MainFrm.h"

#include <QCoreApplication>
#include <QTime>

#include <algorithm>
#include <cmath>

namespace kv::app {

void TfrmMain::setUpPreviewControls()
{
    FFPlayer->SetOnFileOpen([this](std::int64_t duration, int fw, int fh, int& sw, int& sh) {
        FFPlayerFileOpen(duration, fw, fh, sw, sh);
    });
    FFPlayer->SetOnPosition([this](std::int64_t pts) { FFPlayerPosition(pts); });
    btnStop->OnClick = [this](TMBButton* b) { btnStopClick(b); };
    btnPause->OnClick = [this](TMBButton* b) { btnPauseClick(b); };
    btnPlay->OnClick = [this](TMBButton* b) { btnPlayClick(b); };
    btnVol1->OnClick = [this](TMBButton* b) { btnVol1Click(b); };
    btnVol2->OnClick = [this](TMBButton* b) { btnVol2Click(b); };
    ImageProgress->OnMouseDown = [this](TImage*, TMouseButton button, TShiftState shift, int x, int y) {
        ImageProgressMouseDown(button, shift, x, y);
    };
}

QString TfrmMain::longTimeText(std::int64_t microseconds) const
{
    // The time of day the count of milliseconds makes; a day or more wraps round.
    constexpr std::int64_t kDayMs = 24LL * 3600 * 1000;
    const std::int64_t ms = (microseconds / 1000) % kDayMs;
    return RemainingTime::localeTimeFormatter(FLocale)(QTime::fromMSecsSinceStartOfDay(static_cast<int>(ms)));
}

void TfrmMain::FFPlayerFileOpen(std::int64_t duration, int, int, int&, int&)
{
    TotalDuration = duration;
}

void TfrmMain::FFPlayerPosition(std::int64_t pts)
{
    if (TotalDuration > 0) {
        const std::int64_t percent = pts * 100 / TotalDuration;
        const int column = static_cast<int>(std::trunc(percent / 100.0 * (ImageProgress->width() - 4)));
        if (column + 1 != ImageProgress->Tag)
            ProgressBar(column + 1);
    }
    // A negative time has no text: the label keeps what it shows. A file that does not
    // tell its duration shows the time played only.
    if (pts < 0)
        return;
    if (TotalDuration < 0)
        LProgress->setText(longTimeText(pts));
    else
        LProgress->setText(longTimeText(pts) + QLatin1Char('/') + longTimeText(TotalDuration));
}

void TfrmMain::ImageProgressMouseDown(TMouseButton, TShiftState, int x, int)
{
    if (!btnStartConvert->isEnabled())
        return;
    const std::int64_t position = std::max<std::int64_t>(0, TotalDuration * x / (ImageProgress->width() - 4));
    FFPlayer->Seek(position, 0, false);
}

void TfrmMain::btnVol1Click(TMBButton*)
{
    int volume = FFPlayer->AudioVolume();
    if (volume >= 10)
        volume -= 10;
    if (volume < 10)
        volume = 0;
    FFPlayer->SetAudioVolume(static_cast<std::uint8_t>(volume));
}

void TfrmMain::btnVol2Click(TMBButton*)
{
    int volume = FFPlayer->AudioVolume();
    if (volume <= 110)
        volume += 10;
    FFPlayer->SetAudioVolume(static_cast<std::uint8_t>(volume));
}

void TfrmMain::btnPlayClick(TMBButton*)
{
    btnPause->setEnabled(true);
    btnPause->setDown(false);
    btnPlay->setEnabled(true);
    btnPlay->setDown(true);
    if (isPreviewMode()) {
        btnStop->setEnabled(true);
        FFPlayer->Resume();
    } else {
        FFVCL->Resume();
    }
}

void TfrmMain::btnPauseClick(TMBButton*)
{
    btnPause->setEnabled(true);
    btnPause->setDown(true);
    btnPlay->setEnabled(true);
    btnPlay->setDown(false);
    if (isPreviewMode())
        FFPlayer->Pause();
    else
        FFVCL->Pause();
}

void TfrmMain::btnStopClick(TMBButton*)
{
    btnStop->setEnabled(false);
    if (!isPreviewMode()) {
        FFVCL->Stop(true);
        return;
    }
    FFPlayer->Seek(1, 0, false);
    QCoreApplication::processEvents();
    FFPlayer->Pause();
    btnPlay->setEnabled(true);
    btnPause->setEnabled(false);
    btnPlay->setDown(false);
    btnPause->setDown(false);
}

} // namespace kv::app
