// The window converts: a real source through the add routine (command line and dialog
// routes), the log pane, the button table from start to finish, the progress label, the
// PSP check of the output, pause and resume, a fatal error, an empty task list and a close
// in the middle of a conversion.
#include "WindowHarness.h"

#include <fstream>

using namespace kv::app;
using namespace kv::test;
namespace fs = std::filesystem;

namespace {

fs::path outputFor(const fs::path& source, const std::string& tag = "(Kestrovid)")
{
    return source.parent_path() / (source.stem().string() + "_" + tag + "_psp.mp4");
}

// The states of the button table while a conversion runs.
void expectConverting(WindowHarness& w)
{
    TfrmMain& f = *w;
    expectButtons({{f.btnAdd, true, false},
                   {f.btnAddSub, true, false},
                   {f.btnStartConvert, false, false},
                   {f.btnPauseConvert, true, true},
                   {f.btnResumeConvert, false, true},
                   {f.btnStop, true, false},
                   {f.btnPause, true, false},
                   {f.btnPlay, true, false}});
    EXPECT_EQ(f.btnPauseConvert->geometry(), QRect(285, 181, 169, 27));
    EXPECT_EQ(f.btnResumeConvert->geometry(), QRect(285, 181, 169, 27));
    EXPECT_EQ(f.Panel->Tag, kConversionMode);
    EXPECT_TRUE(f.TimerStatystyki->isActive());
    EXPECT_EQ(f.ImageProgress->cursor().shape(), Qt::ArrowCursor);
}

void expectSourceAdded(WindowHarness& w, bool hi)
{
    TfrmMain& f = *w;
    expectButtons({{f.btnAdd, true, true},
                   {f.btnAddSub, true, true},
                   {f.btnStartConvert, true, true},
                   {f.btnPauseConvert, false, true},
                   {f.btnResumeConvert, false, true},
                   {f.btnStop, true, true},
                   {f.btnPause, true, true, 0},
                   {f.btnPlay, true, true, 1},
                   {f.btnHi, true, hi, hi ? 1 : 0},
                   {f.btnLo, true, !hi, hi ? 0 : 1}});
    EXPECT_EQ(f.ImageProgress->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(f.Panel->Tag, kPreviewMode);
    EXPECT_FALSE(f.Panel->isHidden());
}

void expectFinished(WindowHarness& w)
{
    TfrmMain& f = *w;
    EXPECT_EQ(f.LProgress->text(), f.ProgressPrefix + "100%");
    expectButtons({{f.btnAdd, true, true},
                   {f.btnAddSub, true, false},
                   {f.btnStartConvert, true, false},
                   {f.btnPauseConvert, false, true},
                   {f.btnResumeConvert, false, true},
                   {f.btnStop, true, false},
                   {f.btnPause, true, false},
                   {f.btnPlay, true, false},
                   {f.btnHi, true, true},
                   {f.btnLo, true, true},
                   {f.btnSubOn, false, true}});
    EXPECT_EQ(f.ImageProgress->Tag, 164);
    EXPECT_EQ(f.Panel->Tag, kConversionMode);
    EXPECT_TRUE(f.TimerStatystyki->isActive()); // the end of a task leaves the estimate's timer alone
}

} // namespace

TEST(WindowConverts, CommandLineSourceConvertsToTheHiProfile)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "clip.mp4", 3.0, "320x240", "25");
    WindowHarness w;
    TfrmMain& f = *w;
    w.addByCommandLine(clip);
    EXPECT_TRUE(w.logHasBlock("***File has been added to convert list."))
        << f.mmoLog->toPlainText().toStdString();
    expectSourceAdded(w, true);
    EXPECT_DOUBLE_EQ(f.frmOption->SourceFrameRate, 25.0);
    // The preview plays in the panel.
    EXPECT_TRUE(waitUntil([&] { return f.PlayerScreen->presentedCount() > 0; }, 10000));

    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    expectConverting(w);
    EXPECT_TRUE(f.LProgress->text().startsWith(f.ProgressPrefix));
    ASSERT_TRUE(w.waitFinished()) << f.LProgress->text().toStdString();
    expectFinished(w);

    const fs::path out = outputFor(clip);
    ASSERT_TRUE(fs::exists(out));
    const CommandResult check = pspCheck(out, "hi");
    EXPECT_EQ(check.exitCode, 0) << check.output;
}

TEST(WindowConverts, DialogFileNameWithoutSenderConvertsToTheLoProfile)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "clip.mkv", 3.0, "320x240", "30");
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    QTest::mouseClick(f.btnLo, Qt::LeftButton);
    EXPECT_TRUE(f.btnLo->Down());
    EXPECT_FALSE(f.btnHi->Down());
    w.addWithoutSender(clip);
    expectSourceAdded(w, false);
    // The profile stays locked: a click on the enabled Lo keeps it.
    QTest::mouseClick(f.btnLo, Qt::LeftButton);
    EXPECT_TRUE(f.btnLo->Down());
    EXPECT_FALSE(f.btnHi->Down());

    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(w.waitFinished());
    expectFinished(w);
    const CommandResult check = pspCheck(outputFor(clip), "lo");
    EXPECT_EQ(check.exitCode, 0) << check.output;

    // A second conversion of the same source gets the next free name.
    w.addWithoutSender(clip);
    expectSourceAdded(w, false);
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !f.btnStartConvert->isHidden(); }, 120000));
    EXPECT_TRUE(fs::exists(outputFor(clip, "(Kestrovid_1)")));
}

TEST(WindowConverts, SourcesThatCannotBeTakenAreReportedInTheLogPane)
{
    TempDir dir;
    const fs::path notMedia = dir / "notes.avi";
    std::ofstream(notMedia) << "not a video at all";
    const fs::path audio = dir / "tone.wav";
    ASSERT_TRUE(makeMedia({"-f", "lavfi", "-i", "sine=frequency=440:duration=1", audio.string()}));
    WindowHarness w;
    TfrmMain& f = *w;

    w.addWithoutSender(notMedia);
    const QStringList lines = w.logLines();
    ASSERT_GE(lines.size(), 2);
    EXPECT_TRUE(lines[lines.size() - 2].startsWith("***File load error: ")) << lines.join('\n').toStdString();
    EXPECT_GT(lines[lines.size() - 2].size(), QString("***File load error: ").size()); // with the reason
    EXPECT_TRUE(lines.last().isEmpty());
    EXPECT_FALSE(f.btnStartConvert->isEnabled());
    EXPECT_FALSE(f.btnAddSub->isEnabled());

    // An audio-only source: its first stream is not video, so the frame rate is 1.
    w.addWithoutSender(audio);
    EXPECT_TRUE(w.logHasBlock("***File has been added to convert list."));
    EXPECT_DOUBLE_EQ(f.frmOption->SourceFrameRate, 1.0);
}

TEST(WindowConverts, PauseHaltsProgressAndTheEstimateUntilResume)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "long.mp4", 40.0, "320x240", "25");
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    w.addByCommandLine(clip);
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return f.CurrentPosition > 0; }, 30000));

    QTest::mouseClick(f.btnPauseConvert, Qt::LeftButton);
    expectButtons(
        {{f.btnPauseConvert, false, true}, {f.btnResumeConvert, true, true}, {f.btnAdd, true, false}});
    EXPECT_FALSE(f.TimerStatystyki->isActive());
    const QString label = f.LProgress->text();
    const std::int64_t position = f.CurrentPosition;
    QTest::qWait(1500); // nothing may move while paused
    EXPECT_EQ(f.LProgress->text(), label);
    EXPECT_EQ(f.CurrentPosition, position);

    QTest::mouseClick(f.btnResumeConvert, Qt::LeftButton);
    expectConverting(w);
    ASSERT_TRUE(waitUntil([&] { return f.CurrentPosition > position; }, 30000));
    ASSERT_TRUE(w.waitFinished());
    expectFinished(w);
    EXPECT_FALSE(f.Image1->Picture.isNull()); // the engine's preview frames reached the panel
    EXPECT_EQ(pspCheck(outputFor(clip), "hi").exitCode, 0);
}

TEST(WindowConverts, FatalErrorShowsTheWarningAndTheNextSourceCanBeAdded)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "clip.mp4", 2.0);
    WindowHarness w;
    TfrmMain& f = *w;
    w.addByCommandLine(clip);
    ASSERT_TRUE(f.btnStartConvert->isEnabled());
    // The output's name is taken after the task was queued: the engine must not overwrite it.
    const fs::path out = outputFor(clip);
    std::ofstream(out) << "the user's own file";

    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return !w.warnings.empty(); }, 30000));
    EXPECT_EQ(w.warnings.front().caption, "KestrovidToPSP");
    EXPECT_FALSE(w.warnings.front().text.isEmpty());
    QTest::qWait(200);
    EXPECT_EQ(w.warnings.size(), 1u);
    std::ifstream in(out);
    std::string kept((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(kept, "the user's own file");

    EXPECT_NE(f.LProgress->text(), f.ProgressPrefix + "100%");
    expectButtons(
        {{f.btnAdd, true, true}, {f.btnStartConvert, true, false}, {f.btnPauseConvert, false, true}});
    w.addByCommandLine(clip);
    EXPECT_EQ(w.countLines("***File has been added to convert list."), 2);
    expectSourceAdded(w, true);
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(w.waitFinished());
    EXPECT_EQ(pspCheck(outputFor(clip, "(Kestrovid_1)"), "hi").exitCode, 0);
}

TEST(WindowConverts, StartingWithAnEmptyTaskListSaysWhyAndLetsTheUserAdd)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "clip.mp4", 2.0);
    WindowHarness w;
    TfrmMain& f = *w;
    w.addByCommandLine(clip);
    // The add button with its dialog cancelled: the task list is empty, Start still enabled.
    f.btnAddClick(f.btnAdd);
    EXPECT_TRUE(f.btnStartConvert->isEnabled());
    EXPECT_EQ(f.FFVCL->TaskCount(), 0);

    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    EXPECT_TRUE(w.logHasBlock("***Nothing to convert: add a source file first."));
    EXPECT_FALSE(f.btnStartConvert->isEnabled());
    EXPECT_TRUE(f.btnAdd->isEnabled());
    EXPECT_EQ(f.Panel->Tag, kPreviewMode);
    EXPECT_FALSE(f.TimerStatystyki->isActive());
    EXPECT_TRUE(w.warnings.empty());

    w.dialogAnswer = qpath(clip);
    QTest::mouseClick(f.btnAdd, Qt::LeftButton);
    EXPECT_EQ(w.countLines("***File has been added to convert list."), 2);
    EXPECT_TRUE(f.btnStartConvert->isEnabled());
}

TEST(WindowConverts, ClosingDuringAConversionStopsItAndLeavesAPlayableFile)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "long.mp4", 40.0, "320x240", "25");
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    w.addByCommandLine(clip);
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return f.CurrentPosition > 0; }, 30000));

    EXPECT_TRUE(f.close());
    EXPECT_FALSE(f.FFVCL->Working());
    const QString label = f.LProgress->text();
    const int stripAt = f.ImageProgress->Tag;
    QTest::qWait(500); // any late report would show here
    EXPECT_EQ(f.LProgress->text(), label);
    EXPECT_EQ(f.ImageProgress->Tag, stripAt);
    EXPECT_TRUE(w.warnings.empty());

    const fs::path out = outputFor(clip);
    ASSERT_TRUE(fs::exists(out));
    const std::string duration = probeValue(out, "v:0", "format=duration");
    ASSERT_FALSE(duration.empty());
    EXPECT_GT(std::stod(duration), 0.0);
}

TEST(WindowConverts, EverySecondPreviewFrameIsShownAndTheLabelFollowsTheReports)
{
    WindowHarness w;
    TfrmMain& f = *w;
    kv::media::TRGBImage frame;
    frame.Width = 4;
    frame.Height = 2;
    frame.Stride = 12;
    frame.Pixels.assign(24, 200);
    kv::media::TPreviewInfo info;
    info.Bitmap = &frame;
    f.FFVCLPreviewBitmap(info);
    EXPECT_TRUE(f.Image1->Picture.isNull()); // the first frame since the window was made is skipped
    f.FFVCLPreviewBitmap(info);
    ASSERT_FALSE(f.Image1->Picture.isNull());
    EXPECT_EQ(f.Image1->Picture.size(), QSize(4, 2));
    frame.Pixels.assign(24, 10);
    f.FFVCLPreviewBitmap(info);
    EXPECT_EQ(f.Image1->Picture.pixelColor(0, 0), QColor(200, 200, 200));

    struct Case {
        std::int64_t current, total;
        QString label;
        int strip; // expected strip position afterwards
    };
    const std::vector<Case> cases = {
        {30000000, 120000000, "Progress: 25% ", 42}, {119999999, 120000000, "Progress: 99% ", 163},
        {5000000, -1, "Progress: 00:00:05", 163}, // unknown duration: converted time, strip untouched
        {5000000, 0, "Progress: 00:00:05", 163},     {-7, 1000, "Progress: 0% ", 1},
    };
    for (const Case& c : cases) {
        kv::media::TProgressInfo r;
        r.CurrentDuration = c.current;
        r.TotalDuration = c.total;
        f.FFVCLProgress(r);
        EXPECT_EQ(f.LProgress->text(), c.label + (c.total > 0 ? f.Estimate.text() : QString()));
        EXPECT_EQ(f.ImageProgress->Tag, c.strip) << c.current << "/" << c.total;
        EXPECT_EQ(f.CurrentPosition, c.current);
        EXPECT_EQ(f.TotalDuration, c.total);
    }

    // A report with task index -1 changes nothing but may carry a warning.
    f.LProgress->setText("x");
    f.FFVCLTerminate({-1, true, false, {}});
    EXPECT_EQ(f.LProgress->text(), "x");
    EXPECT_TRUE(w.warnings.empty());
    f.FFVCLTerminate({-1, false, true, "broken"});
    EXPECT_EQ(f.LProgress->text(), "x");
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_EQ(w.warnings[0].text, "broken");
}

TEST(WindowConverts, SharedButtonsActOnTheEngineInConversionMode)
{
    TempDir dir;
    const fs::path clip = makeClip(dir / "long.mp4", 40.0, "320x240", "25");
    WindowHarness w;
    TfrmMain& f = *w;
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    w.addByCommandLine(clip);
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(waitUntil([&] { return f.CurrentPosition > 0; }, 30000));
    // The shared buttons are disabled while converting; enabled again they reach the engine.
    for (TMBButton* b : {f.btnStop, f.btnPause, f.btnPlay})
        b->setEnabled(true);

    QTest::mouseClick(f.btnPause, Qt::LeftButton);
    expectButtons({{f.btnPause, true, true, 1}, {f.btnPlay, true, true, 0}});
    EXPECT_TRUE(f.FFVCL->Paused());
    QTest::mouseClick(f.btnPlay, Qt::LeftButton);
    expectButtons({{f.btnPause, true, true, 0}, {f.btnPlay, true, true, 1}});
    EXPECT_FALSE(f.FFVCL->Paused());
    // Stopped while paused again, so the task cannot have finished meanwhile.
    QTest::mouseClick(f.btnPause, Qt::LeftButton);
    ASSERT_TRUE(f.FFVCL->Paused());
    QTest::mouseClick(f.btnStop, Qt::LeftButton);
    EXPECT_FALSE(f.btnStop->isEnabled());
    EXPECT_FALSE(f.FFVCL->Working());
    QTest::qWait(300); // the end report of a stopped task changes nothing
    EXPECT_NE(f.LProgress->text(), f.ProgressPrefix + "100%");
    EXPECT_FALSE(f.btnAdd->isEnabled());
    EXPECT_TRUE(w.warnings.empty());
}
