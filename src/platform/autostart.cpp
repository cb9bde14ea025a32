#include "platform/autostart.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <algorithm>

namespace autostart {

namespace {

// The context of this file's texts for translation.
struct Autostart {
    Q_DECLARE_TR_FUNCTIONS(Autostart)
};

const QString fileName = QStringLiteral("harborwatch.desktop");

// The program path as one Exec argument: quoted when it holds a character the
// desktop entry format reserves, then escaped as a string value ("\" doubled,
// "%" as "%%").
QByteArray execArgument(const QString& program) {
    static const QString reserved = QStringLiteral(" \t\"'\\><~|&;$*?#()`");
    QString argument = program;
    const bool quote =
        std::any_of(program.cbegin(), program.cend(), [](QChar c) { return reserved.contains(c); });
    if (quote) {
        argument.clear();
        for (QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument += u'\\';
            argument += c;
        }
        argument = u'"' + argument + u'"';
    }
    argument.replace(QStringLiteral("\\"), QStringLiteral("\\\\"));
    argument.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return argument.toUtf8();
}

bool isGroupLine(const QByteArray& line) {
    return line.startsWith('[');
}

} // namespace

QString entryPath(const QString& configHome, const QString& home) {
    const QString base = QDir::isAbsolutePath(configHome)
                             ? configHome
                             : QDir(home).filePath(QStringLiteral(".config"));
    return QDir(base).filePath(QStringLiteral("autostart/") + fileName);
}

QString entryPath() {
    return entryPath(qEnvironmentVariable("XDG_CONFIG_HOME"), QDir::homePath());
}

bool isEnabled(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    bool inMain = false;
    bool sawMain = false;
    for (QByteArray line : file.readAll().split('\n')) {
        line = line.trimmed();
        if (isGroupLine(line)) {
            inMain = line == "[Desktop Entry]";
            sawMain = sawMain || inMain;
            continue;
        }
        if (!inMain)
            continue;
        const qsizetype equals = line.indexOf('=');
        if (equals < 0)
            continue;
        const QByteArray key = line.first(equals).trimmed();
        const QByteArray value = line.sliced(equals + 1).trimmed();
        if (key == "Hidden" && value == "true")
            return false;
        if (key == "X-GNOME-Autostart-enabled" && value == "false")
            return false;
    }
    return sawMain;
}

QByteArray entryFor(const QByteArray& entry, const QString& program) {
    if (program.contains(u'\n') || program.contains(u'\r') || program.isEmpty())
        return {};
    QList<QByteArray> out;
    bool inMain = false;
    bool wroteExec = false;
    for (const QByteArray& line : entry.split('\n')) {
        const QByteArray trimmed = line.trimmed();
        if (isGroupLine(trimmed))
            inMain = trimmed == "[Desktop Entry]";
        const auto hasKey = [&](const char* key) {
            return trimmed.startsWith(key) &&
                   trimmed.sliced(qstrlen(key)).trimmed().startsWith('=');
        };
        if (inMain && (hasKey("Exec") || hasKey("TryExec"))) {
            if (hasKey("Exec") && !wroteExec) {
                out.append("Exec=" + execArgument(program));
                wroteExec = true;
            }
            continue;
        }
        out.append(line);
    }
    return out.join('\n');
}

QByteArray installedEntry() {
    QFile file(QStringLiteral(":/desktop/harborwatch.desktop"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

QString setEnabled(const QString& path, bool enabled, const QString& program) {
    if (!enabled) {
        QFile file(path);
        if (!file.exists() || file.remove())
            return {};
        return Autostart::tr("%1 could not be removed: %2").arg(path, file.errorString());
    }
    const QByteArray text = entryFor(installedEntry(), program);
    if (text.isEmpty())
        return Autostart::tr("the program's path %1 cannot be written in a desktop entry")
            .arg(program);
    const QString folder = QFileInfo(path).absolutePath();
    if (!QDir().mkpath(folder))
        return Autostart::tr("the folder %1 could not be made").arg(folder);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        return Autostart::tr("%1 could not be written: %2").arg(path, file.errorString());
    return {};
}

} // namespace autostart
