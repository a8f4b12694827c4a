// The HTTP/1.0 POST client against a real server on the loopback interface.
#include "platform/HttpPost.h"
#include "LoopbackHttpServer.h"
#include "QtPrinters.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using kv::platform::HttpPostClient;
using kv::platform::HttpPostOptions;
using kv::platform::HttpReply;
using kv::test::CannedReply;
using kv::test::LoopbackHttpServer;
using kv::test::RecordedRequest;

namespace {

QUrl urlOn(const LoopbackHttpServer& server, const QString& path = QStringLiteral("/LiveUpdate/check.php"))
{
    return QUrl(QStringLiteral("http://%1%2").arg(server.authority(), path));
}

} // namespace

TEST(HttpPost, SendsAnHttp10PostWithTheFormHeadersAndReturnsTheBody)
{
    LoopbackHttpServer server([](const RecordedRequest&) { return CannedReply::ok("hello"); });
    ASSERT_TRUE(server.listening());
    HttpPostClient client;
    const HttpReply reply = client.post(urlOn(server), "prg=KestrovidToPSP&ver=1.3");

    ASSERT_TRUE(reply.ok()) << reply.errorText.toStdString();
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.body, "hello");
    ASSERT_EQ(server.requests().size(), 1);
    const RecordedRequest& request = server.requests().first();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.target, "/LiveUpdate/check.php");
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(request.headers.value("host"), server.authority().toLatin1());
    EXPECT_EQ(request.headers.value("content-type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.headers.value("user-agent"), "Mozilla/4.0 (compatible; ICS)");
    EXPECT_EQ(request.headers.value("accept"), "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*");
    EXPECT_EQ(request.headers.value("content-length"), "26");
    EXPECT_EQ(request.body, "prg=KestrovidToPSP&ver=1.3");
}

TEST(HttpPost, ReadsABodyWithoutLengthUntilTheServerCloses)
{
    LoopbackHttpServer server([](const RecordedRequest&) {
        return CannedReply{"HTTP/1.0 200 OK\r\n\r\nline one\r\nline two", 0, true};
    });
    HttpPostClient client;
    const HttpReply reply = client.post(urlOn(server), "x");
    ASSERT_TRUE(reply.ok()) << reply.errorText.toStdString();
    EXPECT_EQ(reply.body, "line one\r\nline two");
}

TEST(HttpPost, ReplyCutShortOfItsLengthIsAnError)
{
    LoopbackHttpServer server([](const RecordedRequest&) {
        return CannedReply{"HTTP/1.0 200 OK\r\nContent-Length: 100\r\n\r\nonly this", 0, true};
    });
    HttpPostClient client;
    const HttpReply reply = client.post(urlOn(server), "x");
    EXPECT_EQ(reply.error, HttpReply::Error::BadReply);
}

TEST(HttpPost, DecodesAChunkedBody)
{
    LoopbackHttpServer server([](const RecordedRequest&) {
        return CannedReply{
            "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", 0,
            true};
    });
    HttpPostClient client;
    const HttpReply reply = client.post(urlOn(server), "x");
    ASSERT_TRUE(reply.ok()) << reply.errorText.toStdString();
    EXPECT_EQ(reply.body, "hello world");
}

TEST(HttpPost, StatusesFrom400AreErrorsExcept401And407)
{
    struct Case {
        int status;
        bool ok;
    };
    for (const Case c : {Case{200, true}, Case{204, true}, Case{401, true}, Case{407, true}, Case{400, false},
                         Case{404, false}, Case{500, false}}) {
        LoopbackHttpServer server([&](const RecordedRequest&) { return CannedReply::status(c.status); });
        HttpPostClient client;
        const HttpReply reply = client.post(urlOn(server), "x");
        EXPECT_EQ(reply.ok(), c.ok) << c.status;
        EXPECT_EQ(reply.status, c.status);
        if (!c.ok) {
            EXPECT_EQ(reply.error, HttpReply::Error::HttpStatus) << c.status;
        }
    }
}

TEST(HttpPost, FollowsRedirectsKeepingPostOnlyFor307And308)
{
    LoopbackHttpServer server([](const RecordedRequest& request) {
        if (request.target == "/a")
            return CannedReply::status(307, "Location: /b\r\n");
        if (request.target == "/b")
            return CannedReply::status(302, "Location: /c?x=1\r\n");
        return CannedReply::ok("landed");
    });
    HttpPostClient client;
    const HttpReply reply = client.post(urlOn(server, QStringLiteral("/a")), "payload");
    ASSERT_TRUE(reply.ok()) << reply.errorText.toStdString();
    EXPECT_EQ(reply.body, "landed");
    ASSERT_EQ(server.requests().size(), 3);
    EXPECT_EQ(server.requests()[1].method, "POST");
    EXPECT_EQ(server.requests()[1].body, "payload");
    EXPECT_EQ(server.requests()[2].method, "GET");
    EXPECT_EQ(server.requests()[2].target, "/c?x=1");
    EXPECT_TRUE(server.requests()[2].body.isEmpty());
}

TEST(HttpPost, GivesUpAfterFiveRedirects)
{
    for (int hops : {5, 6}) {
        LoopbackHttpServer server([hops](const RecordedRequest& request) {
            const int n = request.target.mid(1).toInt();
            if (n < hops)
                return CannedReply::status(301, "Location: /" + QByteArray::number(n + 1) + "\r\n");
            return CannedReply::ok("end");
        });
        HttpPostClient client;
        const HttpReply reply = client.post(urlOn(server, QStringLiteral("/0")), "x");
        if (hops == 5) {
            EXPECT_TRUE(reply.ok()) << reply.errorText.toStdString();
            EXPECT_EQ(server.requests().size(), 6);
        } else {
            EXPECT_EQ(reply.error, HttpReply::Error::TooManyRedirects);
            EXPECT_EQ(server.requests().size(), 6);
        }
    }
}

TEST(HttpPost, RefusesRedirectsToOtherSchemes)
{
    LoopbackHttpServer server(
        [](const RecordedRequest&) { return CannedReply::status(302, "Location: file:///etc/passwd\r\n"); });
    HttpPostClient client;
    EXPECT_EQ(client.post(urlOn(server), "x").error, HttpReply::Error::BadRedirect);
}

TEST(HttpPost, NoServerListeningIsNoConnection)
{
    HttpPostClient client;
    const HttpReply reply =
        client.post(QUrl(QStringLiteral("http://127.0.0.1:%1/x").arg(kv::test::closedLoopbackPort())), "x");
    EXPECT_EQ(reply.error, HttpReply::Error::NoConnection);
    EXPECT_FALSE(reply.errorText.isEmpty());
}

TEST(HttpPost, NameThatDoesNotResolveIsUnknownHost)
{
    HttpPostClient client; // ".invalid" never resolves
    const HttpReply reply = client.post(QUrl(QStringLiteral("http://update.kestrovid.invalid/x")), "x");
    EXPECT_EQ(reply.error, HttpReply::Error::UnknownHost) << reply.errorText.toStdString();
}

TEST(HttpPost, RefusesAddressesThatAreNotHttp)
{
    HttpPostClient client;
    for (const char* address : {"https://127.0.0.1/x", "file:///tmp/x", "127.0.0.1/x", ""})
        EXPECT_EQ(client.post(QUrl(QString::fromLatin1(address)), "x").error, HttpReply::Error::BadAddress)
            << address;
}

TEST(HttpPost, KeepsServingEventsWhileWaitingAndTimesOut)
{
    LoopbackHttpServer server([](const RecordedRequest&) { return CannedReply::ok("late", 600); });
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(20);

    HttpPostClient patient;
    const HttpReply reply = patient.post(urlOn(server), "x");
    ASSERT_TRUE(reply.ok()) << reply.errorText.toStdString();
    EXPECT_EQ(reply.body, "late");
    EXPECT_GE(ticks, 5); // the timer went on firing while the answer was held back

    HttpPostOptions options;
    options.timeoutMs = 100;
    HttpPostClient hasty(options);
    EXPECT_EQ(hasty.post(urlOn(server), "x").error, HttpReply::Error::Timeout);
}

TEST(HttpPost, AbortEndsAPendingRequestAndEveryLaterOne)
{
    LoopbackHttpServer server([](const RecordedRequest&) { return CannedReply::ok("late", 30000); });
    HttpPostClient client;
    QTimer::singleShot(50, [&] { client.abort(); });
    QElapsedTimer elapsed;
    elapsed.start();
    EXPECT_EQ(client.post(urlOn(server), "x").error, HttpReply::Error::Aborted);
    EXPECT_LT(elapsed.elapsed(), 20000); // not held until the server answers
    EXPECT_EQ(client.post(urlOn(server), "x").error, HttpReply::Error::Aborted);
    EXPECT_EQ(server.requests().size(), 1);
}

TEST(HttpPost, LimitsTheTransferRateAndStillReadsEverything)
{
    const QByteArray big(25000, 'z');
    LoopbackHttpServer server([&](const RecordedRequest&) { return CannedReply::ok(big); });
    HttpPostClient client; // 10000 bytes a second by default
    QElapsedTimer elapsed;
    elapsed.start();
    const HttpReply reply = client.post(urlOn(server), "x");
    ASSERT_TRUE(reply.ok()) << reply.errorText.toStdString();
    EXPECT_EQ(reply.body, big);
    // 25000 bytes and the header need three periods of 10000 bytes: at least two full seconds.
    EXPECT_GE(elapsed.elapsed(), 1900);
}

TEST(HttpPost, RefusesRepliesLargerThanTheLimit)
{
    LoopbackHttpServer server([](const RecordedRequest&) {
        return CannedReply{"HTTP/1.0 200 OK\r\n\r\n" + QByteArray(5000, 'x'), 0, true};
    });
    HttpPostOptions options;
    options.bytesPerSecond = 0;
    options.maxReplyBytes = 1000;
    HttpPostClient client(options);
    EXPECT_EQ(client.post(urlOn(server), "x").error, HttpReply::Error::BadReply);
}

TEST(HttpPostDeathTest, ApplicationQuittingAbandonsThePendingRequest)
{
    // Quitting the application ends every event loop of the thread for good, so this runs in
    // a child process.
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            LoopbackHttpServer server([](const RecordedRequest&) { return CannedReply::ok("late", 30000); });
            HttpPostClient client;
            QTimer::singleShot(50, [] { QCoreApplication::exit(0); });
            const HttpReply reply = client.post(urlOn(server), "x");
            std::exit(reply.error == HttpReply::Error::Aborted ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}
