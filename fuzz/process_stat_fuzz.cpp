// A process's /proc/<pid>/stat line, whose second field is the name the
// process gave itself: any bytes there must not change the start time read
// from the fields after it.
#include "system/procfs.h"

#include <QByteArray>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray name(reinterpret_cast<const char*>(data), qsizetype(size));
    (void)startTimeFromStat(name);
    const QByteArray stat = "4242 (" + name +
                            ") S 1 4242 4242 0 -1 4194560 120 0 0 0 1 0 0 0 20 0 1 0 "
                            "987654321 2535424 348 18446744073709551615 1 1 0 0 0 0 0\n";
    if (startTimeFromStat(stat) != 987654321u)
        std::abort();
    return 0;
}
