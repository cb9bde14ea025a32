#include "monitor/change_notices.h"

#include "config/settings_store.h"
#include "core/display_text.h"
#include "monitor/port_monitor.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

// The context of this file's texts for translation.
struct ChangePolicy {
    Q_DECLARE_TR_FUNCTIONS(ChangePolicy)
};

// "a, b and c"; with more than five items, the first three and "and N more".
template <typename Describe>
QString enumerate(const QList<ListeningPort>& ports, Describe describe) {
    constexpr qsizetype allNamedUpTo = 5;
    constexpr qsizetype namedOfMany = 3;
    const qsizetype named = ports.size() <= allNamedUpTo ? ports.size() : namedOfMany;
    QStringList items;
    items.reserve(named);
    for (qsizetype i = 0; i < named; ++i)
        items.append(describe(ports[i]));
    const QString last = named < ports.size()
                             ? ChangePolicy::tr("%n more", nullptr, int(ports.size() - named))
                             : items.takeLast();
    if (items.isEmpty())
        return last;
    return ChangePolicy::tr("%1 and %2").arg(items.join(ChangePolicy::tr(", ")), last);
}

// "5173", or "5173 on box" for a port of another machine.
QString portNumber(const ListeningPort& port) {
    if (port.host.isEmpty())
        return QString::number(port.port);
    return ChangePolicy::tr("%1 on %2").arg(QString::number(port.port), displayName(port.host));
}

} // namespace

QString startedText(const ListeningPort& port) {
    return ChangePolicy::tr("%1 on port %2").arg(displayName(port.process), portNumber(port));
}

QString stoppedText(const ListeningPort& port) {
    // portNumber() names the machine of a remote port.
    return ChangePolicy::tr("Port %1 is no longer listening").arg(portNumber(port));
}

QList<Notice> noticesFor(const PortChanges& changes) {
    QList<Notice> notices;
    if (changes.started.size() > maxSingleNotices) {
        notices.append(
            {ChangePolicy::tr("Ports Started"), enumerate(changes.started, startedText)});
    } else {
        for (const ListeningPort& port : changes.started)
            notices.append({ChangePolicy::tr("Port Started"), startedText(port)});
    }
    if (changes.stopped.size() > maxSingleNotices) {
        notices.append(
            {ChangePolicy::tr("Ports Stopped"), ChangePolicy::tr("Ports %1 are no longer listening")
                                                    .arg(enumerate(changes.stopped, portNumber))});
    } else {
        for (const ListeningPort& port : changes.stopped)
            notices.append({ChangePolicy::tr("Port Stopped"), stoppedText(port)});
    }
    return notices;
}

PortChanges audibleChanges(PortChanges changes, const settings::Values& values) {
    const auto quiet = [&values](const ListeningPort& port) {
        if (values.quietProcesses.contains(port.process))
            return true;
        return port.host.isEmpty() && !values.ports.value(port.port).notify;
    };
    changes.started.removeIf(quiet);
    changes.stopped.removeIf(quiet);
    return changes;
}

ChangeNotices::ChangeNotices(PortMonitor& monitor, Notify notify, QObject* parent)
    : QObject(parent), m_notify(std::move(notify)) {
    connect(&monitor, &PortMonitor::changesFound, this,
            [this, &monitor](const PortChanges& changes) {
                post(changes, monitor.settings().values());
            });
}

void ChangeNotices::setOpenAction(NotifyWithAction notify, Opens opens, Open open) {
    m_notifyWithAction = std::move(notify);
    m_opens = std::move(opens);
    m_open = std::move(open);
}

void ChangeNotices::post(const PortChanges& changes, const settings::Values& values) {
    const PortChanges audible = audibleChanges(changes, values);
    const QList<Notice> notices = noticesFor(audible);
    // The first notices are the starts, each of its own unless summarised.
    const qsizetype singleStarts =
        audible.started.size() > maxSingleNotices ? 0 : audible.started.size();
    for (qsizetype i = 0; i < notices.size(); ++i) {
        const Notice& notice = notices[i];
        if (i < singleStarts && m_notifyWithAction && m_opens(audible.started[i])) {
            m_notifyWithAction(notice.title, notice.body, ChangePolicy::tr("Open"),
                               [open = m_open, record = audible.started[i]] { open(record); });
        } else {
            m_notify(notice.title, notice.body);
        }
    }
}
