#include "mailing/send_rate.h"

SendRate::SendRate(int mailsPerMinute) {
    if (mailsPerMinute > 0) interval_ = std::chrono::milliseconds(60000 / mailsPerMinute);
}

std::chrono::milliseconds SendRate::WaitBefore(Clock::time_point now) const {
    if (!Limited() || !lastEnd_) return std::chrono::milliseconds(0);
    const auto due = *lastEnd_ + interval_;
    if (now >= due) return std::chrono::milliseconds(0);
    return std::chrono::ceil<std::chrono::milliseconds>(due - now);
}
