#include "core/process_time.h"

#include <algorithm>
#include <ctime>
#include <unistd.h>

std::optional<qint64> secondsRunning(quint64 startTime) {
    if (startTime == 0)
        return std::nullopt;
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    timespec now{};
    // CLOCK_BOOTTIME counts from boot like the start time, suspend included.
    if (ticksPerSecond <= 0 || ::clock_gettime(CLOCK_BOOTTIME, &now) != 0)
        return std::nullopt;
    const qint64 started = qint64(startTime / quint64(ticksPerSecond));
    return std::max<qint64>(0, qint64(now.tv_sec) - started);
}

std::optional<qint64> startedAtMs(quint64 startTime, qint64 bootTimeSeconds) {
    const long ticksPerSecond = ::sysconf(_SC_CLK_TCK);
    if (startTime == 0 || ticksPerSecond <= 0)
        return std::nullopt;
    return bootTimeSeconds * 1000 + qint64(startTime) * 1000 / ticksPerSecond;
}
