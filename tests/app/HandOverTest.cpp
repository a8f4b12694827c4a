// File hand-over: drops, the command line and the subtitle button route each name by its
// extension and by the state of the add and subtitle buttons; the update check 3 s after
// start and the info picture.
#include "WindowHarness.h"

#include "app/UpdateCheck.h"
#include "appcore/LoopbackHttpServer.h"

#include <fstream>

using namespace kv::app;
using namespace kv::test;
namespace fs = std::filesystem;

namespace {

const QString kAdded = "***File has been added to convert list.";

fs::path writeText(const fs::path& file, const std::string& text)
{
    std::ofstream(file, std::ios::binary) << text;
    return file;
}

const std::string kSubRip = "1\r\n00:00:02,000 --> 00:00:03,000\r\nHello there\r\n\r\n"
                            "2\r\n00:00:05,500 --> 00:00:06,000\r\nSecond line\r\n\r\n";
const std::string kOtherSubRip = "1\r\n00:00:09,000 --> 00:00:10,000\r\nOther file\r\n\r\n";
const std::string kSubStationWithoutEvents =
    "[Script Info]\r\nTitle: x\r\n\r\n[V4+ Styles]\r\nFormat: Name\r\n";

struct Files {
    TempDir dir;
    fs::path clip = makeClip(dir / "clip.mp4", 2.0);
    fs::path subs = writeText(dir / "subs.srt", kSubRip);
    fs::path mixedCase = writeText(dir / "first.SrT", kSubRip);
    fs::path other = writeText(dir / "second.srt", kOtherSubRip);
    fs::path noEvents = writeText(dir / "broken.ass", kSubStationWithoutEvents);
};

} // namespace

TEST(FileHandOver, DroppedSourcesNeedOneExistingFileAndTheAddButton)
{
    Files files;
    fs::copy_file(files.clip, files.dir / "movie.srt.mkv");
    fs::copy_file(files.clip, files.dir / "noextension");
    fs::create_directory(files.dir / "folder.mp4");
    WindowHarness w;
    TfrmMain& f = *w;

    struct Case {
        const char* what;
        QStringList drop;
        bool added;
    };
    const std::vector<Case> cases = {
        {"two media files", {qpath(files.clip), qpath(files.dir / "movie.srt.mkv")}, false},
        {"a folder", {qpath(files.dir / "folder.mp4")}, false},
        {"a missing file", {qpath(files.dir / "gone.mp4")}, false},
        {"subtitles before any source", {qpath(files.subs)}, false},
        {"a name whose last extension is a media one", {qpath(files.dir / "movie.srt.mkv")}, true},
        {"a file without an extension", {qpath(files.dir / "noextension")}, true},
        {"the plain clip", {qpath(files.clip)}, true},
    };
    int added = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        w.drop(c.drop);
        added += c.added ? 1 : 0;
        EXPECT_EQ(w.countLines(kAdded), added);
        EXPECT_TRUE(f.btnSubOn->isHidden());
    }
    EXPECT_EQ(f.FFVCL->TaskCount(), 1);
}

TEST(FileHandOver, DroppedSubtitlesLoadTheFirstFileWhileTheSubtitleButtonIsEnabled)
{
    Files files;
    WindowHarness w;
    TfrmMain& f = *w;
    w.addByCommandLine(files.clip);
    ASSERT_TRUE(f.btnAddSub->isEnabled());

    w.drop({qpath(files.mixedCase), qpath(files.other)});
    EXPECT_FALSE(f.btnSubOn->isHidden());
    EXPECT_TRUE(f.btnSubOn->Down());
    EXPECT_TRUE(f.Burner.btnSubOn().load());
    ASSERT_EQ(f.frmOption->TimeTXTEditor.rowCount(), 3);
    EXPECT_EQ(f.frmOption->TimeTXTEditor.key(1), "2000");
    EXPECT_EQ(f.frmOption->TimeTXTEditor.value(1), "Hello there");

    // The user may switch burning off and on again.
    QTest::mouseClick(f.btnSubOn, Qt::LeftButton);
    EXPECT_FALSE(f.btnSubOn->Down());
    EXPECT_FALSE(f.Burner.btnSubOn().load());
    QTest::mouseClick(f.btnSubOn, Qt::LeftButton);
    EXPECT_TRUE(f.Burner.btnSubOn().load());

    // A SubStation file without events: a warning box, and the table stays as it was.
    w.drop({qpath(files.noEvents)});
    ASSERT_EQ(w.warnings.size(), 1u);
    EXPECT_EQ(w.warnings[0].caption, "KestrovidToPSP");
    EXPECT_TRUE(w.warnings[0].text.contains("[Events]"));
    EXPECT_EQ(f.frmOption->TimeTXTEditor.value(1), "Hello there");

    // A missing subtitle file is reported in the log pane only.
    w.drop({qpath(files.dir / "missing.txt")});
    EXPECT_EQ(w.warnings.size(), 1u);
    EXPECT_TRUE(w.logLines().join('\n').contains("***Subtitle load error: "));
    EXPECT_EQ(f.frmOption->TimeTXTEditor.value(1), "Hello there");
}

TEST(FileHandOver, NothingIsTakenFromADropDuringAConversion)
{
    Files files;
    const fs::path longClip = makeClip(files.dir / "long.mp4", 40.0, "320x240");
    WindowHarness w;
    TfrmMain& f = *w;
    w.addByCommandLine(longClip);
    QTest::mouseClick(f.btnStartConvert, Qt::LeftButton);
    ASSERT_TRUE(f.FFVCL->Working());
    w.drop({qpath(files.clip)});
    w.drop({qpath(files.subs)});
    EXPECT_EQ(w.countLines(kAdded), 1);
    EXPECT_TRUE(f.btnSubOn->isHidden());
    ASSERT_TRUE(w.waitFinished());

    // After the conversion subtitles wait for the next source.
    w.drop({qpath(files.subs)});
    EXPECT_TRUE(f.btnSubOn->isHidden());
    w.drop({qpath(files.clip)});
    EXPECT_EQ(w.countLines(kAdded), 2);
    w.drop({qpath(files.subs)});
    EXPECT_FALSE(f.btnSubOn->isHidden());
}

TEST(FileHandOver, CommandLineAddsTheSourceThenLoadsTheSubtitles)
{
    Files files;
    {
        WindowHarness w;
        w->HandOverCommandLine({qpath(files.clip), qpath(files.subs)});
        EXPECT_EQ(w.countLines(kAdded), 1);
        EXPECT_FALSE(w->btnSubOn->isHidden());
        EXPECT_TRUE(w->btnSubOn->Down());
        EXPECT_EQ(w->frmOption->TimeTXTEditor.rowCount(), 3);
    }
    {
        const fs::path doc = writeText(files.dir / "notes.doc", kSubRip);
        WindowHarness w;
        w->HandOverCommandLine({qpath(files.clip), qpath(doc)});
        EXPECT_EQ(w.countLines(kAdded), 1);
        EXPECT_TRUE(w->btnSubOn->isHidden());
    }
    {
        WindowHarness w;
        w->HandOverCommandLine({qpath(files.dir / "missing.mp4"), qpath(files.subs)});
        EXPECT_EQ(w.countLines(kAdded), 0);
        EXPECT_FALSE(w->btnAddSub->isEnabled());
        EXPECT_TRUE(w->btnSubOn->isHidden());
    }
    {
        // The SubStation failure is swallowed on the command line: no box.
        WindowHarness w;
        w->HandOverCommandLine({qpath(files.clip), qpath(files.noEvents)});
        EXPECT_EQ(w.countLines(kAdded), 1);
        EXPECT_TRUE(w.warnings.empty());
        EXPECT_TRUE(w->btnSubOn->isHidden());
    }
}

TEST(FileHandOver, OptionsStartupReadsTheSettingsWritesTheRegistrationThenHandsOver)
{
    Files files;
    WindowHarness w;
    w->OptionsStartup("/opt/kestrovid/kestrovid", {qpath(files.clip), qpath(files.subs)});
    EXPECT_EQ(w.store.readString("\\Software\\Kestrovid\\PSP", "Version").value_or(""), "1.3");
    EXPECT_EQ(w.countLines(kAdded), 1);
    EXPECT_FALSE(w->btnSubOn->isHidden());
}

TEST(FileHandOver, SubtitleButtonUsesItsDialogAndACancelChangesNothing)
{
    Files files;
    WindowHarness w;
    TfrmMain& f = *w;
    EXPECT_EQ(f.OpenTXT.Title, "Kestroplay - Wybierz Tekst");
    EXPECT_EQ(f.OpenTXT.Filter, "Teksty do Filmów|*.txt;*sub;*.srt;*.ssa;*.smi;*.ass|Wszystkie Pliki|*.*");
    EXPECT_EQ(f.OpenTXT.DefaultExt, "*.txt;*.sub;*.srt;*.ssa;*.smi;*.ass");
    f.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
    w.addByCommandLine(files.clip);

    QTest::mouseClick(f.btnAddSub, Qt::LeftButton); // cancelled
    EXPECT_TRUE(f.btnSubOn->isHidden());
    w.dialogAnswer = qpath(files.subs);
    QTest::mouseClick(f.btnAddSub, Qt::LeftButton);
    EXPECT_FALSE(f.btnSubOn->isHidden());
    EXPECT_EQ(f.OpenTXT.FileName, qpath(files.subs));
    w.dialogAnswer = qpath(files.noEvents);
    QTest::mouseClick(f.btnAddSub, Qt::LeftButton);
    EXPECT_EQ(w.warnings.size(), 1u);
}

TEST(FileHandOver, ExtensionsAreComparedInUpperCaseOnTheLastComponent)
{
    EXPECT_EQ(upperExtension("/a.b/c.Srt"), ".SRT");
    EXPECT_EQ(upperExtension("/a.b/noext"), "");
    EXPECT_EQ(upperExtension("x.srt.avi"), ".AVI");
    for (const char* name : {"a.txt", "a.SUB", "a.sRt", "a.ssa", "a.SMI", "a.Ass"})
        EXPECT_TRUE(isSubtitleFile(name)) << name;
    for (const char* name : {"a.doc", "a.srt.avi", "srt", "/x.srt/file"})
        EXPECT_FALSE(isSubtitleFile(name)) << name;
}

namespace {

QDateTime at(int year, int month, int day)
{
    return QDateTime(QDate(year, month, day), QTime(12, 0));
}

void prepareUpdateStore(MemorySettingsStore& store, const QString& host, const QDateTime& last)
{
    store.writeString("\\Software\\Kestrovid\\PSP", "UpdateHost", host);
    store.writeBinary("\\Software\\Kestrovid\\PSP", "LastLU", encodeLastCheck(last));
}

} // namespace

TEST(UpdateCheckInWindow, ThreeSecondsAfterStartTheReplysPageIsOpenedOnce)
{
    LoopbackHttpServer server([](const RecordedRequest&) {
        return CannedReply::ok("Version 1.4 is out\r\nOpenWWW=http://127.0.0.1/new.html");
    });
    ASSERT_TRUE(server.listening());
    TfrmMainSetup setup;
    MemorySettingsStore store;
    prepareUpdateStore(store, server.authority(), at(2026, 8, 9));
    kv::platform::RecordingUrlOpener opener;
    setup.store = &store;
    setup.urlOpener = &opener;
    setup.clock = [] { return at(2026, 8, 10); };
    TfrmMain f(std::move(setup));
    EXPECT_TRUE(f.TimerCheckVersion->isActive());
    EXPECT_EQ(f.TimerCheckVersion->interval(), 3000);

    ASSERT_TRUE(waitUntil([&] { return !opener.opened.isEmpty(); }, 10000));
    EXPECT_EQ(opener.opened, QStringList{"http://127.0.0.1/new.html"});
    EXPECT_FALSE(f.TimerCheckVersion->isActive());
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].method, "POST");
    EXPECT_EQ(server.requests()[0].target, "/LiveUpdate/check.php");
    EXPECT_EQ(server.requests()[0].body, "prg=KestrovidToPSP&ver=1.3");
    EXPECT_EQ(decodeLastCheckDate(*store.readBinary("\\Software\\Kestrovid\\PSP", "LastLU")),
              QDate(2026, 8, 10));
}

TEST(UpdateCheckInWindow, ClosingTheWindowAbandonsAPendingRequest)
{
    LoopbackHttpServer server(
        [](const RecordedRequest&) { return CannedReply::ok("OpenWWW=http://127.0.0.1/late.html", 30000); });
    TfrmMainSetup setup;
    MemorySettingsStore store;
    prepareUpdateStore(store, server.authority(), at(2026, 8, 9));
    kv::platform::RecordingUrlOpener opener;
    setup.store = &store;
    setup.urlOpener = &opener;
    setup.clock = [] { return at(2026, 8, 10); };
    TfrmMain f(std::move(setup));
    f.show();
    // The request waits inside the timer's handler; the close comes from the events it serves.
    bool closed = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        if (!closed && !server.requests().isEmpty()) {
            closed = true;
            f.close();
        }
    });
    closer.start(20);
    // Far less than the server's 30 s: the close gave the request up.
    EXPECT_TRUE(waitUntil([&] { return closed; }, 15000));
    EXPECT_FALSE(f.isVisible());
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST(UpdateCheckInWindow, InfoButtonShowsThePictureOfTheUsersLanguageAndItOpensTheInfoPage)
{
    for (const QLocale& locale : {QLocale(QLocale::Polish, QLocale::Poland), QLocale(QLocale::English)}) {
        const bool polish = locale.language() == QLocale::Polish;
        SCOPED_TRACE(polish ? "Polish" : "English");
        WindowHarness w(locale);
        TfrmMain& f = *w;
        f.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&f));
        TImage* shown = polish ? f.ImageInfoPL : f.ImageInfoEn;
        TImage* other = polish ? f.ImageInfoEn : f.ImageInfoPL;

        QTest::mouseClick(f.btnInfo, Qt::LeftButton);
        EXPECT_TRUE(f.btnInfo->Down());
        EXPECT_FALSE(shown->isHidden());
        EXPECT_TRUE(other->isHidden());
        EXPECT_EQ(shown->x(), 127);
        EXPECT_EQ(shown->y(), 26);
        EXPECT_TRUE(f.Panel->isHidden());

        QTest::mouseClick(shown, Qt::LeftButton, {}, {20, 20});
        ASSERT_EQ(w.opener.opened.size(), 1);
        EXPECT_TRUE(w.opener.opened[0].endsWith("/LiveUpdate/info.php?prg=KestrovidToPSP&ver=1.3&info=1"))
            << w.opener.opened[0].toStdString();
        EXPECT_FALSE(shown->isHidden()); // the picture stays

        QTest::mouseClick(f.btnInfo, Qt::LeftButton);
        EXPECT_TRUE(f.ImageInfoPL->isHidden());
        EXPECT_TRUE(f.ImageInfoEn->isHidden());
        EXPECT_FALSE(f.Panel->isHidden()); // shown even before any file was added
    }
}
