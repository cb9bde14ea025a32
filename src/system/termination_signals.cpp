#include "system/termination_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace {

int pipeFds[2] = {-1, -1};

extern "C" void onTerminationSignal(int signalNumber) {
    const int savedErrno = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    // Non-blocking: when the pipe is full a quit is already on its way.
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = savedErrno;
}

constexpr int handledSignals[] = {SIGTERM, SIGINT};

} // namespace

TerminationSignals::TerminationSignals(QObject* parent) : QObject(parent) {
    if (pipeFds[0] >= 0)
        return; // another instance has the handlers
    if (::pipe2(pipeFds, O_CLOEXEC | O_NONBLOCK) != 0) {
        std::perror("harborwatch: cannot watch for SIGTERM and SIGINT");
        return;
    }
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : handledSignals)
        ::sigaction(sig, &action, nullptr);

    m_notifier = std::make_unique<QSocketNotifier>(pipeFds[0], QSocketNotifier::Read);
    connect(m_notifier.get(), &QSocketNotifier::activated, this, &TerminationSignals::readPipe);
}

TerminationSignals::~TerminationSignals() {
    if (!m_notifier)
        return;
    m_notifier.reset();
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    for (int sig : handledSignals)
        ::sigaction(sig, &action, nullptr);
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

void TerminationSignals::readPipe() {
    unsigned char byte = 0;
    while (::read(pipeFds[0], &byte, 1) == 1)
        emit received(byte);
}
