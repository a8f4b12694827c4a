// The preview player's controls: position reports on the label and the strip, Play, Pause
// and Stop with their sub-states, seeking by a click on the strip, the volume steps.
#include "WindowHarness.h"

#include <QRegularExpression>

using namespace kv::app;
using namespace kv::test;
namespace fs = std::filesystem;

namespace {

// Seconds played as the label shows them ("00:00:04/00:00:06" gives 4), or -1.
int labelSeconds(TfrmMain& f)
{
    static const QRegularExpression re("^00:00:(\\d\\d)/");
    const auto m = re.match(f.LProgress->text());
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

TEST(PreviewControls, PlayPauseStopSeekAndTheLabel)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "clip.mp4", 6.0);
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));

    // Before any source a click on the strip does nothing.
    QTest::mouseClick(f.ImageProgress, Qt::LeftButton, {}, {80, 5});
    EXPECT_EQ(f.ImageProgress->Tag, 0);

    w.addByCommandLine(clip);
    ASSERT_TRUE(waitUntil([&] { return f.LProgress->text().endsWith("/00:00:06"); }, 10000))
        << f.LProgress->text().toStdString();
    EXPECT_EQ(f.TotalDuration / 1000000, 6);

    // Pause: the picture halts.
    QTest::mouseClick(f.btnPause, Qt::LeftButton);
    expectButtons({{f.btnPlay, true, true, 0}, {f.btnPause, true, true, 1}, {f.btnStop, true, true}});
    EXPECT_TRUE(f.FFPlayer->Paused());

    // Play from paused.
    QTest::mouseClick(f.btnPlay, Qt::LeftButton);
    expectButtons({{f.btnPlay, true, true, 1}, {f.btnPause, true, true, 0}, {f.btnStop, true, true}});
    EXPECT_FALSE(f.FFPlayer->Paused());

    // A click on column 123 of the 164 seeks to 6 s x 123 / 164 = 4.5 s.
    QTest::mouseClick(f.ImageProgress, Qt::LeftButton, {}, {123, 5});
    ASSERT_TRUE(waitUntil([&] { return labelSeconds(f) >= 4; }, 10000)) << f.LProgress->text().toStdString();
    EXPECT_GE(f.ImageProgress->Tag, 100);

    // Stop: back to the start, halted; Pause and Stop disabled.
    QTest::mouseClick(f.btnStop, Qt::LeftButton);
    expectButtons({{f.btnPlay, true, true, 0}, {f.btnPause, true, false, 0}, {f.btnStop, true, false}});
    EXPECT_TRUE(f.FFPlayer->Paused());
    ASSERT_TRUE(waitUntil([&] { return labelSeconds(f) == 0; }, 10000)) << f.LProgress->text().toStdString();

    // Play after Stop plays from the start.
    QTest::mouseClick(f.btnPlay, Qt::LeftButton);
    expectButtons({{f.btnPlay, true, true, 1}, {f.btnPause, true, true, 0}, {f.btnStop, true, true}});
    EXPECT_FALSE(f.FFPlayer->Paused());
    ASSERT_TRUE(waitUntil([&] { return labelSeconds(f) >= 1; }, 10000));

    // Starting a conversion stops the preview for good and the strip no longer seeks.
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    EXPECT_EQ(f.ImageProgress->cursor().shape(), Qt::ArrowCursor);
    ASSERT_TRUE(w.waitFinished());
}

TEST(PreviewControls, VolumeButtonsStepByTen)
{
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    ASSERT_EQ(f.FFPlayer->AudioVolume(), 128);
    auto click = [&](TMBButton* b, int times) {
        for (int i = 0; i < times; ++i)
            QTest::mouseClick(b, Qt::LeftButton);
        return f.FFPlayer->AudioVolume();
    };
    EXPECT_EQ(click(f.btnVol1, 5), 78);
    EXPECT_EQ(click(f.btnVol2, 10), 118);
    EXPECT_EQ(click(f.btnVol1, 10), 18);
    EXPECT_EQ(click(f.btnVol1, 1), 0); // 18 goes straight to 0
    EXPECT_EQ(click(f.btnVol2, 20), 120);
}

TEST(PreviewControls, PositionReportsFollowTheDocumentedArithmetic)
{
    WindowHarness w;
    TfrmMain& f = *w;
    int sw = 168, sh = 95;
    f.FFPlayerFileOpen(6300000000LL, 320, 240, sw, sh);
    EXPECT_EQ(f.TotalDuration, 6300000000LL);
    f.FFPlayerPosition(83500000);
    EXPECT_EQ(f.LProgress->text(), "00:01:23/01:45:00");
    EXPECT_EQ(f.ImageProgress->Tag, 2);

    // 25 hours show as 01:00:00.
    f.FFPlayerFileOpen(25LL * 3600 * 1000000, 320, 240, sw, sh);
    f.FFPlayerPosition(0);
    EXPECT_EQ(f.LProgress->text(), "00:00:00/01:00:00");

    // A negative time keeps the label; the strip still follows.
    f.FFPlayerPosition(-5);
    EXPECT_EQ(f.LProgress->text(), "00:00:00/01:00:00");

    // A file that reports no duration: no division by zero, the strip stays.
    f.FFPlayerFileOpen(0, 320, 240, sw, sh);
    const int strip = f.ImageProgress->Tag;
    f.FFPlayerPosition(2000000);
    EXPECT_EQ(f.LProgress->text(), "00:00:02/00:00:00");
    EXPECT_EQ(f.ImageProgress->Tag, strip);
    f.FFPlayerFileOpen(-1, 320, 240, sw, sh);
    f.FFPlayerPosition(3000000);
    EXPECT_EQ(f.LProgress->text(), "00:00:03");
}
