#pragma once

#include <QCoreApplication>

// The benchmarks' one application object, made at its first use: queued
// deliveries and the probe's sockets need its event loop.
inline QCoreApplication& benchApplication() {
    static int argc = 1;
    static char name[] = "harborwatch_bench";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}
