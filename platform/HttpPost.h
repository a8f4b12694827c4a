#pragma once
// A small HTTP/1.0 client for one job: POST a form body and get the reply body back.
// The call blocks its caller but keeps the caller's thread serving events (a local event
// loop), so a window that calls it stays usable while the request is pending.
#include <QByteArray>
#include <QString>
#include <QUrl>

class QEventLoop;

namespace kv::platform {

struct HttpPostOptions {
    QByteArray contentType = "application/x-www-form-urlencoded";
    QByteArray userAgent = "Mozilla/4.0 (compatible; ICS)";
    QByteArray accept = "image/gif, image/x-xbitmap, image/jpeg, image/pjpeg, */*";
    int maxRedirects = 5;           // redirects followed before giving up
    qint64 bytesPerSecond = 10000;  // limit on the bytes received per sampling period; 0 = none
    int samplingMs = 1000;          // length of that period
    int timeoutMs = 60000;          // for the whole exchange, redirects included
    qint64 maxReplyBytes = 1 << 20; // a longer reply is refused rather than held in memory
};

struct HttpReply {
    enum class Error {
        None,
        Aborted,          // abort() was called (the program is closing)
        UnknownHost,      // the host name could not be resolved
        NoConnection,     // refused, unreachable, or the connection broke off
        Timeout,          // the whole exchange took longer than allowed
        HttpStatus,       // the server answered 400 or above (401 and 407 excepted)
        TooManyRedirects, // more redirects than allowed
        BadRedirect,      // a redirect to an address this client cannot follow
        BadReply,         // not an HTTP reply, truncated, or too large
        BadAddress,       // the address given to post() is not an http address with a host
    };
    Error error = Error::None;
    int status = 0;    // status code of the last reply received, 0 when none came
    QByteArray body;   // the reply body when error is None
    QString errorText; // a short English description when error is not None

    bool ok() const { return error == Error::None; }
};

class IHttpPostClient {
  public:
    virtual ~IHttpPostClient() = default;
    // Posts body to an http:// address and returns once the reply has been read in full or
    // the request has failed. Events of the calling thread are served meanwhile.
    virtual HttpReply post(const QUrl& url, const QByteArray& body) = 0;
    // Ends a pending post() at once (it returns Error::Aborted) and makes every later call
    // fail the same way. Meant for the window's close.
    virtual void abort() = 0;
};

// The client over a plain TCP socket: HTTP/1.0, no proxy, no keep-alive, redirects (301,
// 302, 303, 307, 308) followed up to the limit, 301/302/303 continued as GET without body.
class HttpPostClient : public IHttpPostClient {
  public:
    explicit HttpPostClient(HttpPostOptions options = {});
    HttpReply post(const QUrl& url, const QByteArray& body) override;
    void abort() override;
    bool aborted() const { return aborted_; }

  private:
    HttpReply exchange(const QUrl& url, const QByteArray& method, const QByteArray& body, qint64 remainingMs,
                       QByteArray* location);

    HttpPostOptions options_;
    bool aborted_ = false;
    QEventLoop* waiting_ = nullptr; // the local loop of the pending exchange, if any
};

} // namespace kv::platform
