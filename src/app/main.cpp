// harborwatch: the tray program. One instance per session; its tray icon's
// menu lists the local development servers that the monitor finds. With
// options it is the command line instead (cli/command_line.h).
#include "app/tray_program.h"
#include "cli/command_line.h"
#include "config/settings_store.h"
#include "system/termination_signals.h"
#include "core/translation.h"
#include "platform/app_icon.h"
#include "platform/desktop_notifier.h"
#include "platform/display_choice.h"
#include "platform/single_instance.h"
#include "platform/tray_host_wait.h"
#include "platform/xembed_tray.h"

#include "harborwatch_version.h"

#include <QApplication>
#include <QDBusConnection>

#include <chrono>
#include <cstdio>

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
    QObject::connect(&instance, &SingleInstance::showSettingsRequested, &program,
                     &TrayProgram::openSettings);
    QObject::connect(&program, &TrayProgram::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);

    TrayHostWait trayHost(QDBusConnection::sessionBus(), &xembedTrayPresent, trayHostLimit);
    const TraySession traySession = currentTraySession();
    QObject::connect(&trayHost, &TrayHostWait::waiting, [traySession] {
        std::fprintf(stderr, "harborwatch: %s\n",
                     trayHostWaitingMessage(traySession, trayHostLimit).constData());
    });
    QObject::connect(&trayHost, &TrayHostWait::ready, [&](TrayHostWait::Host host) {
        if (host == TrayHostWait::Host::None)
            std::fprintf(stderr, "harborwatch: %s\n", noTrayHostMessage(traySession).constData());
        program.showTrayIcon(host == TrayHostWait::Host::StatusNotifier);
    });
    trayHost.start();

    return app.exec();
}
