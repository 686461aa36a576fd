#pragma once
// The sending rate: at most N mails a minute, spaced evenly through the minute, so that a provider's
// cap ("30 mails a minute") is never hit by a burst. The interval counts from the end of one send to the
// start of the next: the first send of a connection also connects and logs in, so counting from starts
// would let two mails arrive closer together than the interval.

#include <chrono>
#include <optional>

class SendRate {
public:
    using Clock = std::chrono::steady_clock;

    // 0: no limit.
    explicit SendRate(int mailsPerMinute);

    bool Limited() const { return interval_.count() > 0; }
    // The time from the end of one send to the start of the next.
    std::chrono::milliseconds Interval() const { return interval_; }
    // How long to wait at `now` before the next send may start; zero when it may start at once.
    std::chrono::milliseconds WaitBefore(Clock::time_point now) const;
    // A send (an attempt, whatever its outcome) ended at `now`.
    void Ended(Clock::time_point now) { lastEnd_ = now; }
    // The time `mails` more sends take at this rate (zero without a limit).
    std::chrono::milliseconds TimeFor(int mails) const { return interval_ * mails; }

private:
    std::chrono::milliseconds interval_{0};
    std::optional<Clock::time_point> lastEnd_;
};
