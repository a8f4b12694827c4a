// The update check against a real HTTP server on the loopback interface, with the clock and
// the browser replaced.
#include "app/UpdateCheck.h"
#include "LoopbackHttpServer.h"
#include "MemorySettingsStore.h"
#include "QtPrinters.h"

#include <QTimer>
#include <gtest/gtest.h>

#include <cstring>

using kv::app::UpdateCheck;
using kv::app::UpdateService;
using kv::test::CannedReply;
using kv::test::LoopbackHttpServer;
using kv::test::RecordedRequest;
using Outcome = UpdateCheck::Outcome;

namespace {

QDateTime at(int year, int month, int day, int hour = 12)
{
    return QDateTime(QDate(year, month, day), QTime(hour, 0));
}

class UpdateCheckTest : public ::testing::Test {
  protected:
    // One program start at `now`, after a previous one at `last` (none when invalid).
    Outcome startAt(const QDateTime& now, const QDateTime& last = at(2013, 8, 4))
    {
        if (last.isValid())
            store.writeBinary(kv::app::kProgramKey, QStringLiteral("LastLU"), kv::app::encodeLastCheck(last));
        UpdateCheck check(
            store, http, opener, UpdateService{service}, [this](const QString& line) { log.append(line); },
            [now] { return now; });
        return check.run();
    }

    QDate storedDate() const
    {
        const auto stored = store.readBinary(kv::app::kProgramKey, QStringLiteral("LastLU"));
        return kv::app::decodeLastCheckDate(stored.value_or(QByteArray())).value_or(QDate());
    }

    QString infoPage(int info) const
    {
        return QStringLiteral("http://%1/LiveUpdate/info.php?prg=KestrovidToPSP&ver=1.3&info=%2")
            .arg(service)
            .arg(info);
    }

    CannedReply answer = CannedReply::ok("nothing new");
    LoopbackHttpServer server{[this](const RecordedRequest&) { return answer; }};
    QString service = server.authority();
    kv::test::MemorySettingsStore store;
    kv::platform::HttpPostClient http;
    kv::platform::RecordingUrlOpener opener;
    QStringList log;
};

} // namespace

TEST(LastCheckValue, IsADoubleCountOfDaysSince30December1899)
{
    const QByteArray stored = kv::app::encodeLastCheck(at(2013, 8, 10, 12));
    ASSERT_EQ(stored.size(), 8);
    double days = 0;
    std::memcpy(&days, stored.constData(), 8); // little-endian machine
    EXPECT_DOUBLE_EQ(days, 41496.5);
    EXPECT_EQ(kv::app::decodeLastCheckDate(stored), QDate(2013, 8, 10));

    for (const QByteArray& bad : {QByteArray(), QByteArray(4, '\1'), QByteArray(8, '\0'), QByteArray(9, '\0'),
                                  QByteArray("\xff\xff\xff\xff\xff\xff\xff\x7f", 8)})
        EXPECT_FALSE(kv::app::decodeLastCheckDate(bad).has_value()) << bad.toHex().toStdString();
}

TEST_F(UpdateCheckTest, MakesNoRequestOnFirstStartSameDayOrSameDayOfAnotherMonth)
{
    struct Case {
        const char* name;
        QDateTime last;
        QDateTime now;
    };
    const Case cases[] = {
        {"first start ever", QDateTime(), at(2013, 8, 10, 9)},
        {"same day", at(2013, 8, 10, 8), at(2013, 8, 10, 17)},
        {"5 March then 5 April", at(2013, 3, 5), at(2013, 4, 5)},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(startAt(c.now, c.last), Outcome::NotDue) << c.name;
        EXPECT_EQ(storedDate(), c.now.date()) << c.name; // rewritten all the same
        EXPECT_EQ(store.readBinary(kv::app::kProgramKey, QStringLiteral("LastLU")),
                  kv::app::encodeLastCheck(c.now))
            << c.name;
    }
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(UpdateCheckTest, UnreadableLastCheckCountsAsFirstStart)
{
    store.writeString(kv::app::kProgramKey, QStringLiteral("LastLU"), QStringLiteral("yesterday"));
    EXPECT_EQ(startAt(at(2013, 8, 10), QDateTime()), Outcome::NotDue);
    store.writeBinary(kv::app::kProgramKey, QStringLiteral("LastLU"), QByteArray(4, '\1'));
    EXPECT_EQ(startAt(at(2013, 8, 11), QDateTime()), Outcome::NotDue);
    EXPECT_EQ(storedDate(), QDate(2013, 8, 11));
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST_F(UpdateCheckTest, PostsIdentifierAndVersionAndOpensTheNamedPage)
{
    answer = CannedReply::ok("Kestrovid to PSP 1.4 is out.\r\nOpenWWW=http://www.kestrovid.example/psp/new");
    EXPECT_EQ(startAt(at(2013, 8, 10)), Outcome::PageOpened);

    ASSERT_EQ(server.requests().size(), 1);
    const RecordedRequest& request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/LiveUpdate/check.php");
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(request.headers.value("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.body, "prg=KestrovidToPSP&ver=1.3");
    EXPECT_EQ(opener.opened, QStringList{QStringLiteral("http://www.kestrovid.example/psp/new")});
    EXPECT_EQ(storedDate(), QDate(2013, 8, 10));
}

TEST_F(UpdateCheckTest, ReplyWithoutMarkerOpensNothing)
{
    answer = CannedReply::ok("OK, you have the newest version. OpenWWW");
    EXPECT_EQ(startAt(at(2013, 8, 10)), Outcome::NoPage);
    EXPECT_EQ(server.requests().size(), 1);
    EXPECT_TRUE(opener.opened.isEmpty());
}

TEST_F(UpdateCheckTest, TakesAtMost1000CharactersAfterTheFirstMarker)
{
    const QByteArray address = "https://www.kestrovid.example/" + QByteArray(1200, 'a');
    answer = CannedReply::ok("OpenWWW=" + address + "OpenWWW=http://second.example/");
    EXPECT_EQ(startAt(at(2013, 8, 10)), Outcome::PageOpened);
    ASSERT_EQ(opener.opened.size(), 1);
    EXPECT_EQ(opener.opened.first(), QString::fromLatin1(address.left(1000)));
}

TEST_F(UpdateCheckTest, FollowsARedirectOfTheService)
{
    LoopbackHttpServer moved([](const RecordedRequest& request) {
        if (request.target == "/LiveUpdate/check.php")
            return CannedReply::status(307, "Location: /LiveUpdate/v2/check.php\r\n");
        return CannedReply::ok("OpenWWW=http://www.kestrovid.example/moved");
    });
    service = moved.authority();
    EXPECT_EQ(startAt(at(2013, 8, 10)), Outcome::PageOpened);
    ASSERT_EQ(moved.requests().size(), 2);
    EXPECT_EQ(moved.requests()[1].target, "/LiveUpdate/v2/check.php");
    EXPECT_EQ(moved.requests()[1].body, "prg=KestrovidToPSP&ver=1.3");
    EXPECT_EQ(opener.opened, QStringList{QStringLiteral("http://www.kestrovid.example/moved")});
}

TEST_F(UpdateCheckTest, FailedRequestOpensTheInfoPageOnlyInTheSecondHalfOfYearsAfter2011)
{
    const QString unreachable = QStringLiteral("127.0.0.1:%1").arg(kv::test::closedLoopbackPort());
    struct Case {
        QDateTime now;
        bool infoPage;
    };
    const Case dates[] = {
        {at(2013, 8, 10), true}, {at(2013, 5, 10), false}, {at(2011, 12, 10), false}, {at(2012, 7, 1), true}};
    for (const bool serverAnswers404 : {true, false}) {
        for (const Case& c : dates) {
            SCOPED_TRACE((serverAnswers404 ? "404 " : "unreachable ") +
                         c.now.toString(Qt::ISODate).toStdString());
            answer = CannedReply::status(404);
            service = serverAnswers404 ? server.authority() : unreachable;
            opener.opened.clear();
            log.clear();
            EXPECT_EQ(startAt(c.now, c.now.addDays(-1)), Outcome::Failed);
            EXPECT_EQ(opener.opened, c.infoPage ? QStringList{infoPage(9)} : QStringList{});
            EXPECT_EQ(storedDate(), c.now.date()); // saved before the request, so not retried today
            EXPECT_EQ(log.size(), 1);
        }
    }
    EXPECT_EQ(server.requests().size(), 4);
}

TEST_F(UpdateCheckTest, OpensOnlyWebAddressesFromTheReply)
{
    struct Case {
        const char* reply;
        const char* opened; // nullptr: nothing
    };
    const Case cases[] = {
        {"OpenWWW=  https://www.kestrovid.example/p?q=1 \r\n", "https://www.kestrovid.example/p?q=1"},
        {"OpenWWW=HTTP://WWW.KESTROVID.EXAMPLE/\r\n", "HTTP://WWW.KESTROVID.EXAMPLE/"},
        {"OpenWWW=C:\\Windows\\System32\\calc.exe", nullptr},
        {"OpenWWW=/usr/bin/xterm", nullptr},
        {"OpenWWW=file:///etc/passwd", nullptr},
        {"OpenWWW=file://server/share/run.exe", nullptr},
        {"OpenWWW=javascript:alert(1)", nullptr},
        {"OpenWWW=http://", nullptr},
        {"OpenWWW=http:///no-host", nullptr},
        {"OpenWWW=http://www.kestrovid.example/a\r\n/usr/bin/xterm", nullptr},
        {"OpenWWW=", nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.reply);
        answer = CannedReply::ok(c.reply);
        opener.opened.clear();
        log.clear();
        const Outcome outcome = startAt(at(2013, 8, 10));
        if (c.opened) {
            EXPECT_EQ(outcome, Outcome::PageOpened);
            EXPECT_EQ(opener.opened, QStringList{QString::fromLatin1(c.opened)});
        } else {
            EXPECT_EQ(outcome, Outcome::TargetRejected);
            EXPECT_TRUE(opener.opened.isEmpty());
            ASSERT_EQ(log.size(), 1);
            EXPECT_TRUE(log.first().contains(QStringLiteral("not a web address")));
        }
    }
}

TEST_F(UpdateCheckTest, WindowEventsRunWhileTheServiceIsSlow)
{
    answer = CannedReply::ok("OpenWWW=http://www.kestrovid.example/", 500);
    int ticks = 0;
    QTimer progressTimer;
    QObject::connect(&progressTimer, &QTimer::timeout, [&] { ++ticks; });
    progressTimer.start(20);
    EXPECT_EQ(startAt(at(2013, 8, 10)), Outcome::PageOpened);
    EXPECT_GE(ticks, 5);
}

TEST_F(UpdateCheckTest, ClosingTheProgramAbandonsThePendingRequestAndOpensNothing)
{
    answer = CannedReply::ok("OpenWWW=http://www.kestrovid.example/", 30000);
    store.writeBinary(kv::app::kProgramKey, QStringLiteral("LastLU"),
                      kv::app::encodeLastCheck(at(2013, 8, 9)));
    UpdateCheck check(store, http, opener, UpdateService{service}, {}, [] { return at(2013, 8, 10); });
    QTimer::singleShot(50, [&] { check.abort(); });
    EXPECT_EQ(check.run(), Outcome::Aborted);
    EXPECT_TRUE(opener.opened.isEmpty()); // not even the info page, although it is August
}

TEST_F(UpdateCheckTest, UnsavableDateMeansNoRequest)
{
    store.writeBinary(kv::app::kProgramKey, QStringLiteral("LastLU"),
                      kv::app::encodeLastCheck(at(2013, 8, 9)));
    store.failWrites = true;
    EXPECT_EQ(startAt(at(2013, 8, 10), QDateTime()), Outcome::StoreFailed);
    EXPECT_TRUE(server.requests().isEmpty());
    EXPECT_EQ(log.size(), 1);
}

TEST_F(UpdateCheckTest, InfoPictureOpensTheInfoPage)
{
    UpdateCheck check(store, http, opener, UpdateService{service}, {});
    check.openInfoPage();
    EXPECT_EQ(opener.opened, QStringList{infoPage(1)});
}

TEST_F(UpdateCheckTest, EmptyHostTurnsCheckAndInfoPageOff)
{
    service.clear();
    EXPECT_EQ(startAt(at(2013, 8, 10)), Outcome::Disabled);
    UpdateCheck check(store, http, opener, UpdateService{}, {});
    check.openInfoPage();
    EXPECT_TRUE(opener.opened.isEmpty());
    EXPECT_TRUE(server.requests().isEmpty());
}

TEST(UpdateServiceHost, DefaultThenSettingThenEnvironment)
{
    const QString key = kv::app::kProgramKey;
    const QString name = QStringLiteral("UpdateHost");
    qunsetenv(kv::app::kUpdateHostVariable);
    kv::test::MemorySettingsStore store;
    QString problem;
    EXPECT_EQ(UpdateService::resolve(store).authority, kv::app::kDefaultUpdateHost);

    store.writeString(key, name, QStringLiteral("updates.example.net:8080"));
    const UpdateService fromSetting = UpdateService::resolve(store);
    EXPECT_EQ(fromSetting.checkUrl(),
              QUrl(QStringLiteral("http://updates.example.net:8080/LiveUpdate/check.php")));
    EXPECT_EQ(fromSetting.infoPageUrl(QStringLiteral("1.3"), 1),
              QStringLiteral(
                  "http://updates.example.net:8080/LiveUpdate/info.php?prg=KestrovidToPSP&ver=1.3&info=1"));

    qputenv(kv::app::kUpdateHostVariable, "127.0.0.1:9");
    EXPECT_EQ(UpdateService::resolve(store).authority, QStringLiteral("127.0.0.1:9"));
    qputenv(kv::app::kUpdateHostVariable, "");
    EXPECT_FALSE(UpdateService::resolve(store).enabled());

    for (const char* bad : {"http://x.example", "x.example/path", "two words", "user@x.example"}) {
        qputenv(kv::app::kUpdateHostVariable, bad);
        problem.clear();
        EXPECT_FALSE(UpdateService::resolve(store, &problem).enabled()) << bad;
        EXPECT_FALSE(problem.isEmpty()) << bad;
    }
    qunsetenv(kv::app::kUpdateHostVariable);
    store.writeString(key, name, QString());
    EXPECT_FALSE(UpdateService::resolve(store).enabled());
}
