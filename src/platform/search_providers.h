#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <optional>

// One answer of the desktop's search: a listed server.
struct SearchHit {
    QString id;          // names the server while it runs; opaque to the desktop
    QString title;       // "5173 · Vite — shop-frontend"
    QString description; // "http://localhost:5173"
    QString url;         // what Copy URL copies; empty when there is none yet
};

// What the search providers ask of the program. Each function runs on the
// thread that made the providers; an unset one answers nothing.
struct SearchCatalog {
    // The servers that match every term, best first.
    std::function<QList<SearchHit>(const QStringList& terms)> find;
    // The server an earlier answer named; none once it is gone.
    std::function<std::optional<SearchHit>(const QString& id)> describe;
    std::function<void(const QString& id)> open;
    std::function<void(const QString& id)> copyUrl;
    std::function<void(const QString& id)> stop;
    // Every server, in the program's own window, filtered by the terms.
    std::function<void(const QStringList& terms)> showAll;
    // The first question came while the program has no list yet: get one.
    std::function<void()> prepare;
};

// The desktop's search, answered on the session bus under the program's
// name (see SingleInstance): GNOME Shell's org.gnome.Shell.SearchProvider2
// at gnomePath and KDE's org.kde.krunner1 at krunnerPath.
//
// The objects are exported before the name is claimed, so that a search that
// starts the program through D-Bus activation finds them behind it. Until the
// program has a list (setReady()), questions are held and answered once it
// has one, or after readyLimitMs with what there is, so that the first search
// never reads as a machine with no servers.
class SearchProviders : public QObject {
    Q_OBJECT
public:
    static inline const QString gnomePath =
        QStringLiteral("/io/harborwatch/Harborwatch/SearchProvider");
    static inline const QString krunnerPath = QStringLiteral("/io/harborwatch/Harborwatch/KRunner");
    static constexpr int readyLimitMs = 3000;

    explicit SearchProviders(QDBusConnection bus, QObject* parent = nullptr);
    ~SearchProviders() override;

    // Exports both objects; false when there is no bus or the paths are taken.
    bool exportObjects();
    void setCatalog(SearchCatalog catalog);
    // The program has a list: held questions are answered now.
    void setReady();
    bool isReady() const { return m_ready; }

    // For the exported objects.
    const SearchCatalog& catalog() const { return m_catalog; }
    // Holds a question until the program is ready; `answer` makes the reply then.
    void hold(const QDBusMessage& call, std::function<QDBusMessage()> answer);

private:
    void answerHeld();

    struct Held {
        QDBusMessage call;
        std::function<QDBusMessage()> answer;
    };

    QDBusConnection m_bus;
    SearchCatalog m_catalog;
    bool m_ready = false;
    bool m_exported = false;
    QList<Held> m_held;
    QTimer m_limit;
    QObject* m_gnome = nullptr;
    QObject* m_krunner = nullptr;
};
