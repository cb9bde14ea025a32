#pragma once

#include "core/presentation.h"

#include <QList>
#include <QMap>
#include <QString>

// The tray icon's tooltip: "Harborwatch — 2 servers listening", then one line
// per server of `shown` ("3000  node — shop"), "and N more" for the rest of
// `total`, then the scan's failure, each source's problem (by source id) and a
// failed save of the settings, on lines of their own. With no server listed
// under a range whose From is above its To (`reversed`), the second line says
// so.
QString trayToolTip(const QList<ServerPresentation>& shown, qsizetype total,
                    const QString& scanError, const QMap<SourceId, QString>& problems,
                    const QString& saveError, bool reversed = false);
