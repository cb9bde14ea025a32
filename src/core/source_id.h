#pragma once

#include <QHashFunctions>
#include <QString>

#include <tuple>

// Which source lists a record, by kind, and for another machine's servers by
// the host as the user named it (an SSH destination). Records carry it in
// `origin`; a source's problem is keyed by it.
struct SourceId {
    enum class Kind : quint8 {
        None,       // no source; in a source's own result: "this source"
        Proc,       // this machine, from /proc and the socket diagnostics
        Lsof,       // this machine, from lsof
        Containers, // the ports container engines publish
        Host,       // another machine's servers, over SSH
    };

    Kind kind = Kind::None;
    QString host = {}; // for Kind::Host; empty otherwise

    static SourceId of(Kind kind) { return {kind, {}}; }
    static SourceId ofHost(QString host) { return {Kind::Host, std::move(host)}; }

    bool isNone() const { return kind == Kind::None; }
    bool isHost() const { return kind == Kind::Host; }
    // The name the command line's JSON and the logs give it: "proc", "lsof",
    // "containers", "ssh:box".
    QString text() const;

    friend bool operator==(const SourceId&, const SourceId&) = default;
    friend bool operator<(const SourceId& a, const SourceId& b) {
        return std::tie(a.kind, a.host) < std::tie(b.kind, b.host);
    }
};

inline size_t qHash(const SourceId& id, size_t seed = 0) {
    return qHashMulti(seed, quint8(id.kind), id.host);
}
