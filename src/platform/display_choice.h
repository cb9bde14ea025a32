#pragma once

#include <QByteArray>

#include <functional>
#include <vector>

// Which display server the tray program connects to, decided before Qt starts
// (Qt aborts when the platform it picks cannot connect).
//
// On a Wayland desktop with Xwayland the program asks for Qt's X11 platform:
// a Wayland client may set the clipboard only while it has keyboard focus, and
// a tray program has no focused window when its menu is used, so "Copy URL"
// works only through Xwayland. A platform the user chose (QT_QPA_PLATFORM or
// -platform) always wins.

// What start-up reads from the command line and the environment.
struct DisplaySession {
    bool platformArgument = false; // -platform on the command line
    QByteArray platformVariable;   // QT_QPA_PLATFORM
    QByteArray display;            // DISPLAY
    QByteArray waylandDisplay;     // WAYLAND_DISPLAY
    QByteArray runtimeDir;         // XDG_RUNTIME_DIR
};

DisplaySession currentDisplaySession(int argc, const char* const* argv);

// Whether a server answers: an X display (a DISPLAY value) or a Wayland socket
// (a path).
struct DisplayProbes {
    std::function<bool(const QByteArray& display)> xAnswers;
    std::function<bool(const QByteArray& socketPath)> waylandAnswers;
};

// The probes that connect for real.
DisplayProbes connectingProbes();

struct DisplayChoice {
    // The Qt platform to ask for; empty leaves the choice to Qt (or the user).
    QByteArray platform;
    // Why the program cannot run here, as the start of a sentence; empty when
    // it can.
    QByteArray problem;
};

DisplayChoice chooseDisplay(const DisplaySession& session, const DisplayProbes& probes);

// Where a Wayland client connects for `name` (WAYLAND_DISPLAY, "wayland-0" when
// empty): the name itself when absolute, else inside `runtimeDir`. Empty when
// the name is relative and `runtimeDir` is empty.
QByteArray waylandSocketPath(const QByteArray& name, const QByteArray& runtimeDir);

// True when something accepts connections on the Unix socket at `path`.
bool unixSocketAnswers(const QByteArray& path);

// The command line handed to QApplication: the program's own, with
// "-platform NAME" after the program name when a platform was chosen. Qt takes
// the option out again; passing it this way, rather than through
// QT_QPA_PLATFORM, keeps it from the programs the tray starts (the browser,
// the file manager). Must outlive the application object.
class QtCommandLine {
public:
    QtCommandLine(int argc, char** argv, const QByteArray& platform);
    QtCommandLine(const QtCommandLine&) = delete;
    QtCommandLine& operator=(const QtCommandLine&) = delete;

    int& argc() { return m_argc; }
    char** argv() { return m_argv.data(); }

private:
    QByteArray m_option{"-platform"};
    QByteArray m_platform;
    std::vector<char*> m_argv;
    int m_argc = 0;
};
