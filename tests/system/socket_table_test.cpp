#include "system/procfs.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const QByteArray header =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout "
    "inode\n";

QByteArray row(const char* local, const char* state, const char* inode, const char* uid = "1000") {
    return QByteArray("   0: ") + local + " 00000000:0000 " + state +
           " 00000000:00000000 00:00000000 00000000  " + uid + "        0 " + inode +
           " 1 0000000000000000 100 0 0 10 0\n";
}

// Listens on `family`'s loopback address, port chosen by the kernel.
struct Listener {
    int fd = -1;
    qint64 port = 0;
    explicit Listener(int family) {
        fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_storage storage{};
        socklen_t len;
        if (family == AF_INET) {
            auto* a = reinterpret_cast<sockaddr_in*>(&storage);
            a->sin_family = AF_INET;
            a->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            len = sizeof *a;
        } else {
            auto* a = reinterpret_cast<sockaddr_in6*>(&storage);
            a->sin6_family = AF_INET6;
            a->sin6_addr = in6addr_loopback;
            len = sizeof *a;
        }
        auto* addr = reinterpret_cast<sockaddr*>(&storage);
        if (fd < 0 || ::bind(fd, addr, len) != 0 || ::listen(fd, 4) != 0 ||
            ::getsockname(fd, addr, &len) != 0)
            return;
        port = ntohs(family == AF_INET ? reinterpret_cast<sockaddr_in*>(&storage)->sin_port
                                       : reinterpret_cast<sockaddr_in6*>(&storage)->sin6_port);
    }
    ~Listener() {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

TEST(SocketTable, ReadsListeningSocketsOfBothFamilies) {
    const struct {
        QByteArray line;
        QList<ListeningSocket> expected;
    } cases[] = {
        {row("0100007F:0BB8", "0A", "12345"), {{12345, 3000, "127.0.0.1", 1000}}},
        {row("00000000:1F90", "0A", "7", "0"), {{7, 8080, "0.0.0.0", 0}}},
        {row("0201A8C0:115C", "0A", "9"), {{9, 4444, "192.168.1.2", 1000}}},
        {row("00000000000000000000000001000000:0BB8", "0A", "55"), {{55, 3000, "::1", 1000}}},
        {row("00000000000000000000000000000000:0BB8", "0A", "56"), {{56, 3000, "::", 1000}}},
        {row("0000000000000000FFFF00000100007F:0BB8", "0A", "57"),
         {{57, 3000, "::ffff:127.0.0.1", 1000}}},
        // Not listening: established, time-wait.
        {row("0100007F:0BB8", "01", "12345"), {}},
        {row("0100007F:0BB8", "06", "0"), {}},
        // Malformed: no port, bad hex, short address, inode 0, port 0, a uid
        // wider than 32 bits, cut line.
        {row("0100007F", "0A", "1"), {}},
        {row("0100007G:0BB8", "0A", "1"), {}},
        {row("01007F:0BB8", "0A", "1"), {}},
        {row("0100007F:0BB8", "0A", "0"), {}},
        {row("0100007F:0000", "0A", "1"), {}},
        {row("0100007F:0BB8", "0A", "1", "18446744073709551615"), {}},
        {row("0100007F:0BB8", "0A", "1", "4294967296"), {}},
        {"   0: 0100007F:0BB8 00000000:0000 0A 00000000:00000000\n", {}},
        {"", {}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseSocketTable(header + c.line), c.expected) << c.line.constData();
    // The first line is the header whatever it holds.
    EXPECT_TRUE(parseSocketTable(row("0100007F:0BB8", "0A", "1")).isEmpty());
}

TEST(SocketTable, FindsTheSocketsThisProcessListensOn) {
    const Listener v4(AF_INET);
    const Listener v6(AF_INET6);
    ASSERT_GT(v4.port, 0);
    const qint64 self = QCoreApplication::applicationPid();

    QString error;
    const auto sockets = ProcFs(QStringLiteral("/proc")).socketTables(&error);
    ASSERT_TRUE(sockets.has_value()) << qPrintable(error);
    const QSet<quint64> own = ProcFs().socketInodes(self);
    auto find = [&](qint64 port) {
        for (const ListeningSocket& s : *sockets)
            if (s.port == port && own.contains(s.inode))
                return s;
        return ListeningSocket{};
    };
    EXPECT_EQ(find(v4.port).address, QStringLiteral("127.0.0.1"));
    EXPECT_EQ(find(v4.port).uid, qint64(::getuid()));
    EXPECT_TRUE(ProcFs().holdsListeningSocket(self, v4.port));
    if (v6.port > 0) { // a kernel or namespace without IPv6 has no ::1
        EXPECT_EQ(find(v6.port).address, QStringLiteral("::1"));
        EXPECT_TRUE(ProcFs().holdsListeningSocket(self, v6.port));
    }

    EXPECT_FALSE(ProcFs().holdsListeningSocket(self, 0));
    int fd = -1;
    quint64 inode = 0;
    ProcFs().forEachSocket(self, [&](int at, quint64 found) {
        fd = at;
        inode = found;
        return at != v4.fd;
    });
    ASSERT_EQ(fd, v4.fd);
    EXPECT_TRUE(ProcFs().holdsSocketAt(self, fd, inode));
    EXPECT_FALSE(ProcFs().holdsSocketAt(self, fd, inode + 1));
    EXPECT_FALSE(ProcFs().holdsSocketAt(self, fd + 1000, inode));
    EXPECT_FALSE(ProcFs(QStringLiteral("/nonexistent")).socketTables(&error).has_value());
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(ProcFs().socketInodes(0).isEmpty());
}

// The kernel's socket diagnostics and the text tables describe the same
// listening sockets.
TEST(SocketTable, DiagnosticsAgreeWithTheTables) {
    const Listener v4(AF_INET);
    const Listener v6(AF_INET6);
    ASSERT_GT(v4.port, 0);
    const auto queried = queryListeningSockets();
    ASSERT_TRUE(queried.has_value());
    const auto read = ProcFs(QStringLiteral("/proc")).socketTables();
    ASSERT_TRUE(read.has_value());
    const QSet<quint64> own = ProcFs().socketInodes(QCoreApplication::applicationPid());
    auto ownOf = [&](const QList<ListeningSocket>& sockets) {
        QList<ListeningSocket> kept;
        for (const ListeningSocket& s : sockets)
            if (own.contains(s.inode))
                kept.append(s);
        std::sort(kept.begin(), kept.end(), [](const ListeningSocket& a, const ListeningSocket& b) {
            return a.inode < b.inode;
        });
        return kept;
    };
    EXPECT_EQ(ownOf(*queried), ownOf(*read));
    // A connection kept open answers dump after dump.
    SocketDiagnostics diagnostics;
    for (int dump = 0; dump < 2; ++dump) {
        std::vector<RawListeningSocket> raw;
        ASSERT_TRUE(diagnostics.listening(raw));
        QList<ListeningSocket> sockets;
        for (const RawListeningSocket& s : raw)
            sockets.append({s.inode, s.port, s.addressText(), s.uid});
        EXPECT_EQ(ownOf(sockets), ownOf(*read)) << "dump " << dump;
    }
    EXPECT_EQ(ownOf(*queried).size(), v6.port > 0 ? 2 : 1);
}
