#include "system/local_details.h"

#include "core/frameworks.h"
#include "core/project_manifest.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::optional<QByteArray> readManifest(const QString& path, const QString& root) {
    constexpr qsizetype limit = 1 << 20;
    const QByteArray name = QFile::encodeName(path);
    struct stat seen {};
    // Only a regular file is opened: opening a device may do something.
    if (::stat(name.constData(), &seen) != 0 || !S_ISREG(seen.st_mode) || seen.st_size > limit)
        return std::nullopt;
    const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    const auto closeFile = qScopeGuard([fd] { ::close(fd); });
    struct stat opened {};
    if (::fstat(fd, &opened) != 0 || !S_ISREG(opened.st_mode) || opened.st_dev != seen.st_dev ||
        opened.st_ino != seen.st_ino)
        return std::nullopt;
    // Where the file opened really is, whatever links led there.
    char target[PATH_MAX];
    const QByteArray link = "/proc/self/fd/" + QByteArray::number(fd);
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    const QString real =
        length > 0 ? QFile::decodeName(QByteArray(target, qsizetype(length))) : QString();
    if (root.isEmpty() || !real.startsWith(root == QStringLiteral("/") ? root : root + u'/'))
        return std::nullopt;
    QByteArray text(limit + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < text.size()) {
        const ssize_t got = ::read(fd, text.data() + size, size_t(text.size() - size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return std::nullopt;
        if (got == 0)
            break;
        size += got;
    }
    if (size > limit)
        return std::nullopt;
    text.truncate(size);
    return text;
}

Project projectOf(const QString& folder, const QString& home) {
    const QString start = QDir::cleanPath(folder);
    if (start.isEmpty())
        return {};
    const QString stop = home.isEmpty() ? QString() : QDir::cleanPath(home);
    for (QString current = start;
         current != QStringLiteral("/") && current != stop && current.startsWith(u'/');) {
        if (holdsMarker(current)) {
            const QString root = QFileInfo(current).canonicalFilePath();
            for (const QString& manifest : manifestFiles()) {
                const auto text = readManifest(current + u'/' + manifest, root);
                if (const QString name = text ? manifestName(manifest, *text) : QString();
                    !name.isEmpty())
                    return {current, name};
            }
            return {current, baseName(current)};
        }
        const qsizetype slash = current.lastIndexOf(QLatin1Char('/'));
        current = slash <= 0 ? QStringLiteral("/") : current.left(slash);
    }
    return {start, baseName(start)};
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
    if (!details.folder.isEmpty()) {
        const Project project = projectOf(details.folder, home);
        details.project = project.name;
        details.projectFolder = project.folder;
    }
    if (const auto cmdline = proc.cmdline(port.pid)) {
        details.arguments = argumentsFromCmdline(*cmdline);
        details.commandLine = commandLineText(details.arguments);
    }
    details.framework = detectFramework(details.arguments,
                                        QString::fromUtf8(proc.exeName(port.pid)), details.folder);
    details.https = servesHttps(details.arguments);
    return details;
}
