#pragma once

#include <QtGlobal>

#include <functional>

class QObject;

// What a connection through a forward showed of its far end.
enum class ForwardVerdict {
    Answered, // the remote server took the connection (it spoke, or kept it open)
    NoServer, // the forward took it and closed it unread: nothing took it on the host
    Closed,   // nothing listens on the local end: the forward is not set up
};

// Looks once through the forward whose local end is 127.0.0.1:`localPort`.
//
// ssh accepts every connection to a forward's local end at once, and only
// then asks the host to connect to the remote port. Where nothing listens
// there the host refuses, and ssh closes the local connection without a
// byte, within one round trip to the host; a server that takes it either
// speaks first or waits for the client, so the connection stays open. A
// connection closed unread within `quietMs` is therefore "nothing answers",
// one that is read from or stays open is a server. Nothing is sent.
//
// `done` runs once, from the event loop, while `owner` exists; the look
// goes with `owner`.
void lookThroughForward(qint64 localPort, int quietMs, QObject* owner,
                        std::function<void(ForwardVerdict)> done);
