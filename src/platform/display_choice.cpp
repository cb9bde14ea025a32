#include "platform/display_choice.h"

#include "platform/xembed_tray.h"

#include <QtGlobal>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>

namespace {

QByteArray quoted(const QByteArray& text) {
    return '"' + text + '"';
}

// Why the Wayland display does not answer, or nothing when it does.
QByteArray waylandProblem(const DisplaySession& session, const DisplayProbes& probes) {
    const QByteArray name =
        session.waylandDisplay.isEmpty() ? QByteArray("wayland-0") : session.waylandDisplay;
    const QByteArray path = waylandSocketPath(name, session.runtimeDir);
    if (path.isEmpty())
        return "cannot open the Wayland display " + quoted(name) + " (XDG_RUNTIME_DIR is unset)";
    if (probes.waylandAnswers(path))
        return {};
    return "cannot open the Wayland display " + quoted(name) + " (no compositor at " + path + ")";
}

} // namespace

DisplaySession currentDisplaySession(int argc, const char* const* argv) {
    DisplaySession session;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 || std::strcmp(argv[i], "--platform") == 0)
            session.platformArgument = true;
    }
    session.platformVariable = qgetenv("QT_QPA_PLATFORM");
    session.display = qgetenv("DISPLAY");
    session.waylandDisplay = qgetenv("WAYLAND_DISPLAY");
    session.runtimeDir = qgetenv("XDG_RUNTIME_DIR");
    return session;
}

DisplayProbes connectingProbes() {
    return {[](const QByteArray& display) { return x11DisplayReachable(display.constData()); },
            &unixSocketAnswers};
}

DisplayChoice chooseDisplay(const DisplaySession& session, const DisplayProbes& probes) {
    if (session.platformArgument)
        return {};
    const QByteArray& chosen = session.platformVariable;
    // A list ("wayland;xcb") is tried by Qt in turn; other platforms
    // (offscreen, eglfs, vnc) need no display server.
    if (!chosen.isEmpty() &&
        (chosen.contains(';') || !(chosen.startsWith("xcb") || chosen.startsWith("wayland"))))
        return {};
    if (chosen.startsWith("wayland"))
        return {{}, waylandProblem(session, probes)};

    const bool xChosen = chosen.startsWith("xcb");
    const bool xAnswers = !session.display.isEmpty() && probes.xAnswers(session.display);
    if (xChosen) {
        if (session.display.isEmpty())
            return {{}, "no X display (DISPLAY is unset)"};
        if (!xAnswers)
            return {{}, "cannot open the X display " + quoted(session.display)};
        return {};
    }

    if (xAnswers)
        return {"xcb", {}};
    if (session.waylandDisplay.isEmpty()) {
        if (session.display.isEmpty())
            return {{}, "no graphical session (DISPLAY and WAYLAND_DISPLAY are unset)"};
        return {{}, "cannot open the X display " + quoted(session.display)};
    }
    QByteArray problem = waylandProblem(session, probes);
    if (!problem.isEmpty() && !session.display.isEmpty())
        problem += " nor the X display " + quoted(session.display);
    return {{}, problem};
}

QByteArray waylandSocketPath(const QByteArray& name, const QByteArray& runtimeDir) {
    const QByteArray display = name.isEmpty() ? QByteArray("wayland-0") : name;
    if (display.startsWith('/'))
        return display;
    if (runtimeDir.isEmpty())
        return {};
    return runtimeDir + '/' + display;
}

bool unixSocketAnswers(const QByteArray& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.isEmpty() || std::size_t(path.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, path.constData(), std::size_t(path.size()));
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const bool connected =
        ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return connected;
}

QtCommandLine::QtCommandLine(int argc, char** argv, const QByteArray& platform)
    : m_platform(platform) {
    m_argv.reserve(std::size_t(argc) + 3);
    for (int i = 0; i < argc; ++i) {
        m_argv.push_back(argv[i]);
        if (i == 0 && !m_platform.isEmpty()) {
            m_argv.push_back(m_option.data());
            m_argv.push_back(m_platform.data());
        }
    }
    m_argc = int(m_argv.size());
    m_argv.push_back(nullptr);
}
