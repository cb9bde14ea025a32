#pragma once

#include <QString>

#include <optional>

// A process as one instance, not just a pid: the pid with its start time in
// clock ticks after boot. The kernel never gives the same pid to two processes
// that started at the same tick, so the pair cannot be taken over by a later
// process that reuses the pid.
struct ProcessIdentity {
    qint64 pid = 0;
    quint64 startTime = 0;

    friend bool operator==(const ProcessIdentity&, const ProcessIdentity&) = default;
};

// The process's start time, field 22 of <procRoot>/<pid>/stat; none when the
// process does not exist (any more) or the file cannot be read. The command
// name in field 2 may hold spaces and parentheses, so fields are counted from
// its last ")".
std::optional<quint64> processStartTime(qint64 pid,
                                        const QString& procRoot = QStringLiteral("/proc"));

// Field 22 of the text of a /proc/<pid>/stat file; none when malformed.
std::optional<quint64> startTimeFromStat(const QByteArray& stat);
