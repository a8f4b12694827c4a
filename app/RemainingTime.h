#pragma once
// The estimate of the conversion time still needed, shown after the percentage of the
// progress label, e.g. "(-03:17)".
//
// The window's 3-second timer TimerStatystykiTimer calls tick() with the latest position and
// total duration of the progress report; btnStartConvertClick calls reset() before it starts
// the timer; pause and resume only stop and start the timer. The progress handler appends
// text(). The ten newest samples are kept; the speed is measured between the newest and the
// oldest one taken since the reset (up to 27 s back), so the estimate follows changes of
// speed with that delay.
#include <QLocale>
#include <QString>
#include <QTime>

#include <array>
#include <cstdint>
#include <functional>

namespace kv::app {

class RemainingTime {
  public:
    // Milliseconds on a clock that only moves forward. Elapsed time is all that is measured,
    // so changes of the wall clock (summer time, the user setting the clock) do not matter.
    using Clock = std::function<std::int64_t()>;
    // Writes a time of day as the user's locale writes its long time.
    using TimeFormatter = std::function<QString(const QTime&)>;

    static inline const QString kUnknown = QStringLiteral("(---:--:--)");
    static constexpr int kSamples = 10;

    explicit RemainingTime(Clock clock = steadyClock(),
                           TimeFormatter format = localeTimeFormatter(QLocale()));

    // Forgets every sample; the text stays as it was until the second tick after this.
    void reset();
    // One timer tick: takes a sample and, from the second tick on, renews the text.
    // Position and total are in the same unit (microseconds of media).
    void tick(std::int64_t position, std::int64_t total);

    const QString& text() const { return text_; }
    int tickCount() const { return ticks_; }

    static Clock steadyClock();
    // "hh:mm:ss" in the locale's manner: its hour form (with or without leading zero, 12 or
    // 24 hours), its time separator and its AM/PM marker before or after.
    static TimeFormatter localeTimeFormatter(const QLocale& locale);
    // Text for a number of milliseconds as tick() would show it, or kUnknown.
    static QString formatRemaining(std::int64_t ms, const TimeFormatter& format);

  private:
    struct Sample {
        std::int64_t timeMs = 0;
        std::int64_t position = 0;
    };

    Clock clock_;
    TimeFormatter format_;
    std::array<Sample, kSamples> ring_{}; // [0] the newest
    int ticks_ = 0;                       // ticks since the reset, stopping at kSamples
    QString text_;
};

} // namespace kv::app
