#pragma once

#include "core/presentation.h"

#include <QList>
#include <QMap>
#include <QString>

// The tray icon's tooltip: "Harborwatch — 2 servers listening", then one line
// per server of `shown` ("3000  node — shop"), "and N more" for the rest of
// `total`, then the scan's failure, each source's problem (by source id) and a
// failed save of the settings, on lines of their own.
QString trayToolTip(const QList<ServerPresentation>& shown, qsizetype total,
                    const QString& scanError, const QMap<QString, QString>& problems,
                    const QString& saveError);
