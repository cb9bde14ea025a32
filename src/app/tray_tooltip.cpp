#include "app/tray_tooltip.h"

#include <QCoreApplication>

namespace {

// The context of the tooltip's texts for translation.
struct TrayToolTip {
    Q_DECLARE_TR_FUNCTIONS(TrayToolTip)
};

} // namespace

QString trayToolTip(const QList<ServerPresentation>& shown, qsizetype total,
                    const QString& scanError, const QMap<SourceId, QString>& problems,
                    const QString& saveError, bool reversed) {
    QString tip = total == 0   ? TrayToolTip::tr("Harborwatch — no servers")
                  : total == 1 ? TrayToolTip::tr("Harborwatch — 1 server listening")
                               : TrayToolTip::tr("Harborwatch — %1 servers listening").arg(total);
    if (total == 0 && reversed)
        tip += QLatin1Char('\n') + reversedRangeText();
    for (const ServerPresentation& server : shown)
        tip += QLatin1Char('\n') + server.toolTipLine();
    if (total > shown.size())
        tip +=
            QLatin1Char('\n') + TrayToolTip::tr("and %n more", nullptr, int(total - shown.size()));
    if (!scanError.isEmpty())
        tip += QLatin1Char('\n') + TrayToolTip::tr("Port scan failed: %1").arg(scanError);
    for (auto problem = problems.cbegin(); problem != problems.cend(); ++problem)
        tip += QLatin1Char('\n') + problemText(problem.key(), problem.value());
    if (!saveError.isEmpty())
        tip +=
            QLatin1Char('\n') + TrayToolTip::tr("Settings could not be saved: %1").arg(saveError);
    return tip;
}
