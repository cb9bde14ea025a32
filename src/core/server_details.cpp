#include "core/server_details.h"

#include <QByteArray>
#include <QDir>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>

namespace {

QString baseName(const QString& path) {
    const QString name = path.section(QLatin1Char('/'), -1);
    return name.isEmpty() ? path : name;
}

} // namespace

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
    if (reachableAsLocalhost(address))
        return (https ? QStringLiteral("https://localhost:")
                      : QStringLiteral("http://localhost:")) +
               QString::number(port);
    return literalServerUrl(port, address, https);
}

QString literalServerUrl(qint64 port, const QString& address, bool https) {
    const QString scheme = https ? QStringLiteral("https://") : QStringLiteral("http://");
    const QString number = QString::number(port);
    const QString host = unmapped(address);
    if (host.contains(QLatin1Char(':')))
        return scheme + QLatin1Char('[') + host + QStringLiteral("]:") + number;
    return scheme + host + QLatin1Char(':') + number;
}
