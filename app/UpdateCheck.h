#pragma once
// The once-a-day update check and the info page of the update service.
//
// The window owns the 3-second single-shot timer; its handler TimerCheckVersionTimer calls
// UpdateCheck::run(), ImageInfoEnClick calls openInfoPage(), and the window's close calls
// abort() so that a pending request is given up at once.
#include "app/ProgramTexts.h"
#include "platform/HttpPost.h"
#include "platform/SettingsStore.h"
#include "platform/UrlOpener.h"

#include <QByteArray>
#include <QDate>
#include <QDateTime>
#include <QString>
#include <QUrl>

#include <functional>
#include <optional>

namespace kv::app {

inline const QString kProgramKey = QStringLiteral("\\Software\\Kestrovid\\PSP");
inline const QString kProgramId = QStringLiteral("KestrovidToPSP");
inline const QString kDefaultUpdateHost = QStringLiteral("update.kestrovid.example");
inline const char* const kUpdateHostVariable = "KESTROVID_UPDATE_HOST";

// Where the update service lives: "host" or "host:port". Empty turns the check and the info
// page off.
struct UpdateService {
    QString authority;

    bool enabled() const { return !authority.isEmpty(); }
    QUrl checkUrl() const;                                       // http://<host>/LiveUpdate/check.php
    QString infoPageUrl(const QString& version, int info) const; // .../info.php?prg=..&ver=..&info=N

    // The default host, unless the store holds a string "UpdateHost" under the program's key,
    // unless the environment variable KESTROVID_UPDATE_HOST is set (either may be empty to
    // turn the check off). A value that is not a plain host[:port] turns it off too and is
    // described in *problem.
    static UpdateService resolve(const platform::ISettingsStore& store, QString* problem = nullptr);
};

// "LastLU": a date-time as a count of days since 30 December 1899 (local time), stored as the
// 8 raw bytes of a little-endian IEEE double.
QByteArray encodeLastCheck(const QDateTime& localTime);
// The date part of a stored value; nothing for a value of another size, not finite, zero or
// out of any sensible range.
std::optional<QDate> decodeLastCheckDate(const QByteArray& stored);

class UpdateCheck {
  public:
    enum class Outcome {
        Disabled,       // no update host
        NotDue,         // first start, or the same day of the month as the last check
        StoreFailed,    // the date of this check could not be saved, so no request was made
        PageOpened,     // the reply named a web page, which was opened
        NoPage,         // the reply named no page
        TargetRejected, // the reply named something that is not a web address: ignored
        Failed,         // the request failed; the info page opened or not by the date rule
        Aborted,        // the program is closing
    };
    using Clock = std::function<QDateTime()>; // the current local date and time
    using LogSink = std::function<void(const QString&)>;

    UpdateCheck(platform::ISettingsStore& store, platform::IHttpPostClient& http,
                platform::IUrlOpener& opener, UpdateService service, LogSink log,
                Clock clock = &QDateTime::currentDateTime, QString version = kVersionText);

    // The timer's work. Blocks until the request is done, serving the thread's events.
    Outcome run();
    // The click on the info picture: the info page with info=1.
    void openInfoPage();
    // Gives up a pending request (the program is closing); later runs make no request.
    void abort();

  private:
    Outcome check();
    Outcome request();
    Outcome openTarget(const QString& reply);
    void log(const QString& line) const;

    platform::ISettingsStore& store_;
    platform::IHttpPostClient& http_;
    platform::IUrlOpener& opener_;
    UpdateService service_;
    LogSink log_;
    Clock clock_;
    QString version_;
    bool running_ = false;
};

} // namespace kv::app
