// harborwatch: the tray program. One instance per session; its tray icon's
// menu lists the local development servers that the monitor finds. With
// options it is the command line instead (cli/command_line.h).
#include "app/tray_menu.h"
#include "cli/command_line.h"
#include "config/settings_store.h"
#include "core/termination_signals.h"
#include "core/translation.h"
#include "monitor/change_notices.h"
#include "monitor/port_monitor.h"
#include "monitor/stop_controller.h"
#include "platform/app_icon.h"
#include "platform/desktop_notifier.h"
#include "platform/display_choice.h"
#include "platform/single_instance.h"
#include "platform/tray_host_wait.h"
#include "platform/xembed_tray.h"

#include "harborwatch_version.h"

#include <QApplication>
#include <QCursor>
#include <QDBusConnection>
#include <QMenu>
#include <QSystemTrayIcon>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

// How long to wait for a tray host before showing the icon anyway.
constexpr std::chrono::seconds trayHostLimit{30};

std::unique_ptr<QSystemTrayIcon> createTrayIcon(TrayMenu& menu, const QIcon& image) {
    auto icon = std::make_unique<QSystemTrayIcon>(image);
    icon->setToolTip(menu.toolTip());
    icon->setContextMenu(menu.menu());
    QObject::connect(&menu, &TrayMenu::toolTipChanged, icon.get(), &QSystemTrayIcon::setToolTip);
    // A click opens the same menu as the context click, drawn by the program;
    // X11 knows where the pointer is, other hosts show the menu themselves.
    QObject::connect(icon.get(), &QSystemTrayIcon::activated, &menu,
                     [&menu](QSystemTrayIcon::ActivationReason reason) {
                         if (reason == QSystemTrayIcon::Trigger &&
                             QGuiApplication::platformName() == QLatin1String("xcb"))
                             menu.popupMenu()->popup(QCursor::pos());
                     });
    icon->show();
    return icon;
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
    switch (instance.claim()) {
    case SingleInstance::Claim::Owner:
        break;
    case SingleInstance::Claim::HandedOver:
        return 0;
    case SingleInstance::Claim::HandOverFailed:
        std::fprintf(stderr, "harborwatch: another instance owns %s but did not answer (%s)\n",
                     qPrintable(SingleInstance::serviceName), qPrintable(instance.problem()));
        return 1;
    case SingleInstance::Claim::NoBus:
        std::fprintf(stderr,
                     "harborwatch: no session bus (%s); running without the one-instance check\n",
                     qPrintable(instance.problem()));
        break;
    }

    SettingsStore store;
    store.watch();
    DesktopNotifier notifier;
    // Run from the build folder the icon theme knows no "harborwatch" icon.
    if (!QIcon::hasThemeIcon(QStringLiteral("harborwatch")))
        notifier.setImage(harborwatchIcon().pixmap(64).toImage());
    const auto notify = [&notifier](const QString& title, const QString& body) {
        notifier.notify(title, body);
    };
    // The program's one monitor. Declared after what it uses and before what
    // uses it, so it is destroyed (killing a running lister) before them.
    PortMonitor monitor(store);
    ChangeNotices notices(monitor, notify);
    StopController stops(monitor, notify);
    stops.setNotifyWithAction([&notifier](const QString& title, const QString& body,
                                          const QString& action, std::function<void()> onAction) {
        notifier.notify(title, body, action, std::move(onAction));
    });

    TrayMenu menu(monitor, stops);
    QObject::connect(&instance, &SingleInstance::showSettingsRequested, &menu,
                     &TrayMenu::openSettings);
    QObject::connect(&menu, &TrayMenu::quitRequested, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    // The menu has closed by now and there is no window to show an error in.
    QObject::connect(&menu, &TrayMenu::browserFailed, [&notifier](const QString& url) {
        notifier.notify(QCoreApplication::translate("main", "No Browser Opened"),
                        QCoreApplication::translate("main",
                                                    "No web browser could be started for "
                                                    "%1. Copy URL puts it on the clipboard.")
                            .arg(url));
    });
    // Mostly a Wayland desktop refusing a copy from a program without a
    // focused window; the notification still shows the URL.
    QObject::connect(&menu, &TrayMenu::copyFailed, [&notifier](const QString& url) {
        notifier.notify(QCoreApplication::translate("main", "URL Not Copied"),
                        QCoreApplication::translate("main", "The desktop refused to put %1 on the "
                                                            "clipboard.")
                            .arg(url));
    });

    QObject::connect(&menu, &TrayMenu::forwardFailed,
                     [&notifier](const QString& host, qint64 port, const QString& reason) {
                         notifier.notify(QCoreApplication::translate("main", "Port Not Forwarded"),
                                         QCoreApplication::translate("main", "Port %1 on %2: %3")
                                             .arg(QString::number(port), host, reason));
                     });

    std::unique_ptr<QSystemTrayIcon> trayIcon;
    TrayHostWait trayHost(QDBusConnection::sessionBus(), &xembedTrayPresent, trayHostLimit);
    const TraySession traySession = currentTraySession();
    QObject::connect(&trayHost, &TrayHostWait::waiting, [traySession] {
        std::fprintf(stderr, "harborwatch: %s\n",
                     trayHostWaitingMessage(traySession, trayHostLimit).constData());
    });
    QObject::connect(&trayHost, &TrayHostWait::ready, [&](TrayHostWait::Host host) {
        if (host == TrayHostWait::Host::None)
            std::fprintf(stderr, "harborwatch: %s\n", noTrayHostMessage(traySession).constData());
        // Qt exports the menu over D-Bus exactly when a StatusNotifierItem
        // host is registered, the condition this wait checked.
        menu.setLabelStyle(host == TrayHostWait::Host::StatusNotifier
                               ? TrayMenu::LabelStyle::DBusMenu
                               : TrayMenu::LabelStyle::Widgets);
        // A StatusNotifierItem host draws a symbolic icon in the panel's own
        // colour; an XEmbed tray shows the pixels it gets, so the coloured one.
        trayIcon =
            createTrayIcon(menu, host == TrayHostWait::Host::StatusNotifier ? harborwatchTrayIcon()
                                                                            : harborwatchIcon());
        // The menu exists from now on: its first appearance starts the monitor.
        menu.appear();
    });
    trayHost.start();

    return app.exec();
}
