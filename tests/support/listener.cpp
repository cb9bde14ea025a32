// A stand-in development server for tests: listens on 127.0.0.1 under a chosen
// process name and exits on SIGTERM.
//
//   hw-listener [OPTIONS] NAME PORT      PORT 0 lets the kernel pick a free port
//   hw-listener [OPTIONS] NAME LOW-HIGH  a free port between LOW and HIGH, inclusive
//
//   --ipv6            listen on ::1 instead
//   --ignore-term     ignore SIGTERM, as a server that will not stop
//   --fork CHILDNAME  once listening, fork a child named CHILDNAME that holds
//                     the same socket; it goes when the parent goes
//   --greet           accept connections, writing "hello from NAME\n" to each
//
// Arguments after PORT are ignored; they only show on its command line.
//
// Prints the port it listens on (and with --fork the child's pid after a
// space), then a newline, once it is listening.
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onTerm(int) {
    stopRequested = 1;
}
} // namespace

int main(int argc, char** argv) {
    bool ipv6 = false;
    bool ignoreTerm = false;
    bool greet = false;
    const char* childName = nullptr;
    int arg = 1;
    for (; arg < argc && std::strncmp(argv[arg], "--", 2) == 0; ++arg) {
        if (std::strcmp(argv[arg], "--ipv6") == 0)
            ipv6 = true;
        else if (std::strcmp(argv[arg], "--ignore-term") == 0)
            ignoreTerm = true;
        else if (std::strcmp(argv[arg], "--greet") == 0)
            greet = true;
        else if (std::strcmp(argv[arg], "--fork") == 0 && arg + 1 < argc)
            childName = argv[++arg];
        else
            break;
    }
    if (argc - arg < 2) {
        std::fprintf(stderr,
                     "usage: %s [--ipv6] [--ignore-term] [--greet] [--fork CHILDNAME] NAME PORT "
                     "[ARGUMENT...]\n",
                     argv[0]);
        return 2;
    }
    argv += arg - 1;
    // The kernel keeps at most 15 bytes of the name; longer names are cut.
    prctl(PR_SET_NAME, argv[1], 0, 0, 0);
    // Die with the test that started us, so a crashed test leaves nothing behind.
    prctl(PR_SET_PDEATHSIG, ignoreTerm ? SIGKILL : SIGTERM, 0, 0, 0);

    struct sigaction sa {};
    sa.sa_handler = onTerm;
    if (ignoreTerm)
        signal(SIGTERM, SIG_IGN);
    else
        sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);

    int low = std::atoi(argv[2]);
    int high = low;
    if (const char* dash = std::strchr(argv[2], '-'))
        high = std::atoi(dash + 1);
    if (low < 0 || high > 65535 || low > high) {
        std::fprintf(stderr, "bad port or range: %s\n", argv[2]);
        return 2;
    }

    const int fd = socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 1;
    // A port whose earlier server closed its connections can be taken again
    // at once, as servers do.
    const int reuse = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in addr4{};
    addr4.sin_family = AF_INET;
    addr4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    sockaddr_in6 addr6{};
    addr6.sin6_family = AF_INET6;
    addr6.sin6_addr = in6addr_loopback;
    sockaddr* addr =
        ipv6 ? reinterpret_cast<sockaddr*>(&addr6) : reinterpret_cast<sockaddr*>(&addr4);
    const socklen_t addrSize = ipv6 ? sizeof addr6 : sizeof addr4;
    uint16_t& portField = ipv6 ? addr6.sin6_port : addr4.sin_port;
    std::mt19937 random(static_cast<unsigned>(getpid()));
    std::uniform_int_distribution<int> pick(low, high);
    bool bound = false;
    for (int attempt = 0; attempt < 2000 && !bound; ++attempt) {
        portField = htons(static_cast<uint16_t>(attempt == 0 && low == high ? low : pick(random)));
        bound = bind(fd, addr, addrSize) == 0;
        if (low == high)
            break;
    }
    if (!bound || listen(fd, 8) != 0) {
        std::perror("listen");
        return 1;
    }
    socklen_t len = addrSize;
    getsockname(fd, addr, &len);

    pid_t child = 0;
    if (childName) {
        // The child says when it carries its name, so that the line below
        // never names a child that a scan would still see under the old one.
        int named[2];
        if (pipe(named) != 0) {
            std::perror("pipe");
            return 1;
        }
        child = fork();
        if (child < 0) {
            std::perror("fork");
            return 1;
        }
        if (child == 0) {
            close(STDOUT_FILENO); // the test reads the parent's line to its end
            prctl(PR_SET_NAME, childName, 0, 0, 0);
            prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);
            close(named[0]);
            close(named[1]);
            if (getppid() == 1)
                return 0;
            while (!stopRequested)
                pause();
            return 0;
        }
        close(named[1]);
        char end;
        while (read(named[0], &end, 1) < 0 && errno == EINTR) {
        }
        close(named[0]);
        std::printf("%u %d\n", ntohs(portField), static_cast<int>(child));
    } else {
        std::printf("%u\n", ntohs(portField));
    }
    std::fflush(stdout);

    while (!stopRequested) {
        if (!greet) {
            pause();
            continue;
        }
        // A signal interrupts the wait (no SA_RESTART), so a stop is seen.
        const int peer = accept(fd, nullptr, nullptr);
        if (peer < 0)
            continue;
        char line[64];
        const int size = std::snprintf(line, sizeof line, "hello from %s\n", argv[1]);
        if (write(peer, line, size_t(size)) < 0)
            std::perror("write");
        close(peer);
    }
    close(fd);
    if (child > 0) {
        kill(child, SIGTERM);
        waitpid(child, nullptr, 0);
    }
    return 0;
}
