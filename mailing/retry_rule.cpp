#include "mailing/retry_rule.h"

#include <algorithm>

RetryRule RetryRule::WithFirstWait(std::chrono::milliseconds first) {
    RetryRule rule;
    rule.firstWait = first;
    rule.longestWait = first * 20;
    rule.totalWait = first * 60;
    return rule;
}

std::optional<std::chrono::milliseconds> RetryRule::WaitAfter(int failedTries, std::chrono::milliseconds waited) const {
    if (failedTries < 1 || failedTries >= maxTries || waited >= totalWait) return std::nullopt;
    std::chrono::milliseconds wait = firstWait;
    for (int i = 1; i < failedTries && wait < longestWait; ++i) wait *= 2;
    return std::min({wait, longestWait, totalWait - waited});
}
