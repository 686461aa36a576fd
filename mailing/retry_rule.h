#pragma once
// How a mail that met a temporary error (a 4xx reply, a lost connection) is tried again: after a wait
// that doubles each time, within a bound on tries and on the waiting for one line, so that a provider's
// cap that lifts after some minutes costs no mail, and one that does not costs no hour per line.

#include <chrono>
#include <optional>

struct RetryRule {
    std::chrono::milliseconds firstWait{std::chrono::seconds(30)};
    std::chrono::milliseconds longestWait{std::chrono::minutes(10)};
    std::chrono::milliseconds totalWait{std::chrono::minutes(30)};
    int maxTries = 6;

    // The rule with another first wait; the bounds scale with it (each wait at most 20 times the first,
    // all waits of one line at most 60 times). For scripts and tests that must run in seconds.
    static RetryRule WithFirstWait(std::chrono::milliseconds first);

    // The wait after `failedTries` tries of one line that waited `waited` so far; nothing when the
    // tries or the waiting are spent and the line fails.
    std::optional<std::chrono::milliseconds> WaitAfter(int failedTries, std::chrono::milliseconds waited) const;
};
