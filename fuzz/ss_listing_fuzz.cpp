// A remote host's `ss -Htlnpe` listing as the SSH source takes it: parsed into
// sockets, then filtered into records. Checks what the parser promises: ports
// 1 to 65535, holders with a pid a process can have and a name of at most 15
// bytes, one record per port, ascending.
#include "config/settings.h"
#include "sources/ssh/ss_listing.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const QList<SsSocket> sockets = parseSsListing(bytes);
    for (const SsSocket& socket : sockets) {
        if (socket.port < 1 || socket.port > 65535)
            std::abort();
        for (const SsHolder& holder : socket.holders) {
            if (holder.pid < 1 || holder.pid > 0x7fffffff || holder.name.size() > 15)
                std::abort();
        }
    }
    for (const auto& filter : {ScanFilter{1, 65535, std::nullopt},
                               ScanFilter{3000, 9999, settings::defaultAllowlist()}}) {
        const QList<ListeningPort> records = ssRecords(sockets, filter);
        for (qsizetype i = 0; i < records.size(); ++i) {
            if (i > 0 && records[i - 1].port >= records[i].port)
                std::abort();
        }
    }
    return 0;
}
