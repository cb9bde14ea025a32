#include "core/port_answer.h"

QString kindName(PortAnswer::Kind kind) {
    switch (kind) {
    case PortAnswer::Kind::NotLooked:
        return QStringLiteral("none");
    case PortAnswer::Kind::Unreachable:
        return QStringLiteral("unreachable");
    case PortAnswer::Kind::Http:
        return QStringLiteral("http");
    case PortAnswer::Kind::Https:
        return QStringLiteral("https");
    case PortAnswer::Kind::Other:
        return QStringLiteral("other");
    case PortAnswer::Kind::Silent:
        return QStringLiteral("silent");
    }
    return {};
}
