#include "app/UpdateCheck.h"

#include <QStringDecoder>
#include <QtEndian>

#include <cmath>
#include <cstring>

namespace kv::app {
namespace {

const QString kLastCheckValue = QStringLiteral("LastLU");
const QString kUpdateHostValue = QStringLiteral("UpdateHost");
const QString kMarker = QStringLiteral("OpenWWW=");
constexpr qsizetype kMaxTargetLength = 1000;
// The service speaks the legacy 8-bit code page of the program's home market.
constexpr const char* kLegacyCodePage = "windows-1250";
const QDate kDateTimeEpoch(1899, 12, 30);
constexpr double kMaxStoredDays = 2958466.0; // 1 January 10000

// A plain host with an optional port, as the settings give it; nothing else.
bool isPlainAuthority(const QString& text)
{
    if (text.contains(QLatin1Char('/')) || text.contains(QLatin1Char('@')) ||
        text.contains(QLatin1Char('?')) || text.contains(QLatin1Char('#')))
        return false;
    const QUrl url(QStringLiteral("http://") + text, QUrl::StrictMode);
    return url.isValid() && !url.host().isEmpty() && url.path().isEmpty();
}

QString decodeLegacy(const QByteArray& bytes)
{
    QStringDecoder decoder(kLegacyCodePage);
    if (!decoder.isValid())
        return QString::fromLatin1(bytes);
    return decoder.decode(bytes);
}

QByteArray encodeLegacy(const QString& text)
{
    QStringEncoder encoder(kLegacyCodePage);
    if (!encoder.isValid())
        return text.toLatin1();
    return encoder.encode(text);
}

} // namespace

QUrl UpdateService::checkUrl() const
{
    return QUrl(QStringLiteral("http://%1/LiveUpdate/check.php").arg(authority));
}

QString UpdateService::infoPageUrl(const QString& version, int info) const
{
    return QStringLiteral("http://%1/LiveUpdate/info.php?prg=%2&ver=%3&info=%4")
        .arg(authority, kProgramId, version)
        .arg(info);
}

UpdateService UpdateService::resolve(const platform::ISettingsStore& store, QString* problem)
{
    QString host = kDefaultUpdateHost;
    QString origin = QStringLiteral("default");
    if (auto stored = store.readString(kProgramKey, kUpdateHostValue)) {
        host = *stored;
        origin = QStringLiteral("setting UpdateHost");
    }
    if (qEnvironmentVariableIsSet(kUpdateHostVariable)) {
        host = qEnvironmentVariable(kUpdateHostVariable);
        origin = QString::fromLatin1(kUpdateHostVariable);
    }
    host = host.trimmed();
    if (!host.isEmpty() && !isPlainAuthority(host)) {
        if (problem)
            *problem = QStringLiteral("Update host \"%1\" from %2 is not a host name with an optional port: "
                                      "update check off")
                           .arg(host, origin);
        return {};
    }
    return UpdateService{host};
}

QByteArray encodeLastCheck(const QDateTime& localTime)
{
    const double days = static_cast<double>(kDateTimeEpoch.daysTo(localTime.date())) +
                        localTime.time().msecsSinceStartOfDay() / 86400000.0;
    quint64 bits = 0;
    std::memcpy(&bits, &days, sizeof bits);
    QByteArray stored(8, '\0');
    qToLittleEndian(bits, stored.data());
    return stored;
}

std::optional<QDate> decodeLastCheckDate(const QByteArray& stored)
{
    if (stored.size() != 8)
        return std::nullopt;
    const quint64 bits = qFromLittleEndian<quint64>(stored.constData());
    double days = 0;
    std::memcpy(&days, &bits, sizeof days);
    if (!std::isfinite(days) || days == 0.0 || std::fabs(days) >= kMaxStoredDays)
        return std::nullopt;
    return kDateTimeEpoch.addDays(static_cast<qint64>(std::trunc(days)));
}

UpdateCheck::UpdateCheck(platform::ISettingsStore& store, platform::IHttpPostClient& http,
                         platform::IUrlOpener& opener, UpdateService service, LogSink log, Clock clock,
                         QString version)
    : store_(store), http_(http), opener_(opener), service_(std::move(service)), log_(std::move(log)),
      clock_(std::move(clock)), version_(std::move(version))
{
}

void UpdateCheck::log(const QString& line) const
{
    if (log_)
        log_(line);
}

UpdateCheck::Outcome UpdateCheck::run()
{
    // The request serves the window's events while it waits; a second run from one of them
    // must not start another.
    if (running_)
        return Outcome::NotDue;
    running_ = true;
    const Outcome outcome = check();
    running_ = false;
    return outcome;
}

UpdateCheck::Outcome UpdateCheck::check()
{
    if (!service_.enabled()) {
        log(QStringLiteral("Update check: off (no update host)"));
        return Outcome::Disabled;
    }
    const std::optional<QDate> last =
        decodeLastCheckDate(store_.readBinary(kProgramKey, kLastCheckValue).value_or(QByteArray()));
    const QDateTime now = clock_();
    // Saved before any request, so a check that fails or hangs is not repeated the same day.
    if (!store_.writeBinary(kProgramKey, kLastCheckValue, encodeLastCheck(now))) {
        log(QStringLiteral("Update check: could not save the date of this check; no request made"));
        return Outcome::StoreFailed;
    }
    if (!last || last->day() == now.date().day()) {
        log(last ? QStringLiteral("Update check: already made on this day of the month")
                 : QStringLiteral("Update check: no earlier check recorded; none made this time"));
        return Outcome::NotDue;
    }
    return request();
}

UpdateCheck::Outcome UpdateCheck::request()
{
    const QByteArray body = encodeLegacy(QStringLiteral("prg=%1&ver=%2").arg(kProgramId, version_));
    const platform::HttpReply reply = http_.post(service_.checkUrl(), body);
    if (reply.error == platform::HttpReply::Error::Aborted)
        return Outcome::Aborted;
    if (!reply.ok()) {
        log(QStringLiteral("Update check failed: %1").arg(reply.errorText));
        // Taken from the moment the request ended: it may have waited a long time.
        const QDate today = clock_().date();
        if (today.month() >= 7 && today.year() > 2011)
            opener_.open(service_.infoPageUrl(version_, 9));
        return Outcome::Failed;
    }
    return openTarget(decodeLegacy(reply.body));
}

UpdateCheck::Outcome UpdateCheck::openTarget(const QString& reply)
{
    const qsizetype marker = reply.indexOf(kMarker);
    if (marker < 0)
        return Outcome::NoPage;
    // Only a web address may be opened: the answer comes over plain HTTP and could be forged
    // to name a program or a local file.
    const QString target = reply.mid(marker + kMarker.size(), kMaxTargetLength).trimmed();
    if (!platform::isWebAddress(target)) {
        log(QStringLiteral("Update check: ignored a target that is not a web address: %1")
                .arg(target.left(200)));
        return Outcome::TargetRejected;
    }
    log(QStringLiteral("Update check: opening %1").arg(target));
    opener_.open(target);
    return Outcome::PageOpened;
}

void UpdateCheck::openInfoPage()
{
    if (!service_.enabled()) {
        log(QStringLiteral("Info page: no update host set"));
        return;
    }
    opener_.open(service_.infoPageUrl(version_, 1));
}

void UpdateCheck::abort()
{
    http_.abort();
}

} // namespace kv::app
