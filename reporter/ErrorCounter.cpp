#include "ErrorCounter.h"

TErrorVerdict TErrorCounter::Count(std::int64_t nowMs)
{
    TErrorVerdict verdict;
    verdict.Number = ++count_;
    verdict.OfferRestart = count_ >= OfferRestartFrom;

    recent_.push_back(nowMs);
    if (recent_.size() > static_cast<std::size_t>(BurstErrors))
        recent_.pop_front();
    if (recent_.size() == static_cast<std::size_t>(BurstErrors) &&
        nowMs - recent_.front() <= BurstWindowMs) {
        verdict.RestartNow = true;
        recent_.clear();
    }
    return verdict;
}
