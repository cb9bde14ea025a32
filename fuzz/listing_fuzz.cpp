// The lister's output as a scan takes it: decoded, parsed into records and
// filtered. Checks what the parser promises: ports 1 to 65535, ascending, one
// record per port unless its records are split, one per address.
#include "config/settings.h"
#include "core/filter.h"
#include "sources/lsof/lister.h"
#include "sources/lsof/lsof_listing.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    const auto strict = decodeUtf8Strict(bytes);
    // A scan refuses text that is not UTF-8; the parser still gets any text
    // here, so that the search does not stop at the decoder.
    const QString text = strict ? *strict : QString::fromUtf8(bytes);
    const QList<ListeningPort> ports = parseLsofListing(text);
    for (qsizetype i = 0; i < ports.size(); ++i) {
        if (ports[i].port < 1 || ports[i].port > 65535)
            std::abort();
        if (i == 0)
            continue;
        const ListeningPort& before = ports[i - 1];
        if (before.port > ports[i].port)
            std::abort();
        if (before.port == ports[i].port &&
            (!before.split || !ports[i].split || before.address == ports[i].address))
            std::abort();
    }
    const QList<ListeningPort> kept =
        ScanFilter{3000, 9999, settings::defaultAllowlist()}.apply(ports);
    if (kept.size() > ports.size())
        std::abort();
    return 0;
}
