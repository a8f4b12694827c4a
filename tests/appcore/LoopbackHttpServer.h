#pragma once
// A real HTTP server on 127.0.0.1, run by the test's own event loop. It records every request
// (method, target, headers, body) and answers with what the test's responder returns.
#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QMap>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

namespace kv::test {

struct RecordedRequest {
    QByteArray method;
    QByteArray target;                    // path and query as sent
    QByteArray version;                   // "HTTP/1.0"
    QMap<QByteArray, QByteArray> headers; // names in lower case
    QByteArray body;
};

struct CannedReply {
    QByteArray raw;    // the bytes sent back, status line included
    int delayMs = 0;   // wait this long before answering
    bool close = true; // close the connection once the reply is written

    static CannedReply ok(const QByteArray& body, int delayMs = 0)
    {
        return {"HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\nContent-Length: " +
                    QByteArray::number(body.size()) + "\r\n\r\n" + body,
                delayMs, true};
    }
    static CannedReply status(int code, const QByteArray& extraHeaders = {})
    {
        const QByteArray body = "status " + QByteArray::number(code);
        return {"HTTP/1.0 " + QByteArray::number(code) + " Whatever\r\n" + extraHeaders +
                    "Content-Length: " + QByteArray::number(body.size()) + "\r\n\r\n" + body,
                0, true};
    }
};

class LoopbackHttpServer {
  public:
    using Responder = std::function<CannedReply(const RecordedRequest&)>;

    explicit LoopbackHttpServer(Responder responder) : responder_(std::move(responder))
    {
        server_.listen(QHostAddress::LocalHost, 0);
        QObject::connect(&server_, &QTcpServer::newConnection, &server_, [this] {
            while (QTcpSocket* socket = server_.nextPendingConnection())
                serve(socket);
        });
    }

    bool listening() const { return server_.isListening(); }
    quint16 port() const { return server_.serverPort(); }
    QString authority() const { return QStringLiteral("127.0.0.1:%1").arg(port()); }
    const QList<RecordedRequest>& requests() const { return requests_; }

  private:
    void serve(QTcpSocket* socket)
    {
        auto pending = std::make_shared<QByteArray>();
        QObject::connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, pending] {
            pending->append(socket->readAll());
            const qsizetype end = pending->indexOf("\r\n\r\n");
            if (end < 0)
                return;
            RecordedRequest request;
            const QList<QByteArray> lines = pending->left(end).split('\n');
            const QList<QByteArray> first = lines.value(0).trimmed().split(' ');
            request.method = first.value(0);
            request.target = first.value(1);
            request.version = first.value(2);
            for (qsizetype i = 1; i < lines.size(); ++i) {
                const qsizetype colon = lines[i].indexOf(':');
                if (colon > 0)
                    request.headers.insert(lines[i].left(colon).trimmed().toLower(),
                                           lines[i].mid(colon + 1).trimmed());
            }
            const qsizetype length = request.headers.value("content-length", "0").toLongLong();
            if (pending->size() - (end + 4) < length)
                return; // the body is still coming
            request.body = pending->mid(end + 4, length);
            pending->clear();
            requests_.append(request);
            const CannedReply reply = responder_(request);
            QPointer<QTcpSocket> guard(socket);
            auto answer = [guard, reply] {
                if (!guard)
                    return;
                guard->write(reply.raw);
                if (reply.close)
                    guard->disconnectFromHost();
            };
            if (reply.delayMs > 0)
                QTimer::singleShot(reply.delayMs, socket, answer);
            else
                answer();
        });
    }

    Responder responder_;
    QTcpServer server_;
    QList<RecordedRequest> requests_;
};

// A port on 127.0.0.1 on which nothing listens (taken from a server that is closed again).
inline quint16 closedLoopbackPort()
{
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    const quint16 port = probe.serverPort();
    probe.close();
    return port;
}

} // namespace kv::test
