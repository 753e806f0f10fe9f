#pragma once

#include <QtGlobal>

#include <algorithm>
#include <optional>

// When a delivery whose try number `attempt` (1 for the first) failed for a passing reason is
// tried again: `first` seconds after the first try, doubling after each later one; nothing once
// `attempts` tries were made.
inline std::optional<qint64> RetryWait(int attempt, qint64 first, int attempts)
{
    if (attempt >= attempts)
        return std::nullopt;
    return first * (qint64(1) << std::clamp(attempt - 1, 0, 30));
}
