#include "system/local_details.h"

#include "core/frameworks.h"

#include <QDir>
#include <QFileInfo>

const QStringList& projectMarkers() {
    static const QStringList markers = {
        QStringLiteral(".git"),           QStringLiteral("package.json"),
        QStringLiteral("pyproject.toml"), QStringLiteral("setup.py"),
        QStringLiteral("Cargo.toml"),     QStringLiteral("go.mod"),
        QStringLiteral("Gemfile"),        QStringLiteral("pom.xml"),
        QStringLiteral("build.gradle"),   QStringLiteral("composer.json"),
        QStringLiteral("mix.exs"),        QStringLiteral("deno.json"),
    };
    return markers;
}

namespace {

QString baseName(const QString& path) {
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.isEmpty() ? path : name;
}

bool holdsMarker(const QString& folder) {
    for (const QString& marker : projectMarkers()) {
        // .git is a folder in a clone and a file in a worktree or submodule.
        if (QFileInfo::exists(folder + QLatin1Char('/') + marker))
            return true;
    }
    return false;
}

} // namespace

QString projectName(const QString& folder, const QString& home) {
    const QString start = QDir::cleanPath(folder);
    if (start.isEmpty())
        return {};
    const QString stop = home.isEmpty() ? QString() : QDir::cleanPath(home);
    for (QString current = start;
         current != QStringLiteral("/") && current != stop && current.startsWith(u'/');) {
        if (holdsMarker(current))
            return baseName(current);
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        current = slash <= 0 ? QStringLiteral("/") : current.left(slash);
    }
    return baseName(start);
}

ServerDetails readServerDetails(const ListeningPort& port, const ProcFs& proc,
                                const QString& home) {
    ServerDetails details;
    details.address = port.address;
    details.startTime = port.startTime;
    if (port.pid <= 0)
        return details;
    if (details.startTime == 0)
        details.startTime = proc.startTime(port.pid).value_or(0);
    details.folder = proc.cwd(port.pid);
    if (!details.folder.isEmpty())
        details.project = projectName(details.folder, home);
    if (const auto cmdline = proc.cmdline(port.pid)) {
        details.arguments = argumentsFromCmdline(*cmdline);
        details.commandLine = commandLineText(details.arguments);
    }
    details.framework = detectFramework(details.arguments, QString::fromUtf8(proc.exeName(port.pid)), details.folder);
    details.https = servesHttps(details.arguments);
    return details;
}
