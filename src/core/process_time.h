#pragma once

#include <QtGlobal>

#include <optional>

// A process's times from its start time in clock ticks after boot (field 22
// of /proc/<pid>/stat), as the records carry it.

// How long a process that started `startTime` clock ticks after boot has been
// running, in whole seconds; none when the start time is unknown (0) or the
// clock cannot be read.
std::optional<qint64> secondsRunning(quint64 startTime);
// When it started, in milliseconds since the epoch, given the boot time;
// none when the start time is unknown.
std::optional<qint64> startedAtMs(quint64 startTime, qint64 bootTimeSeconds);
