#include "scanner/port_scanner.h"

#include <gtest/gtest.h>

TEST(Parser, WorkedExample) {
    const QString text = QStringLiteral(
        "COMMAND PID USER FD TYPE DEVICE SIZE/OFF NODE NAME\n"
        "node 4123 dev 23u IPv4 0xa1 0t0 TCP *:3000 (LISTEN)\n"
        "node 4123 dev 24u IPv6 0xa2 0t0 TCP *:3000 (LISTEN)\n"
        "Python 5120 dev 4u IPv4 0xa3 0t0 TCP 127.0.0.1:8000 (LISTEN)\n"
        "ruby 777 dev 12u IPv6 0xa4 0t0 TCP [::1]:4567 (LISTEN)\n"
        "postgres 612 dev 7u IPv4 0xa5 0t0 TCP localhost:postgresql (LISTEN)\n"
        "java 901 dev 40u IPv6 0xa6 0t0 TCP *:8080\n"
        "node abc dev 23u IPv4 0xa7 0t0 TCP *:5000 (LISTEN)\n"
        "node 4129 dev 25u IPv4 0xa8 0t0 TCP *:5000 (LISTEN)\n"
        "nginx 88 dev 6u IPv4\n"
        "nginx 88 dev 6u IPv4 0xa9 0t0 TCP *:80 (LISTEN)\n");
    const QList<ListeningPort> expected = {
        {80, 88, QStringLiteral("nginx")},    {3000, 4123, QStringLiteral("node")},
        {4567, 777, QStringLiteral("ruby")},  {5000, 4129, QStringLiteral("node")},
        {8000, 5120, QStringLiteral("Python")},
    };
    EXPECT_EQ(PortScanner::parse(text), expected);
}
