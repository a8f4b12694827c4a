#include "app/RemainingTime.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <cmath>
#include <limits>
#include <memory>

namespace kv::app {

RemainingTime::RemainingTime(Clock clock, TimeFormatter format)
    : clock_(std::move(clock)), format_(std::move(format))
{
}

RemainingTime::Clock RemainingTime::steadyClock()
{
    auto timer = std::make_shared<QElapsedTimer>();
    timer->start();
    return [timer] { return static_cast<std::int64_t>(timer->elapsed()); };
}

void RemainingTime::reset()
{
    ring_.fill(Sample{});
    ticks_ = 0;
}

void RemainingTime::tick(std::int64_t position, std::int64_t total)
{
    if (ticks_ < kSamples)
        ++ticks_;
    for (int i = kSamples - 1; i > 0; --i)
        ring_[i] = ring_[i - 1];
    const std::int64_t now = clock_();
    ring_[0] = Sample{now, position};
    if (ticks_ == 1)
        return;

    const Sample& oldest = ring_[ticks_ - 1]; // the oldest sample since the reset
    const double seconds = static_cast<double>(now - oldest.timeMs) / 1000.0;
    // Computed in floating point: exact for media positions of any real length, and no
    // overflow for absurd ones.
    const double progress = static_cast<double>(position) - static_cast<double>(oldest.position);
    if (progress < 1.0 || seconds <= 0.0) {
        text_ = kUnknown;
        return;
    }
    const double rate = progress / seconds;
    const double remaining = static_cast<double>(total) - static_cast<double>(position);
    const double ms = std::trunc(remaining / rate * 1000.0);
    // Beyond any range shown (24 h and more) or not a number: no estimate.
    if (!std::isfinite(ms) || std::fabs(ms) > 1e15) {
        text_ = kUnknown;
        return;
    }
    text_ = formatRemaining(static_cast<std::int64_t>(ms), format_);
}

QString RemainingTime::formatRemaining(std::int64_t ms, const TimeFormatter& format)
{
    const std::int64_t h = ms / 3600000;
    const std::int64_t m = (ms - h * 3600000) / 60000;
    const std::int64_t s = (ms - h * 3600000 - m * 60000) / 1000;
    // Negative estimates above -1 s come out as 0:0:0 here and are shown as no time left.
    if (h < 0 || h > 23 || m < 0 || m > 59 || s < 0 || s > 59)
        return kUnknown;
    QString text = format(QTime(static_cast<int>(h), static_cast<int>(m), static_cast<int>(s)));
    if (text.startsWith(QLatin1String("00"))) // drop zero hours and the separator after them
        text = text.mid(3, 10);
    return QStringLiteral("(-") + text + QLatin1Char(')');
}

RemainingTime::TimeFormatter RemainingTime::localeTimeFormatter(const QLocale& locale)
{
    // The short time format carries the locale's hour form, separator and AM/PM position
    // (e.g. "HH:mm", "h:mm AP", "H.mm", "AP h:mm"); seconds are added after the minutes.
    const QString shortFormat = locale.timeFormat(QLocale::ShortFormat);
    static const QRegularExpression pattern(QStringLiteral("^(.*?)(HH|H|hh|h)([^hHm]*)(mm|m)(.*)$"));
    QString qtFormat = QStringLiteral("HH:mm:ss");
    const QRegularExpressionMatch match = pattern.match(shortFormat);
    if (match.hasMatch()) {
        const QString separator = match.captured(3);
        QString after = match.captured(5);
        // Drop seconds the short format may already carry; they are added below.
        static const QRegularExpression seconds(QStringLiteral("^[^a-zA-Z]*ss?"));
        after.remove(seconds);
        qtFormat = match.captured(1) + match.captured(2) + separator + QStringLiteral("mm") + separator +
                   QStringLiteral("ss") + after;
    }
    return [locale, qtFormat](const QTime& time) { return locale.toString(time, qtFormat); };
}

} // namespace kv::app
