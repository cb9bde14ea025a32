#include "core/source_id.h"

QString SourceId::text() const {
    switch (kind) {
    case Kind::None:
        return {};
    case Kind::Proc:
        return QStringLiteral("proc");
    case Kind::Lsof:
        return QStringLiteral("lsof");
    case Kind::Containers:
        return QStringLiteral("containers");
    case Kind::Host:
        return QStringLiteral("ssh:") + host;
    }
    return {};
}
