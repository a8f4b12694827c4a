#include "platform/HttpPost.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QHostAddress>
#include <QNetworkProxy>
#include <QTcpSocket>
#include <QTimer>

#include <algorithm>
#include <limits>
#include <optional>

namespace kv::platform {
namespace {

constexpr qsizetype kMaxHeaderBytes = 64 * 1024;
constexpr qint64 kReadChunk = 16 * 1024;

HttpReply failure(HttpReply::Error error, const QString& text, int status = 0)
{
    HttpReply reply;
    reply.error = error;
    reply.errorText = text;
    reply.status = status;
    return reply;
}

bool isRedirectStatus(int status)
{
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

// Decodes a chunked body ("size in hex CRLF data CRLF ... 0 CRLF CRLF"). An HTTP/1.0 server
// should not send one, but a misconfigured one might.
std::optional<QByteArray> decodeChunked(const QByteArray& raw)
{
    QByteArray out;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype lineEnd = raw.indexOf("\r\n", pos);
        if (lineEnd < 0)
            return std::nullopt;
        QByteArray sizeText = raw.mid(pos, lineEnd - pos);
        if (const qsizetype ext = sizeText.indexOf(';'); ext >= 0)
            sizeText.truncate(ext);
        bool ok = false;
        const qlonglong size = sizeText.trimmed().toLongLong(&ok, 16);
        if (!ok || size < 0)
            return std::nullopt;
        pos = lineEnd + 2;
        if (size == 0)
            return out;
        if (raw.size() - pos < size)
            return std::nullopt;
        out.append(raw.constData() + pos, static_cast<qsizetype>(size));
        pos += static_cast<qsizetype>(size);
        if (raw.mid(pos, 2) != "\r\n")
            return std::nullopt;
        pos += 2;
    }
}

// Takes the bytes of one HTTP reply as they arrive and tells when it is complete.
class ReplyParser {
  public:
    explicit ReplyParser(qint64 maxBodyBytes) : maxBody_(maxBodyBytes) {}

    bool complete() const { return state_ == State::Complete; }
    bool failed() const { return state_ == State::Failed; }
    const QString& error() const { return error_; }
    int status() const { return status_; }
    const QByteArray& location() const { return location_; }
    const QByteArray& body() const { return body_; }

    void feed(const QByteArray& data)
    {
        if (state_ == State::Headers) {
            head_.append(data);
            parseHead();
        } else if (state_ == State::Body) {
            body_.append(data);
            checkBody();
        }
    }

    // The server closed the connection: whatever has come is all there will be.
    void finishAtClose()
    {
        if (state_ == State::Headers) {
            fail(QStringLiteral("the connection closed before a complete reply header"));
        } else if (state_ == State::Body) {
            if (chunked_) {
                auto decoded = decodeChunked(body_);
                if (!decoded)
                    return fail(QStringLiteral("the reply body is cut short or badly chunked"));
                body_ = *decoded;
            } else if (contentLength_ >= 0 && body_.size() < contentLength_) {
                return fail(QStringLiteral("the reply body is cut short (%1 of %2 bytes)")
                                .arg(body_.size())
                                .arg(contentLength_));
            }
            state_ = State::Complete;
        }
    }

  private:
    enum class State { Headers, Body, Complete, Failed };

    void fail(const QString& text)
    {
        state_ = State::Failed;
        error_ = text;
    }

    void parseHead()
    {
        for (;;) {
            qsizetype end = head_.indexOf("\r\n\r\n");
            qsizetype sepLen = 4;
            if (end < 0) {
                end = head_.indexOf("\n\n");
                sepLen = 2;
            }
            if (end < 0) {
                if (head_.size() > kMaxHeaderBytes)
                    fail(QStringLiteral("the reply header is too long"));
                return;
            }
            const QByteArray header = head_.left(end);
            const QByteArray rest = head_.mid(end + sepLen);
            if (!parseHeader(header))
                return;
            if (status_ >= 100 && status_ < 200) { // an interim reply: the real one follows
                head_ = rest;
                continue;
            }
            head_.clear();
            state_ = State::Body;
            if (status_ == 204 || status_ == 304)
                contentLength_ = 0;
            body_ = rest;
            checkBody();
            return;
        }
    }

    bool parseHeader(const QByteArray& header)
    {
        const QList<QByteArray> lines = header.split('\n');
        const QList<QByteArray> statusLine = lines.value(0).trimmed().split(' ');
        bool ok = false;
        status_ = statusLine.value(1).toInt(&ok);
        if (!statusLine.value(0).startsWith("HTTP/") || !ok || status_ < 100 || status_ > 999) {
            fail(QStringLiteral("the server's answer is not an HTTP reply"));
            return false;
        }
        contentLength_ = -1;
        chunked_ = false;
        location_.clear();
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const QByteArray& line = lines[i];
            const qsizetype colon = line.indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = line.left(colon).trimmed().toLower();
            const QByteArray value = line.mid(colon + 1).trimmed();
            if (name == "content-length") {
                const qlonglong length = value.toLongLong(&ok);
                if (!ok || length < 0) {
                    fail(QStringLiteral("the reply has a bad Content-Length"));
                    return false;
                }
                contentLength_ = length;
            } else if (name == "transfer-encoding") {
                chunked_ = value.toLower().contains("chunked");
            } else if (name == "location") {
                location_ = value;
            }
        }
        if (chunked_)
            contentLength_ = -1;
        return true;
    }

    void checkBody()
    {
        if (contentLength_ >= 0 && body_.size() >= contentLength_) {
            body_.truncate(static_cast<qsizetype>(contentLength_));
            state_ = State::Complete;
        } else if (body_.size() > maxBody_) {
            fail(QStringLiteral("the reply is larger than %1 bytes").arg(maxBody_));
        }
    }

    qint64 maxBody_;
    State state_ = State::Headers;
    QByteArray head_;
    QByteArray body_;
    QByteArray location_;
    qint64 contentLength_ = -1;
    bool chunked_ = false;
    int status_ = 0;
    QString error_;
};

// Allows at most `limit` bytes per period; the allowance is renewed when a period ends.
class RateLimiter {
  public:
    RateLimiter(qint64 limit, int periodMs) : limit_(limit), periodMs_(std::max(periodMs, 1))
    {
        period_.start();
    }

    qint64 allowance()
    {
        if (limit_ <= 0)
            return kReadChunk;
        if (period_.elapsed() >= periodMs_) {
            period_.restart();
            used_ = 0;
        }
        return limit_ - used_;
    }
    void consume(qint64 bytes) { used_ += bytes; }
    int msUntilNextPeriod() const
    {
        return static_cast<int>(std::max<qint64>(periodMs_ - period_.elapsed(), 0)) + 1;
    }

  private:
    qint64 limit_;
    int periodMs_;
    qint64 used_ = 0;
    QElapsedTimer period_;
};

QByteArray requestText(const QUrl& url, const QByteArray& method, const QByteArray& body,
                       const HttpPostOptions& options)
{
    QByteArray target = url.path(QUrl::FullyEncoded).toLatin1();
    if (target.isEmpty())
        target = "/";
    if (url.hasQuery())
        target += '?' + url.query(QUrl::FullyEncoded).toLatin1();

    QByteArray host = url.host(QUrl::FullyEncoded).toLatin1();
    if (host.contains(':'))
        host = '[' + host + ']';
    if (url.port(80) != 80)
        host += ':' + QByteArray::number(url.port());

    QByteArray request = method + ' ' + target + " HTTP/1.0\r\n";
    request += "Host: " + host + "\r\n";
    request += "Accept: " + options.accept + "\r\n";
    request += "User-Agent: " + options.userAgent + "\r\n";
    if (method == "POST") {
        request += "Content-Type: " + options.contentType + "\r\n";
        request += "Content-Length: " + QByteArray::number(body.size()) + "\r\n";
    }
    request += "\r\n";
    if (method == "POST")
        request += body;
    return request;
}

bool isHttpAddress(const QUrl& url)
{
    return url.isValid() && url.scheme() == QLatin1String("http") && !url.host().isEmpty();
}

} // namespace

HttpPostClient::HttpPostClient(HttpPostOptions options) : options_(std::move(options)) {}

void HttpPostClient::abort()
{
    aborted_ = true;
    if (waiting_)
        waiting_->quit();
}

HttpReply HttpPostClient::post(const QUrl& url, const QByteArray& body)
{
    if (aborted_)
        return failure(HttpReply::Error::Aborted, QStringLiteral("the request was abandoned"));
    if (waiting_)
        return failure(HttpReply::Error::NoConnection, QStringLiteral("another request is pending"));
    if (!isHttpAddress(url))
        return failure(HttpReply::Error::BadAddress,
                       QStringLiteral("not an http address: %1").arg(url.toString()));

    const QDeadlineTimer deadline(options_.timeoutMs);
    QUrl current = url;
    QByteArray method = "POST";
    QByteArray sendBody = body;
    for (int redirects = 0;; ++redirects) {
        QByteArray location;
        HttpReply reply = exchange(current, method, sendBody, deadline.remainingTime(), &location);
        if (!reply.ok())
            return reply;
        if (isRedirectStatus(reply.status) && !location.isEmpty()) {
            if (redirects >= options_.maxRedirects)
                return failure(HttpReply::Error::TooManyRedirects,
                               QStringLiteral("more than %1 redirects").arg(options_.maxRedirects),
                               reply.status);
            const QUrl next = current.resolved(QUrl::fromEncoded(location.trimmed()));
            if (!isHttpAddress(next))
                return failure(HttpReply::Error::BadRedirect,
                               QStringLiteral("cannot follow a redirect to %1").arg(next.toString()),
                               reply.status);
            if (reply.status == 301 || reply.status == 302 || reply.status == 303) {
                method = "GET";
                sendBody.clear();
            }
            current = next;
            continue;
        }
        if (reply.status >= 400 && reply.status != 401 && reply.status != 407)
            return failure(HttpReply::Error::HttpStatus,
                           QStringLiteral("the server answered with status %1").arg(reply.status),
                           reply.status);
        return reply;
    }
}

// One request and its reply over a fresh connection; the reply's Location header, if any,
// goes to *location.
HttpReply HttpPostClient::exchange(const QUrl& url, const QByteArray& method, const QByteArray& body,
                                   qint64 remainingMs, QByteArray* location)
{
    HttpReply reply;
    QEventLoop loop;
    QTimer timeout;
    QTimer throttle;
    ReplyParser parser(options_.maxReplyBytes);
    RateLimiter limiter(options_.bytesPerSecond, options_.samplingMs);
    bool finished = false;
    bool peerClosed = false;
    QTcpSocket socket;
    socket.setProxy(QNetworkProxy::NoProxy);
    if (options_.bytesPerSecond > 0) // keeps Qt from reading ahead of the limit
        socket.setReadBufferSize(options_.bytesPerSecond);

    auto fail = [&](HttpReply::Error error, const QString& text) {
        if (finished)
            return;
        finished = true;
        reply = failure(error, text, parser.status());
        loop.quit();
    };
    auto pump = [&] {
        while (!finished && socket.bytesAvailable() > 0 && !parser.complete() && !parser.failed()) {
            const qint64 allowed = limiter.allowance();
            if (allowed <= 0) {
                if (!throttle.isActive())
                    throttle.start(limiter.msUntilNextPeriod());
                return;
            }
            const QByteArray chunk = socket.read(std::min(allowed, kReadChunk));
            if (chunk.isEmpty())
                break;
            limiter.consume(chunk.size());
            parser.feed(chunk);
        }
        if (peerClosed && socket.bytesAvailable() == 0)
            parser.finishAtClose();
        if (finished)
            return;
        if (parser.failed()) {
            fail(HttpReply::Error::BadReply, parser.error());
        } else if (parser.complete()) {
            finished = true;
            reply.status = parser.status();
            reply.body = parser.body();
            *location = parser.location();
            loop.quit();
        }
    };

    timeout.setSingleShot(true);
    throttle.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, [&] {
        fail(HttpReply::Error::Timeout, QStringLiteral("the server did not answer in time"));
    });
    QObject::connect(&throttle, &QTimer::timeout, &loop, pump);
    QObject::connect(&socket, &QTcpSocket::connected, &loop,
                     [&] { socket.write(requestText(url, method, body, options_)); });
    QObject::connect(&socket, &QTcpSocket::readyRead, &loop, pump);
    QObject::connect(&socket, &QTcpSocket::disconnected, &loop, [&] {
        peerClosed = true;
        pump();
    });
    QObject::connect(&socket, &QTcpSocket::errorOccurred, &loop, [&](QAbstractSocket::SocketError error) {
        if (error == QAbstractSocket::RemoteHostClosedError) {
            peerClosed = true;
            pump();
        } else if (error == QAbstractSocket::HostNotFoundError) {
            fail(HttpReply::Error::UnknownHost, QStringLiteral("unknown host %1").arg(url.host()));
        } else {
            fail(HttpReply::Error::NoConnection,
                 QStringLiteral("no connection to %1: %2").arg(url.authority(), socket.errorString()));
        }
    });

    if (remainingMs <= 0) {
        fail(HttpReply::Error::Timeout, QStringLiteral("the server did not answer in time"));
    } else {
        timeout.start(static_cast<int>(std::min<qint64>(remainingMs, std::numeric_limits<int>::max())));
        socket.connectToHost(url.host(), static_cast<quint16>(url.port(80)));
    }
    if (!finished && !aborted_) {
        waiting_ = &loop;
        loop.exec();
        waiting_ = nullptr;
    }
    // A loop that ends without an answer was told to quit from outside: the application is
    // leaving its event loops, so the program is closing.
    if (aborted_ || !finished)
        reply = failure(HttpReply::Error::Aborted, QStringLiteral("the request was abandoned"));

    // The socket's last signals must not reach the lambdas above once their captures are gone.
    QObject::disconnect(&socket, nullptr, nullptr, nullptr);
    socket.abort();
    return reply;
}

} // namespace kv::platform
