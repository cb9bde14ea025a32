#include "core/server_source.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <optional>

QString describeStopOutcome(StopOutcome outcome, qint64 port, const QString& detail) {
    const auto tr = [](const char* text) {
        return QCoreApplication::translate("ProcessControl", text);
    };
    switch (outcome) {
    case StopOutcome::Delivered:
        return {};
    case StopOutcome::NotListed:
        return tr("it is no longer in the list");
    case StopOutcome::InvalidPid:
        return tr("it has no valid process id");
    case StopOutcome::UnknownStartTime:
        return tr("its process could not be confirmed (its start time is unknown)");
    case StopOutcome::Exited:
        return tr("it exited already");
    case StopOutcome::PidReused:
        return tr("another process has its pid now");
    case StopOutcome::NotListening:
        return tr("it no longer listens on port %1").arg(port);
    case StopOutcome::PermissionDenied:
        return tr("permission denied — it belongs to another user");
    case StopOutcome::Failed:
        break;
    }
    return tr("the signal could not be sent (%1)").arg(detail);
}

StopResult stopRefused(StopOutcome outcome, qint64 port, const QString& detail) {
    return {outcome, describeStopOutcome(outcome, port, detail)};
}

ScanResult scanAndWait(ServerSource& source, const ScanFilter& filter) {
    std::optional<ScanResult> result;
    QEventLoop loop;
    if (!source.scan(filter, [&](ScanResult r) {
            result = std::move(r);
            loop.quit();
        }))
        return {{}, QCoreApplication::translate("ServerSource", "a scan is already running")};
    if (!result)
        loop.exec();
    return std::move(*result);
}
