#pragma once

#include "core/presentation.h"
#include "sources/ssh/ss_listing.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QHash>
#include <QList>

// What the remote listing command (remoteListingCommand()) writes, read as it
// arrives, within bounds whatever the remote sends: a line of at most 64 KiB,
// a listing of at most 10,000 sockets and 8 MiB, names of at most 300
// characters. Pure: it only reads the bytes it is given.
//
// Lines before remoteConnected are not the command's and are passed over.
// Then each listing (the `ss` lines and the start times, up to remoteListed)
// replaces the one before; where the remote's harborwatch streams its watch
// (remoteWatchFound), its events are the sockets until remoteWatchGone.
class RemoteStream {
public:
    struct Limits {
        qsizetype longestLine = 64 * 1024;
        qsizetype mostSockets = mostHostSockets;
        qsizetype longestListing = 8 * 1024 * 1024; // bytes of the `ss` lines of one listing
        qsizetype longestName = 300;                // characters of a name on the watch stream
    };

    RemoteStream() = default;
    explicit RemoteStream(Limits limits) : m_limits(limits) {}

    // What one read brought.
    struct News {
        bool connected = false;   // the remote command has started
        bool listed = false;      // a listing, or a change on the watch stream, came in
        bool lineTooLong = false; // a line over the limit: nothing more is read
    };

    News read(QByteArrayView bytes);

    // The sockets of the latest listing, or of the watch stream while it tells.
    QList<SsSocket> sockets() const;
    // Whether the remote listed more sockets (or bytes) than the limits let
    // in, and the rest was left out.
    bool isCut() const { return m_streaming && m_streamSeen ? m_streamCut : m_cut; }
    // Whether the remote harborwatch's watch stream lists.
    bool readsWatch() const { return m_streaming; }
    // The bytes kept between reads: the line not ended yet and the listing
    // being read.
    qsizetype heldBytes() const { return m_partial.size() + m_listing.size(); }

    const Limits& limits() const { return m_limits; }

private:
    void readLine(QByteArrayView line, News& news);
    void finishListing();
    void readEvent(QByteArrayView line, News& news);

    Limits m_limits;
    QByteArray m_partial; // the line not ended yet
    bool m_started = false;
    bool m_failed = false;

    QByteArray m_listing; // `ss` lines of the listing being read
    qsizetype m_records = 0;
    bool m_dropping = false;             // the record being read is past the bounds
    bool m_cutting = false;              // the listing being read is cut
    QHash<qint64, quint64> m_startTimes; // by pid, of the listing being read
    QList<SsSocket> m_sockets;           // of the latest listing
    bool m_cut = false;

    bool m_streaming = false;
    bool m_streamSeen = false; // the stream has told something
    bool m_streamCut = false;
    QHash<qint64, SsSocket> m_streamed; // by port
};
