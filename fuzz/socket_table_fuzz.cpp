// The kernel's socket table text (/proc/net/tcp, /proc/net/tcp6). Checks that
// every socket read from it has a port of 1 to 65535, an inode, an address
// and an owner.
#include "system/procfs.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QList<ListeningSocket> sockets =
        parseSocketTable(QByteArrayView(reinterpret_cast<const char*>(data), qsizetype(size)));
    for (const ListeningSocket& socket : sockets) {
        if (socket.port < 1 || socket.port > 65535 || socket.inode == 0 ||
            socket.address.isEmpty() || socket.uid < 0)
            std::abort();
    }
    return 0;
}
