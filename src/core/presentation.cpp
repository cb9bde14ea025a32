#include "core/presentation.h"

#include "core/display_text.h"
#include "core/process_time.h"

#include <QCoreApplication>
#include <QDir>

#include <algorithm>

namespace {

// The context of the texts that show a server, for translation.
struct ServerText {
    Q_DECLARE_TR_FUNCTIONS(ServerText)
};

// A kind longer than this many terminal cells is cut: the row stays readable.
constexpr int kindCells = 24;
// A command line longer than this is cut in the middle.
constexpr qsizetype commandLineWidth = 60;

} // namespace

ServerPresentation::ServerPresentation(ListeningPort record, ServerDetails details,
                                       ServerChoice choice)
    : m_record(std::move(record)), m_details(std::move(details)), m_choice(std::move(choice)) {}

QString ServerPresentation::kind() const {
    if (!m_choice.label.isEmpty())
        return m_choice.label;
    if (!m_details.framework.isEmpty())
        return m_details.framework;
    return answer() ? answer()->title : QString();
}

bool ServerPresentation::silent() const {
    return answer() && answer()->kind == PortAnswer::Kind::Silent;
}

bool ServerPresentation::speaksHttp() const {
    return !answer() || answer()->kind != PortAnswer::Kind::Other;
}

QString ServerPresentation::name() const {
    return displayName(m_record.process);
}

QString ServerPresentation::title(const LiteralText& literal) const {
    const auto shown = [&literal](const QString& text) { return literal ? literal(text) : text; };
    // One arg() call with every value: a "%1" inside a name stays text.
    const QString number = QString::number(m_record.port);
    const QString process = shown(name());
    const QString named = kind();
    QString title = named.isEmpty()
                        ? ServerText::tr("%1 - %2").arg(number, process)
                        : ServerText::tr("%1 - %2 · %3")
                              .arg(number, process, shown(elideEnd(displayName(named), kindCells)));
    if (m_record.split)
        title = ServerText::tr("%1 · %2 only").arg(title, m_record.address);
    return silent() ? ServerText::tr("%1 (not answering)").arg(title) : title;
}

QStringList ServerPresentation::detailLines() const {
    QStringList lines;
    QStringList names;
    if (!m_choice.label.isEmpty())
        names << displayName(m_choice.label);
    if (!m_details.framework.isEmpty())
        names << m_details.framework;
    if (!names.isEmpty())
        lines << names.join(QStringLiteral(" · "));
    if (const std::optional<PortAnswer>& found = answer()) {
        QStringList answered;
        if (!found->title.isEmpty())
            answered << displayName(found->title);
        if (found->status >= 400)
            answered << ServerText::tr("HTTP %1").arg(found->status);
        if (found->kind == PortAnswer::Kind::Other)
            answered << ServerText::tr("not HTTP");
        else if (found->kind == PortAnswer::Kind::Silent)
            answered << ServerText::tr("not answering");
        if (!answered.isEmpty())
            lines << answered.join(QStringLiteral(" · "));
    }
    if (const std::optional<ContainerFacts>& container = m_details.container) {
        QStringList service;
        for (const QString& part : {container->project, container->service}) {
            if (!part.isEmpty())
                service << part;
        }
        lines << (service.isEmpty()
                      ? displayName(container->image)
                      : ServerText::tr("%1 · %2").arg(displayName(container->image),
                                                      displayName(service.join(QLatin1Char('/')))));
        lines << ServerText::tr("container %1").arg(container->id.left(12));
    }
    if (!m_details.project.isEmpty() && !m_details.folder.isEmpty())
        lines << ServerText::tr("%1 — %2").arg(
            displayName(m_details.project),
            displayName(withHomeAsTilde(m_details.folder, QDir::homePath())));
    if (!m_details.commandLine.isEmpty())
        lines << elideMiddle(displayName(m_details.commandLine), commandLineWidth);
    QStringList facts;
    if (m_record.pid > 0)
        facts << ServerText::tr("PID %1").arg(m_record.pid);
    if (const auto seconds = secondsRunning(m_details.startTime))
        facts << uptimeText(*seconds);
    if (!m_details.address.isEmpty())
        facts << m_details.address;
    if (!facts.isEmpty())
        lines << facts.join(QStringLiteral(" · "));
    return lines;
}

QString ServerPresentation::toolTipLine() const {
    const QString named = kind();
    const QString shown =
        named.isEmpty() ? name() : ServerText::tr("%1 · %2").arg(name(), displayName(named));
    const QString number = QString::number(m_record.port);
    QString line =
        m_details.project.isEmpty()
            ? ServerText::tr("%1  %2").arg(number, shown)
            : ServerText::tr("%1  %2 — %3").arg(number, shown, displayName(m_details.project));
    if (m_record.split)
        line = ServerText::tr("%1 · %2 only").arg(line, m_record.address);
    return silent() ? ServerText::tr("%1 (not answering)").arg(line) : line;
}

bool ServerPresentation::https() const {
    if (m_choice.https)
        return *m_choice.https;
    if (answer() && answer()->kind == PortAnswer::Kind::Https)
        return true;
    if (answer() && answer()->kind == PortAnswer::Kind::Http)
        return false;
    return m_details.https;
}

QString ServerPresentation::url() const {
    const QString& address = m_details.address.isEmpty() ? m_record.address : m_details.address;
    // "localhost" would reach either holder of a split port: the address says which.
    if (m_record.split)
        return literalServerUrl(m_record.port, address, https());
    return serverUrl(m_record.port, address, https());
}

QString ServerPresentation::hostAndPort() const {
    // The URL's host and port, without the scheme.
    const QString shown = url();
    return shown.mid(shown.indexOf(QStringLiteral("://")) + 3);
}

QString ServerPresentation::project() const {
    return displayName(m_details.project);
}

QString ServerPresentation::host() const {
    return displayName(m_record.host);
}

QString ServerPresentation::address() const {
    return displayName(m_details.address.isEmpty() ? m_record.address : m_details.address);
}

std::optional<qint64> ServerPresentation::uptimeSeconds() const {
    return secondsRunning(m_details.startTime);
}

QString ServerPresentation::uptime() const {
    const std::optional<qint64> seconds = uptimeSeconds();
    return seconds ? uptimeText(*seconds) : QString();
}

bool ServerPresentation::isContainer() const {
    return m_record.anyProcess || m_details.container.has_value();
}

QString ServerPresentation::searchTitle() const {
    const QString named = kind().isEmpty() ? name() : displayName(kind());
    const QString number = QString::number(m_record.port);
    const QString where = m_details.project.isEmpty() ? host() : project();
    if (where.isEmpty())
        return ServerText::tr("%1 · %2").arg(number, named);
    return ServerText::tr("%1 · %2 — %3").arg(number, named, where);
}

QString ServerPresentation::searchDescription() const {
    if (m_record.host.isEmpty())
        return url();
    return ServerText::tr("%1:%2").arg(host(), QString::number(m_record.port));
}

QStringList ServerPresentation::facts() const {
    QStringList facts{QString::number(m_record.port), name()};
    const QString title = answer() ? answer()->title : QString();
    for (const QString& fact :
         {m_details.framework, m_choice.label, m_details.project, m_record.host, title}) {
        if (!fact.isEmpty())
            facts << displayName(fact);
    }
    return facts;
}

bool ServerPresentation::matches(const QStringList& terms) const {
    const QStringList known = facts();
    return std::all_of(terms.cbegin(), terms.cend(), [&known](const QString& term) {
        return std::any_of(known.cbegin(), known.cend(), [&term](const QString& fact) {
            return fact.contains(term, Qt::CaseInsensitive);
        });
    });
}

QString reversedRangeText() {
    return ServerText::tr("No port can match: From is above To");
}

QString uptimeText(qint64 seconds) {
    if (seconds < 60)
        return ServerText::tr("up %1 s").arg(seconds);
    if (seconds < 3600)
        return ServerText::tr("up %1 min").arg(seconds / 60);
    if (seconds < 86400)
        return ServerText::tr("up %1 h").arg(seconds / 3600);
    return ServerText::tr("up %1 d").arg(seconds / 86400);
}

QString hostProblemText(const QString& host, const QString& reason) {
    // A remote's own text might read as a notice too: it is told without
    // "not connected" then, and is still the remote's text.
    if (reason == firstListingNotice() || reason == cutListingNotice())
        return ServerText::tr("%1: %2").arg(displayName(host), reason);
    return ServerText::tr("%1: not connected — %2").arg(displayName(host), reason);
}

QString firstListingNotice() {
    return ServerText::tr("waiting for the first listing");
}

QString cutListingNotice() {
    return ServerText::tr("the host lists more than %L1 sockets; the first %L1 are shown")
        .arg(mostHostSockets);
}

QString problemText(const SourceId& source, const QString& reason) {
    return source.isHost() ? hostProblemText(source.host, reason) : reason;
}

QString problemEndedText(const SourceId& source) {
    if (source.isHost())
        return ServerText::tr("%1: connected").arg(displayName(source.host));
    if (source.kind == SourceId::Kind::Containers)
        return ServerText::tr("Containers available again");
    return ServerText::tr("%1: available again").arg(source.text());
}

namespace {

// What follows a forwarded server's title: the local port and the notes.
QString forwardNotes(qint64 remotePort, const PortForward& forward) {
    const bool passes =
        forward.state == ForwardState::Ok || forward.state == ForwardState::Checking;
    if (forward.localPort <= 0 ||
        (passes && forward.localPort == remotePort && forward.wantedPort <= 0))
        return {};
    QString notes = ServerText::tr(" → localhost:%1").arg(forward.localPort);
    if (forward.state == ForwardState::NoServer)
        notes += ServerText::tr(" (nothing answers)");
    else if (forward.state == ForwardState::Reconnecting)
        notes += ServerText::tr(" (reconnecting…)");
    else if (forward.wantedPort > 0 && forward.wantedPort != forward.localPort)
        notes += ServerText::tr(" (%1 was in use)").arg(forward.wantedPort);
    return notes;
}

} // namespace

QString forwardedTitle(const QString& title, qint64 remotePort, const PortForward& forward) {
    return title + forwardNotes(remotePort, forward);
}

QString orphanForwardTitle(const PortForward& forward) {
    // The local port is always named: there is no server's row to tell it.
    const QString notes = forwardNotes(forward.remotePort, forward);
    return QString::number(forward.remotePort) +
           (notes.isEmpty() ? ServerText::tr(" → localhost:%1").arg(forward.localPort) : notes);
}

QString forwardStateName(ForwardState state) {
    switch (state) {
    case ForwardState::Ok:
        return QStringLiteral("ok");
    case ForwardState::NoServer:
        return QStringLiteral("no server");
    case ForwardState::Reconnecting:
        return QStringLiteral("reconnecting");
    case ForwardState::Checking:
        break;
    }
    return {};
}
