// The remaining-time estimate, driven tick by tick by a fake clock.
#include "app/RemainingTime.h"
#include "QtPrinters.h"

#include <gtest/gtest.h>

#include <optional>
#include <vector>

using kv::app::RemainingTime;

namespace {

constexpr std::int64_t kSecond = 1000000; // positions are microseconds of media
const QString kUnknown = QStringLiteral("(---:--:--)");

QString twentyFourHour(const QTime& time)
{
    return time.toString(QStringLiteral("HH:mm:ss"));
}

struct Tick {
    double atSeconds;              // clock time of the tick
    double positionSeconds;        // encoder position then
    std::optional<QString> expect; // text after the tick; not checked when empty
};

// Runs the ticks of one conversion with a total duration; returns what was seen.
class Conversion {
  public:
    explicit Conversion(double totalSeconds) : total_(static_cast<std::int64_t>(totalSeconds * kSecond)) {}

    RemainingTime estimate{[this] { return nowMs_; }, twentyFourHour};

    void tick(double atSeconds, double positionSeconds)
    {
        nowMs_ = static_cast<std::int64_t>(atSeconds * 1000);
        estimate.tick(static_cast<std::int64_t>(positionSeconds * kSecond), total_);
    }
    void play(const std::vector<Tick>& ticks)
    {
        for (std::size_t i = 0; i < ticks.size(); ++i) {
            tick(ticks[i].atSeconds, ticks[i].positionSeconds);
            if (ticks[i].expect) {
                EXPECT_EQ(estimate.text(), *ticks[i].expect) << "tick " << i + 1;
            }
        }
    }

  private:
    std::int64_t total_;
    std::int64_t nowMs_ = 0;
};

} // namespace

TEST(RemainingTime, EstimatesFromTheSpeedSinceTheOldestSample)
{
    struct Case {
        const char* name;
        double total;
        std::vector<Tick> ticks;
    };
    const QString none;
    const std::vector<Case> cases = {
        {"first tick only samples", 600, {{3, 10, none}}},
        {"nothing converted yet", 600, {{3, 0, none}, {6, 0, kUnknown}}},
        {"position went back", 600, {{3, 10, none}, {6, 5, kUnknown}}},
        {"600 s, 300 done, 294 six seconds earlier",
         600,
         {{3, 294, none}, {6, 297, QStringLiteral("(-05:03)")}, {9, 300, QStringLiteral("(-05:00)")}}},
        {"hours shown", 3728, {{3, 0, none}, {6, 3, QStringLiteral("(-01:02:05)")}}},
        {"seconds only", 48, {{3, 0, none}, {6, 3, QStringLiteral("(-00:45)")}}},
        {"just under a day", 86402, {{3, 0, none}, {6, 3, QStringLiteral("(-23:59:59)")}}},
        {"a day or more", 86403, {{3, 0, none}, {6, 3, kUnknown}}},
        {"thirty more hours", 36001, {{3, 0, none}, {6, 1, kUnknown}}},
        {"past the end by half a second", 2.5, {{3, 0, none}, {6, 3, QStringLiteral("(-00:00)")}}},
        {"past the end by two seconds", 1, {{3, 0, none}, {6, 3, kUnknown}}},
        {"clock did not move", 600, {{3, 0, none}, {3, 3, kUnknown}}},
        {"finished: the position stops moving",
         30,
         {{3, 0, none},
          {6, 15, QStringLiteral("(-00:03)")},
          {9, 30, QStringLiteral("(-00:00)")},
          {12, 30, QStringLiteral("(-00:00)")}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Conversion run(c.total);
        run.play(c.ticks);
    }
}

TEST(RemainingTime, WindowSlidesAfterTheTenthTick)
{
    // A fast first interval (90 s of media in 3 s), then real time. Up to the tenth tick the
    // fast interval is inside the window; from the eleventh on the oldest sample is the one
    // taken nine ticks (27 s) before, and the estimate shows the real-time speed.
    Conversion run(1000);
    std::vector<Tick> ticks = {{3, 0, std::nullopt}};
    for (int i = 2; i <= 12; ++i)
        ticks.push_back({3.0 * i, 90.0 + 3 * (i - 2), std::nullopt});
    ticks[1].expect = QStringLiteral("(-00:30)");  // 910 s left at 30x
    ticks[9].expect = QStringLiteral("(-03:29)");  // 886 s left at 114/27x
    ticks[10].expect = QStringLiteral("(-14:43)"); // 883 s left at 1x
    ticks[11].expect = QStringLiteral("(-14:40)");
    run.play(ticks);
    EXPECT_EQ(run.estimate.tickCount(), 10);
}

TEST(RemainingTime, PauseLengthensTheEstimateUntilItLeavesTheWindow)
{
    Conversion run(1000);
    double at = 0;
    double position = 0;
    auto next = [&](double pauseSeconds = 0) {
        at += 3 + pauseSeconds;
        run.tick(at, position);
        position += 3;
        return run.estimate.text();
    };
    for (int i = 0; i < 6; ++i)
        next();
    EXPECT_EQ(run.estimate.text(), QStringLiteral("(-16:25)"));
    EXPECT_EQ(next(60), QStringLiteral("(-01:10:55)")); // 18 s of media in 78 s
    for (int i = 0; i < 8; ++i)
        next();
    EXPECT_EQ(run.estimate.text(), QStringLiteral("(-51:26)")); // the pause still in the window
    EXPECT_EQ(next(), QStringLiteral("(-15:55)"));              // ninth tick after resuming
}

TEST(RemainingTime, ResetKeepsTheLastTextUntilTheSecondTick)
{
    Conversion run(600);
    run.play({{3, 294, std::nullopt}, {6, 297, std::nullopt}, {9, 300, QStringLiteral("(-05:00)")}});
    run.estimate.reset();
    EXPECT_EQ(run.estimate.tickCount(), 0);
    // A second conversion: zero positions again; the old text stands until the second tick.
    run.play({{20, 0, QStringLiteral("(-05:00)")}, {23, 60, QStringLiteral("(-00:27)")}});
}

TEST(RemainingTime, TimeTextFollowsTheLocale)
{
    struct Case {
        const char* locale;
        std::int64_t ms;
        const char* text;
    };
    const Case cases[] = {
        {"de_DE", 197000, "(-03:17)"},       {"de_DE", 3725000, "(-01:02:05)"},
        {"pl_PL", 45000, "(-00:45)"},        {"fi_FI", 197000, "(-0.03.17)"},
        {"en_US", 197000, "(-12:03:17 AM)"}, {"en_US", 3725000, "(-1:02:05 AM)"},
        {"C", 197000, "(-03:17)"},
    };
    for (const Case& c : cases) {
        const auto format = RemainingTime::localeTimeFormatter(QLocale(QString::fromLatin1(c.locale)));
        EXPECT_EQ(RemainingTime::formatRemaining(c.ms, format), QString::fromUtf8(c.text)) << c.locale;
    }
}
