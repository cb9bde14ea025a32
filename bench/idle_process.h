#pragma once

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

// An idle process of the benchmarks' process tables, named "idle-<index>"
// and holding `descriptors` files, pipes and socket pairs: run in a forked
// child, it writes one byte to `ready` and pauses until killed (it goes with
// its parent). Only async-signal-safe calls.
[[noreturn]] inline void idleProcess(int index, int descriptors, int ready) {
    char name[16];
    std::snprintf(name, sizeof name, "idle-%d", index);
    prctl(PR_SET_NAME, name, 0, 0, 0);
    prctl(PR_SET_PDEATHSIG, SIGKILL, 0, 0, 0);
    for (int opened = 0; opened < descriptors;) {
        int pair[2];
        switch (opened % 3) {
        case 0:
            opened += open("/dev/null", O_RDONLY) >= 0 ? 1 : descriptors;
            break;
        case 1:
            opened += pipe(pair) == 0 ? 2 : descriptors;
            break;
        default:
            opened += socketpair(AF_UNIX, SOCK_STREAM, 0, pair) == 0 ? 2 : descriptors;
            break;
        }
    }
    (void)!write(ready, "x", 1);
    for (;;)
        pause();
}
