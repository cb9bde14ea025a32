#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>

// One Harborwatch per session. The running program owns the session-bus name
// io.harborwatch.Harborwatch and serves ShowServers and ShowSettings on it; a
// second launch finds the name taken, asks the owner to show its Servers
// window and ends. The desktop's search providers are served under the same
// name (see search_providers.h).
class SingleInstance : public QObject {
    Q_OBJECT
public:
    static inline const QString serviceName = QStringLiteral("io.harborwatch.Harborwatch");
    static inline const QString objectPath = QStringLiteral("/io/harborwatch/Harborwatch");
    static inline const QString interfaceName = QStringLiteral("io.harborwatch.Harborwatch");

    enum class Claim {
        Owner,          // this process owns the name and serves ShowServers and ShowSettings
        HandedOver,     // another instance runs and was asked to show its Servers window
        HandOverFailed, // another instance owns the name but did not answer
        NoBus,          // no session bus: there is no way to tell, so run anyway
    };

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus(),
                            QObject* parent = nullptr);
    ~SingleInstance() override;

    // Tries to own the name. Blocks for at most a few seconds while it asks a
    // running instance; events of this thread are processed meanwhile.
    Claim claim();
    // Why the last claim() did not end as Owner or HandedOver, in plain words.
    const QString& problem() const { return m_problem; }

signals:
    // A later launch asked this (owning) instance to show its Servers window.
    void showServersRequested();
    // Someone asked this (owning) instance to show its settings window.
    void showSettingsRequested();

private:
    QDBusConnection m_bus;
    QObject* m_service = nullptr; // the exported object, a child of this
    bool m_owner = false;
    QString m_problem;
};
