// A process table for measuring the whole program: idle processes holding
// open descriptors, and a few servers among them.
//
//   hw-process-table PROCESSES DESCRIPTORS [SERVERS [OTHERS]]
//
// Forks PROCESSES idle processes ("idle-N") holding DESCRIPTORS descriptors
// each (files, pipes and local socket pairs), SERVERS processes named "node"
// and OTHERS named "hw-other", each listening on 127.0.0.1 at a free port
// between 3000 and 9999. Prints "ready N" (how many it started) once every one
// is in place, then waits until its standard input closes or it gets SIGTERM
// or SIGINT, kills its processes by pid and reaps them. They also die with it.
#include "idle_process.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

volatile std::sig_atomic_t stopRequested = 0;
void onStop(int) {
    stopRequested = 1;
}

[[noreturn]] void server(const char* name, int ready) {
    prctl(PR_SET_NAME, name, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (int port = 3000 + getpid() % 7000, tried = 0; tried < 7000; ++tried) {
        addr.sin_port = htons(static_cast<uint16_t>(port));
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 8) == 0)
            break;
        port = port == 9999 ? 3000 : port + 1;
    }
    (void)!write(ready, "x", 1);
    for (;;)
        pause();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: %s PROCESSES DESCRIPTORS [SERVERS [OTHERS]]\n", argv[0]);
        return 2;
    }
    const int processes = std::atoi(argv[1]);
    const int descriptors = std::atoi(argv[2]);
    const int servers = argc > 3 ? std::atoi(argv[3]) : 0;
    const int others = argc > 4 ? std::atoi(argv[4]) : 0;
    prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
    struct sigaction stop {};
    stop.sa_handler = onStop;
    sigaction(SIGTERM, &stop, nullptr);
    sigaction(SIGINT, &stop, nullptr);

    int ready[2];
    if (pipe(ready) != 0)
        return 1;
    std::vector<pid_t> children;
    for (int i = 0; i < processes + servers + others && !stopRequested; ++i) {
        const pid_t pid = fork();
        if (pid == 0) {
            close(ready[0]);
            if (i >= processes + servers)
                server("hw-other", ready[1]);
            if (i >= processes)
                server("node", ready[1]);
            idleProcess(i, descriptors, ready[1]);
        }
        if (pid < 0) {
            std::perror("fork");
            break;
        }
        children.push_back(pid);
    }
    close(ready[1]);
    char byte;
    for (size_t i = 0; i < children.size(); ++i) {
        while (read(ready[0], &byte, 1) < 0 && errno == EINTR && !stopRequested) {
        }
    }
    close(ready[0]);
    std::printf("ready %zu\n", children.size());
    std::fflush(stdout);

    pollfd input{STDIN_FILENO, POLLIN, 0};
    while (!stopRequested) {
        if (poll(&input, 1, -1) > 0 && (input.revents & (POLLHUP | POLLERR | POLLIN))) {
            if (read(STDIN_FILENO, &byte, 1) <= 0)
                break;
        }
    }
    for (pid_t pid : children)
        kill(pid, SIGKILL);
    for (pid_t pid : children)
        waitpid(pid, nullptr, 0);
    return 0;
}
