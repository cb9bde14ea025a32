// What a remote host's listing command writes, read as it arrives in pieces
// of varying size: once within small limits, so that every bound is reached,
// and once within the program's own. Checks that what is kept stays within
// the limits and that nothing is read after a line that is too long.
#include "sources/ssh/remote_stream.h"

#include <cstdint>
#include <cstdlib>

namespace {

void readInPieces(QByteArrayView bytes, RemoteStream::Limits limits) {
    RemoteStream stream(limits);
    bool ended = false;
    // Piece sizes from 1 to 97, the same for the same input.
    quint32 state = quint32(bytes.size()) * 2654435761u + 1;
    while (!bytes.isEmpty()) {
        state = state * 1103515245u + 12345u;
        const qsizetype piece = std::min<qsizetype>(bytes.size(), 1 + (state >> 16) % 97);
        const RemoteStream::News news = stream.read(bytes.first(piece));
        bytes = bytes.sliced(piece);
        if (ended && (news.connected || news.listed || news.lineTooLong))
            std::abort();
        ended = ended || news.lineTooLong;
        if (stream.heldBytes() > limits.longestLine + limits.longestListing)
            std::abort();
        const QList<SsSocket> sockets = stream.sockets();
        if (sockets.size() > limits.mostSockets)
            std::abort();
        for (const SsSocket& socket : sockets) {
            for (const SsHolder& holder : socket.holders) {
                if (holder.name.size() > limits.longestName || holder.pid < 0)
                    std::abort();
            }
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    readInPieces(bytes, {256, 4, 1024, 16});
    readInPieces(bytes, {});
    return 0;
}
