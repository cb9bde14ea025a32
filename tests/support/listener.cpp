// A stand-in development server for tests: listens on 127.0.0.1 under a chosen
// process name and exits on SIGTERM.
//
//   hw-listener NAME PORT      PORT 0 lets the kernel pick a free port
//   hw-listener NAME LOW-HIGH  a free port between LOW and HIGH, inclusive
//
// Prints the port it listens on, then a newline, once it is listening.
#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {
volatile std::sig_atomic_t stopRequested = 0;
void onTerm(int) {
    stopRequested = 1;
}
} // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s NAME PORT\n", argv[0]);
        return 2;
    }
    // The kernel keeps at most 15 bytes of the name; longer names are cut.
    prctl(PR_SET_NAME, argv[1], 0, 0, 0);
    // Die with the test that started us, so a crashed test leaves nothing behind.
    prctl(PR_SET_PDEATHSIG, SIGTERM, 0, 0, 0);

    struct sigaction sa {};
    sa.sa_handler = onTerm;
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

    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::mt19937 random(static_cast<unsigned>(getpid()));
    std::uniform_int_distribution<int> pick(low, high);
    bool bound = false;
    for (int attempt = 0; attempt < 2000 && !bound; ++attempt) {
        addr.sin_port =
            htons(static_cast<uint16_t>(attempt == 0 && low == high ? low : pick(random)));
        bound = bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
        if (low == high)
            break;
    }
    if (!bound || listen(fd, 8) != 0) {
        std::perror("listen");
        return 1;
    }
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    std::printf("%u\n", ntohs(addr.sin_port));
    std::fflush(stdout);

    while (!stopRequested)
        pause();
    close(fd);
    return 0;
}
