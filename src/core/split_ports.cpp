#include "core/split_ports.h"

#include <algorithm>

QList<ListeningPort> splitByHolder(const QList<ListeningPort>& byAddress) {
    QList<ListeningPort> result;
    result.reserve(byAddress.size());
    for (qsizetype first = 0; first < byAddress.size();) {
        qsizetype end = first;
        bool split = false;
        qint64 seen =
            0; // a holder of the port; a holder that cannot be seen (pid 0) splits nothing
        for (; end < byAddress.size() && byAddress[end].port == byAddress[first].port; ++end) {
            const qint64 pid = byAddress[end].pid;
            split = split || (pid > 0 && seen > 0 && pid != seen);
            if (seen == 0)
                seen = pid;
        }
        if (!split) {
            result.append(byAddress[first]);
        } else {
            const qsizetype start = result.size();
            for (qsizetype i = first; i < end; ++i) {
                const bool listed = std::any_of(
                    result.cbegin() + start, result.cend(),
                    [&](const ListeningPort& p) { return p.address == byAddress[i].address; });
                if (listed)
                    continue;
                result.append(byAddress[i]);
                result.back().split = true;
            }
        }
        first = end;
    }
    return result;
}
