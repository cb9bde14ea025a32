#include "platform/search_providers.h"

#include <QDBusArgument>
#include <QDBusContext>
#include <QDBusMetaType>
#include <QRegularExpression>
#include <QVariantMap>

// One match as KRunner takes it: (sssida{sv}).
struct RunnerMatch {
    QString id;
    QString text;
    QString icon;
    int type = 0;
    double relevance = 0;
    QVariantMap properties;
};
Q_DECLARE_METATYPE(RunnerMatch)

// One action KRunner offers on a match: (sss).
struct RunnerAction {
    QString id;
    QString text;
    QString icon;
};
Q_DECLARE_METATYPE(RunnerAction)

using ResultMetas = QList<QVariantMap>;
using RunnerMatches = QList<RunnerMatch>;
using RunnerActions = QList<RunnerAction>;

QDBusArgument& operator<<(QDBusArgument& out, const RunnerMatch& match) {
    out.beginStructure();
    out << match.id << match.text << match.icon << match.type << match.relevance
        << match.properties;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, RunnerMatch& match) {
    in.beginStructure();
    in >> match.id >> match.text >> match.icon >> match.type >> match.relevance >> match.properties;
    in.endStructure();
    return in;
}

QDBusArgument& operator<<(QDBusArgument& out, const RunnerAction& action) {
    out.beginStructure();
    out << action.id << action.text << action.icon;
    out.endStructure();
    return out;
}

const QDBusArgument& operator>>(const QDBusArgument& in, RunnerAction& action) {
    in.beginStructure();
    in >> action.id >> action.text >> action.icon;
    in.endStructure();
    return in;
}

namespace {

const QString iconName = QStringLiteral("harborwatch");
const QString copyAction = QStringLiteral("copy");
const QString stopAction = QStringLiteral("stop");
// KRunner's match types (Plasma::QueryMatch::Type).
constexpr int possibleMatch = 30;
constexpr int exactMatch = 100;

// GNOME Shell's org.gnome.Shell.SearchProvider2.
class GnomeSearchProvider : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.gnome.Shell.SearchProvider2")
public:
    explicit GnomeSearchProvider(SearchProviders* owner) : QObject(owner), m_owner(owner) {}

public slots:
    Q_SCRIPTABLE QStringList GetInitialResultSet(const QStringList& terms) {
        return answer([this, terms] { return ids(find(terms)); });
    }
    // The shell narrows its last answer as the user types on.
    Q_SCRIPTABLE QStringList GetSubsearchResultSet(const QStringList& previous,
                                                   const QStringList& terms) {
        return answer([this, previous, terms] {
            QStringList narrowed;
            for (const QString& id : ids(find(terms))) {
                if (previous.contains(id))
                    narrowed << id;
            }
            return narrowed;
        });
    }
    Q_SCRIPTABLE ResultMetas GetResultMetas(const QStringList& ids) {
        ResultMetas metas;
        const SearchCatalog& catalog = m_owner->catalog();
        for (const QString& id : ids) {
            const std::optional<SearchHit> hit =
                catalog.describe ? catalog.describe(id) : std::nullopt;
            if (!hit)
                continue;
            QVariantMap meta{{QStringLiteral("id"), hit->id},
                             {QStringLiteral("name"), hit->title},
                             {QStringLiteral("description"), hit->description},
                             {QStringLiteral("gicon"), iconName}};
            if (!hit->url.isEmpty())
                meta.insert(QStringLiteral("clipboardText"), hit->url);
            metas << meta;
        }
        return metas;
    }
    Q_SCRIPTABLE void ActivateResult(const QString& id, const QStringList&, uint) {
        if (m_owner->catalog().open)
            m_owner->catalog().open(id);
    }
    Q_SCRIPTABLE void LaunchSearch(const QStringList& terms, uint) {
        if (m_owner->catalog().showAll)
            m_owner->catalog().showAll(terms);
    }

private:
    QList<SearchHit> find(const QStringList& terms) const {
        const SearchCatalog& catalog = m_owner->catalog();
        return catalog.find ? catalog.find(terms) : QList<SearchHit>();
    }
    static QStringList ids(const QList<SearchHit>& hits) {
        QStringList out;
        for (const SearchHit& hit : hits)
            out << hit.id;
        return out;
    }
    // The ids now, or once the program is ready.
    QStringList answer(std::function<QStringList()> make) {
        if (m_owner->isReady())
            return make();
        setDelayedReply(true);
        const QDBusMessage call = message();
        m_owner->hold(call, [call, make] { return call.createReply(make()); });
        return {};
    }

    SearchProviders* m_owner;
};

// KDE's org.kde.krunner1.
class KRunnerProvider : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.krunner1")
public:
    explicit KRunnerProvider(SearchProviders* owner) : QObject(owner), m_owner(owner) {}

public slots:
    Q_SCRIPTABLE RunnerActions Actions() {
        return {{copyAction, tr("Copy URL"), QStringLiteral("edit-copy")},
                {stopAction, tr("Stop Server"), QStringLiteral("process-stop")}};
    }
    Q_SCRIPTABLE RunnerMatches Match(const QString& query) {
        if (m_owner->isReady())
            return matches(query);
        setDelayedReply(true);
        const QDBusMessage call = message();
        m_owner->hold(call, [this, call, query] {
            return call.createReply(QVariant::fromValue(matches(query)));
        });
        return {};
    }
    Q_SCRIPTABLE void Run(const QString& id, const QString& action) {
        const SearchCatalog& catalog = m_owner->catalog();
        const auto& run = action == copyAction   ? catalog.copyUrl
                          : action == stopAction ? catalog.stop
                                                 : catalog.open;
        if (run)
            run(id);
    }

private:
    RunnerMatches matches(const QString& query) const {
        static const QRegularExpression space(QStringLiteral("\\s+"));
        const QStringList terms = query.split(space, Qt::SkipEmptyParts);
        const SearchCatalog& catalog = m_owner->catalog();
        if (terms.isEmpty() || !catalog.find)
            return {};
        RunnerMatches out;
        const QList<SearchHit> hits = catalog.find(terms);
        for (qsizetype rank = 0; rank < hits.size(); ++rank) {
            const SearchHit& hit = hits[rank];
            QVariantMap properties{{QStringLiteral("subtext"), hit.description}};
            if (!hit.url.isEmpty())
                properties.insert(QStringLiteral("urls"), QStringList{hit.url});
            // A port typed on its own names its server exactly.
            const bool exact = terms.size() == 1 && terms.first().toLongLong() > 0 &&
                               hit.title.startsWith(terms.first() + QLatin1Char(' '));
            out << RunnerMatch{hit.id,
                               hit.title,
                               iconName,
                               exact ? exactMatch : possibleMatch,
                               std::max(0.1, 1.0 - 0.01 * double(rank)),
                               properties};
        }
        return out;
    }

    SearchProviders* m_owner;
};

} // namespace

SearchProviders::SearchProviders(QDBusConnection bus, QObject* parent)
    : QObject(parent), m_bus(std::move(bus)) {
    qDBusRegisterMetaType<ResultMetas>();
    qDBusRegisterMetaType<RunnerMatch>();
    qDBusRegisterMetaType<RunnerMatches>();
    qDBusRegisterMetaType<RunnerAction>();
    qDBusRegisterMetaType<RunnerActions>();
    m_limit.setSingleShot(true);
    m_limit.setInterval(readyLimitMs);
    connect(&m_limit, &QTimer::timeout, this, &SearchProviders::answerHeld);
}

SearchProviders::~SearchProviders() {
    // Nobody is left waiting for an answer; what the catalog reached may be
    // gone, so the answers are empty.
    m_catalog = {};
    answerHeld();
    if (m_exported) {
        m_bus.unregisterObject(gnomePath);
        m_bus.unregisterObject(krunnerPath);
    }
}

bool SearchProviders::exportObjects() {
    if (m_exported)
        return true;
    if (!m_bus.isConnected())
        return false;
    m_gnome = new GnomeSearchProvider(this);
    m_krunner = new KRunnerProvider(this);
    const bool gnome =
        m_bus.registerObject(gnomePath, m_gnome, QDBusConnection::ExportScriptableSlots);
    const bool krunner =
        m_bus.registerObject(krunnerPath, m_krunner, QDBusConnection::ExportScriptableSlots);
    m_exported = gnome || krunner;
    return gnome && krunner;
}

void SearchProviders::setCatalog(SearchCatalog catalog) {
    m_catalog = std::move(catalog);
    if (!m_held.isEmpty() && m_catalog.prepare)
        m_catalog.prepare();
}

void SearchProviders::setReady() {
    m_ready = true;
    answerHeld();
}

void SearchProviders::hold(const QDBusMessage& call, std::function<QDBusMessage()> answer) {
    const bool first = m_held.isEmpty();
    m_held.append({call, std::move(answer)});
    if (!first)
        return;
    m_limit.start();
    if (m_catalog.prepare)
        m_catalog.prepare();
}

void SearchProviders::answerHeld() {
    m_limit.stop();
    const QList<Held> held = std::exchange(m_held, {});
    for (const Held& question : held)
        m_bus.send(question.answer());
}

#include "search_providers.moc"
