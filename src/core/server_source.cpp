#include "core/server_source.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <optional>

namespace {
// The context of the stop outcomes' texts for translation.
struct ProcessControl {
    Q_DECLARE_TR_FUNCTIONS(ProcessControl)
};
} // namespace

QString describeStopOutcome(StopOutcome outcome, qint64 port, const QString& detail) {
    switch (outcome) {
    case StopOutcome::Delivered:
        return {};
    case StopOutcome::NotListed:
        return ProcessControl::tr("it is no longer in the list");
    case StopOutcome::InvalidPid:
        return ProcessControl::tr("it has no valid process id");
    case StopOutcome::UnknownStartTime:
        return ProcessControl::tr("its process could not be confirmed (its start time is unknown)");
    case StopOutcome::Exited:
        return ProcessControl::tr("it exited already");
    case StopOutcome::PidReused:
        return ProcessControl::tr("another process has its pid now");
    case StopOutcome::NotListening:
        return ProcessControl::tr("it no longer listens on port %1").arg(port);
    case StopOutcome::PermissionDenied:
        return ProcessControl::tr("permission denied — it belongs to another user");
    case StopOutcome::Failed:
        break;
    }
    return ProcessControl::tr("the signal could not be sent (%1)").arg(detail);
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
