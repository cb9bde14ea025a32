#include "scanner/process_identity.h"

#include <QByteArray>

#include <fcntl.h>
#include <unistd.h>

std::optional<quint64> startTimeFromStat(const QByteArray& stat) {
    const qsizetype close = stat.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    // After ") " come field 3 (state) onwards; the start time is field 22,
    // the twentieth of them.
    int field = 3;
    qsizetype pos = close + 1;
    while (pos < stat.size()) {
        while (pos < stat.size() && stat[pos] == ' ')
            ++pos;
        const qsizetype start = pos;
        while (pos < stat.size() && stat[pos] != ' ' && stat[pos] != '\n')
            ++pos;
        if (pos == start)
            break;
        if (field == 22) {
            bool ok = false;
            const quint64 value = stat.mid(start, pos - start).toULongLong(&ok);
            return ok ? std::optional<quint64>(value) : std::nullopt;
        }
        ++field;
    }
    return std::nullopt;
}

std::optional<quint64> processStartTime(qint64 pid, const QString& procRoot) {
    if (pid <= 0)
        return std::nullopt;
    const QByteArray path =
        (procRoot + u'/' + QString::number(pid) + QStringLiteral("/stat")).toLocal8Bit();
    const int fd = ::open(path.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char buffer[1024];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n <= 0)
        return std::nullopt;
    return startTimeFromStat(QByteArray(buffer, n));
}
