#pragma once

#include "core/port_answer.h"
#include "probe/probe_target.h"

#include <QAbstractSocket>
#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>

class QNetworkAccessManager;
class QNetworkReply;
class QSslSocket;

// One short look at what answers on a port of this machine, on the event loop
// of the thread that makes it; nothing in it blocks.
//
// First a TLS handshake (QSslSocket; the certificate is not checked: these are
// loopback looks, not trust); then one "GET /" over HTTPS when the handshake
// succeeded, else over HTTP (QNetworkAccessManager). The request goes through
// no proxy, sends and stores no cookies, answers no request for credentials,
// follows no redirect and asks for the page unencoded; at most readLimit bytes
// of the page are read, the reply being aborted as soon as more arrive. The
// look connects to the target alone and ends within timeLimitMs, its
// connections closed.
class PortLook : public QObject {
    Q_OBJECT
public:
    static constexpr int timeLimitMs = 2000;
    // The handshake's share: a server silent to it still gets the rest for HTTP
    // (some HTTP servers wait for a line end a handshake never sends).
    static constexpr int tlsLimitMs = 500;
    static constexpr qsizetype readLimit = 64 * 1024;

    explicit PortLook(const ProbeTarget& target, QObject* parent = nullptr);
    ~PortLook() override;

    const ProbeTarget& target() const { return m_target; }
    // Starts the look; finished() follows once, through the event loop.
    void start();

signals:
    void finished(const PortAnswer& answer);

private:
    void startHandshake();
    void handshakeFailed(QAbstractSocket::SocketError error);
    void endHandshake();
    void startRequest();
    // Reads what the reply has, up to the limit; false once more than that came.
    bool readReply();
    void replyDone(bool timeUp);
    void timeUp();
    void finish(PortAnswer answer);

    ProbeTarget m_target;
    QElapsedTimer m_clock;
    QTimer m_deadline;
    QTimer m_handshakeDeadline;
    QPointer<QSslSocket> m_socket;
    QPointer<QNetworkAccessManager> m_manager;
    QPointer<QNetworkReply> m_reply;
    QByteArray m_page;
    bool m_connected = false;   // the handshake's connection was made
    bool m_tls = false;         // the handshake succeeded
    bool m_tlsAnswered = false; // the handshake got an answer that was not TLS
    bool m_finished = false;
};
