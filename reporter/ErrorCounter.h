#pragma once
// Counts the errors of one run and decides what the dialog offers and whether to restart.
// Pure: the caller passes the time, so tests can drive it with any numbers.

#include <cstdint>
#include <deque>

struct TErrorVerdict {
    int Number = 0;            // 1 for the run's first error
    bool OfferRestart = false; // from the 4th error of the run on: the restart check box
    bool RestartNow = false;   // the 10th error within 60 s: restart once its dialog has closed
};

class TErrorCounter {
public:
    static constexpr int OfferRestartFrom = 4;
    static constexpr int BurstErrors = 10;
    static constexpr std::int64_t BurstWindowMs = 60'000; // inclusive: exactly 60 s apart still counts

    // `nowMs` is a monotonic clock in milliseconds (GetTickCount64 in the shell, any numbers in tests).
    // After a verdict with RestartNow the burst starts over, so a restart that did not happen is not
    // asked for again by the very next error.
    TErrorVerdict Count(std::int64_t nowMs);

private:
    int count_ = 0;
    std::deque<std::int64_t> recent_; // times of the latest errors, at most BurstErrors
};
