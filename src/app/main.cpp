// harborwatch: the tray program. One instance per session; its tray icon's
// menu lists the local development servers that the monitor finds. With
// options it is the command line instead (cli/command_line.h).
#include "app/tray_program.h"
#include "cli/command_line.h"
#include "config/settings_store.h"
#include "core/translation.h"
#include "platform/app_icon.h"
#include "platform/desktop_notifier.h"
#include "platform/display_choice.h"
#include "platform/search_providers.h"
#include "platform/single_instance.h"
#include "platform/tray_host_wait.h"
#include "platform/xembed_tray.h"
#include "system/termination_signals.h"

#include "harborwatch_version.h"

#include <QApplication>
#include <QDBusConnection>

#include <chrono>
#include <cstdio>
#include <utility>

namespace {

// How long to wait for a tray host before showing the icon anyway.
constexpr std::chrono::seconds trayHostLimit{30};

// Owns the session's name, or hands over to the instance that does. False
// when this process is to end (with `status`).
bool claimInstance(SingleInstance& instance, int& status) {
    switch (instance.claim()) {
    case SingleInstance::Claim::Owner:
        return true;
    case SingleInstance::Claim::HandedOver:
        status = 0;
        return false;
    case SingleInstance::Claim::HandOverFailed:
        std::fprintf(stderr, "harborwatch: another instance owns %s but did not answer (%s)\n",
                     qPrintable(SingleInstance::serviceName), qPrintable(instance.problem()));
        status = 1;
        return false;
    case SingleInstance::Claim::NoBus:
        std::fprintf(stderr,
                     "harborwatch: no session bus (%s); running without the one-instance check\n",
                     qPrintable(instance.problem()));
        return true;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    // Any option but Qt's display options is a call of the command line,
    // which needs no display and no session bus.
    if (wantsCommandLine(argc, argv))
        return runCommandLine(argc, argv);

    const DisplayChoice display =
        chooseDisplay(currentDisplaySession(argc, argv), connectingProbes());
    if (!display.problem.isEmpty()) {
        std::fprintf(stderr, "harborwatch: %s; it runs in a desktop session.\n",
                     display.problem.constData());
        return 1;
    }

    QtCommandLine commandLine(argc, argv, display.platform);
    QApplication app(commandLine.argc(), commandLine.argv());
    installTranslation(app);
    QApplication::setApplicationName(QStringLiteral("harborwatch"));
    QApplication::setApplicationDisplayName(QStringLiteral("Harborwatch"));
    QApplication::setDesktopFileName(QStringLiteral("harborwatch"));
    QApplication::setApplicationVersion(QStringLiteral(HARBORWATCH_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);
    QApplication::setWindowIcon(harborwatchIcon());

    // Queued: a signal that arrives before the event loop runs still ends it.
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::received, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    // Started by the bus for a search (D-Bus activation), not by the user:
    // no window opens by itself. The programs it starts do not inherit that.
    const bool startedForSearch = qEnvironmentVariableIsSet("DBUS_STARTER_BUS_TYPE");
    qunsetenv("DBUS_STARTER_BUS_TYPE");
    qunsetenv("DBUS_STARTER_ADDRESS");

    // Exported before the name is claimed: a search that started the program
    // finds them behind the name. Questions wait until there is a list.
    SearchProviders search(QDBusConnection::sessionBus());
    search.exportObjects();

    SingleInstance instance;
    if (int status = 0; !claimInstance(instance, status))
        return status;

    SettingsStore store;
    store.watch();
    DesktopNotifier notifier;
    // Run from the build folder the icon theme knows no "harborwatch" icon.
    if (!QIcon::hasThemeIcon(QStringLiteral("harborwatch")))
        notifier.setImage(harborwatchIcon().pixmap(64).toImage());

    TrayProgram program(store, notifier);
    QObject::connect(&instance, &SingleInstance::showServersRequested, &program,
                     &TrayProgram::openServers);
    QObject::connect(&instance, &SingleInstance::showSettingsRequested, &program,
                     &TrayProgram::openSettings);
    search.setCatalog(program.searchCatalog());
    for (const auto published : {&PortMonitor::portsChanged, &PortMonitor::scanErrorChanged})
        QObject::connect(&program.monitor(), published, &search, &SearchProviders::setReady);
    QObject::connect(&program, &TrayProgram::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    // Without a tray the Servers window stands in for the menu, once: on
    // GNOME at once (only its AppIndicator extension hosts tray icons, and it
    // is there from the start), elsewhere when the wait for a tray has ended.
    // Closing it leaves the program running.
    TrayHostWait trayHost(QDBusConnection::sessionBus(), &xembedTrayPresent, trayHostLimit);
    const TraySession traySession = currentTraySession();
    bool openedForNoTray = startedForSearch;
    const auto openForNoTray = [&] {
        if (!std::exchange(openedForNoTray, true))
            program.openServers();
    };
    QObject::connect(&trayHost, &TrayHostWait::waiting, [&] {
        std::fprintf(stderr, "harborwatch: %s\n",
                     trayHostWaitingMessage(traySession, trayHostLimit).constData());
        if (traySession.gnome)
            openForNoTray();
    });
    QObject::connect(&trayHost, &TrayHostWait::ready, [&](TrayHostWait::Host host) {
        if (host == TrayHostWait::Host::None) {
            std::fprintf(stderr, "harborwatch: %s\n", noTrayHostMessage(traySession).constData());
            openForNoTray();
        }
        program.showTrayIcon(host == TrayHostWait::Host::StatusNotifier);
    });
    trayHost.start();

    const int status = app.exec();
    // The program goes before the providers: they no longer reach it.
    search.setCatalog({});
    return status;
}
