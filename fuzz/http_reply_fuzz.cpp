// A container engine's reply as the client reads it: fed in slices of the
// first byte's size, its body taken as a stream reads it when that byte is
// odd, then the connection ends. Checks what the reader promises: a body
// never beyond its limit, a status only with a complete head, and an end
// that is either a whole reply or a failure with its reason.
#include "sources/containers/http_reply.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    constexpr qsizetype limit = 64 * 1024;
    const qsizetype slice = data[0] / 2 + 1;
    const bool streaming = data[0] % 2 == 1;
    const QByteArrayView reply(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    HttpReplyReader reader(limit);
    for (qsizetype at = 0; at < reply.size(); at += slice) {
        reader.feed(reply.sliced(at, qMin(slice, reply.size() - at)));
        if (reader.body().size() > limit)
            std::abort();
        if (streaming && reader.headComplete())
            (void)reader.takeBody();
    }
    const HttpReplyReader::State end = reader.finish();
    if (end != HttpReplyReader::State::Done && end != HttpReplyReader::State::Failed)
        std::abort();
    if ((end == HttpReplyReader::State::Failed) == reader.error().isEmpty())
        std::abort();
    if (reader.headComplete() && (reader.status() < 100 || reader.status() > 999))
        std::abort();
    (void)reader.header("Content-Type");
    return 0;
}
