// A container engine's event stream as the source reads it, in slices of the
// first byte's size. Checks what the reader promises: what it keeps of an
// incomplete line stays within its bound.
#include "sources/containers/engine_events.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1)
        return 0;
    const qsizetype slice = data[0] + 1;
    const QByteArrayView stream(reinterpret_cast<const char*>(data) + 1, qsizetype(size) - 1);
    EventStream state;
    for (qsizetype at = 0; at < stream.size(); at += slice) {
        const EventsRead read =
            readEvents(state, stream.sliced(at, qMin(slice, stream.size() - at)));
        if (state.pending.size() > kMaxEventLine)
            std::abort();
        for (const ContainerEvent& event : read.events) {
            if (event.change != ContainerChange::Started &&
                event.change != ContainerChange::Ended &&
                event.change != ContainerChange::Signalled)
                std::abort();
        }
    }
    return 0;
}
