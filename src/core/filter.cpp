#include "core/filter.h"

QList<ListeningPort> ScanFilter::apply(const QList<ListeningPort>& ports) const {
    QList<ListeningPort> kept;
    for (const ListeningPort& p : ports) {
        if (passes(p))
            kept.append(p);
    }
    return kept;
}
