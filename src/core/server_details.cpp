#include "core/server_details.h"

#include "core/frameworks.h"
#include "core/procfs.h"
#include "core/project_manifest.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <netinet/in.h>
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

QStringList argumentsFromCmdline(const QByteArray& cmdline) {
    QStringList arguments;
    qsizetype start = 0;
    while (start < cmdline.size()) {
        qsizetype end = cmdline.indexOf('\0', start);
        if (end < 0)
            end = cmdline.size();
        arguments.append(QString::fromUtf8(cmdline.constData() + start, end - start));
        start = end + 1;
    }
    // A rewritten command line may leave NUL padding behind its text.
    while (!arguments.isEmpty() && arguments.last().isEmpty())
        arguments.removeLast();
    return arguments;
}

QString commandLineText(const QStringList& arguments) {
    if (arguments.isEmpty())
        return {};
    if (arguments.size() == 1 && arguments.first().contains(QLatin1Char(' ')))
        return arguments.first();
    QStringList shown = arguments;
    shown.first() = baseName(shown.first());
    return shown.join(QLatin1Char(' '));
}

QString shellCommandText(const QStringList& arguments) {
    static const QString plain = QStringLiteral("_-./:=@%+,");
    QStringList words;
    words.reserve(arguments.size());
    for (const QString& argument : arguments) {
        const bool safe =
            !argument.isEmpty() && std::all_of(argument.begin(), argument.end(), [](QChar c) {
                return c.isLetterOrNumber() || plain.contains(c);
            });
        if (safe) {
            words.append(argument);
        } else {
            QString quoted = argument;
            quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
            words.append(QLatin1Char('\'') + quoted + QLatin1Char('\''));
        }
    }
    return words.join(QLatin1Char(' '));
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
    details.framework = detectFramework(details.arguments, QString::fromUtf8(proc.exeName(port.pid)), details.folder);
    details.https = servesHttps(details.arguments);
    return details;
}

QString withHomeAsTilde(const QString& path, const QString& home) {
    const QString root = QDir::cleanPath(home);
    if (home.isEmpty() || root == QStringLiteral("/"))
        return path;
    if (path == root)
        return QStringLiteral("~");
    if (path.startsWith(root + QLatin1Char('/')))
        return QLatin1Char('~') + path.mid(root.size());
    return path;
}

namespace {

// The IPv4 address inside "::ffff:a.b.c.d", or the text itself.
QString unmapped(const QString& address) {
    static const QString prefix = QStringLiteral("::ffff:");
    if (address.startsWith(prefix, Qt::CaseInsensitive) && address.contains(QLatin1Char('.')))
        return address.mid(prefix.size());
    return address;
}

} // namespace

bool reachableAsLocalhost(const QString& address) {
    const QString plain = unmapped(address);
    if (plain.isEmpty() || plain == QStringLiteral("*"))
        return true;
    const QByteArray text = plain.toLatin1();
    in_addr v4{};
    if (::inet_pton(AF_INET, text.constData(), &v4) == 1) {
        const quint32 host = ntohl(v4.s_addr);
        return host == 0 || host >> 24 == 127;
    }
    in6_addr v6{};
    if (::inet_pton(AF_INET6, text.constData(), &v6) == 1)
        return IN6_IS_ADDR_UNSPECIFIED(&v6) || IN6_IS_ADDR_LOOPBACK(&v6);
    return true; // not an address: nothing better than localhost to offer
}

QString serverUrl(qint64 port, const QString& address, bool https) {
    const QString scheme = https ? QStringLiteral("https://") : QStringLiteral("http://");
    const QString number = QString::number(port);
    if (reachableAsLocalhost(address))
        return scheme + QStringLiteral("localhost:") + number;
    const QString host = unmapped(address);
    if (host.contains(QLatin1Char(':')))
        return scheme + QLatin1Char('[') + host + QStringLiteral("]:") + number;
    return scheme + host + QLatin1Char(':') + number;
}
