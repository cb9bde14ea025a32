#include "sources/ssh/forward_check.h"

#include <QHostAddress>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

void lookThroughForward(qint64 localPort, int quietMs, QObject* owner,
                        std::function<void(ForwardVerdict)> done) {
    auto* socket = new QTcpSocket(owner);
    auto* quiet = new QTimer(socket);
    quiet->setSingleShot(true);
    const auto over = std::make_shared<bool>(false);
    const auto finish = [socket, over, done = std::move(done)](ForwardVerdict verdict) {
        if (std::exchange(*over, true))
            return;
        // Told from the event loop: the socket is not deleted inside its own signal.
        socket->disconnect();
        socket->abort();
        socket->deleteLater();
        QMetaObject::invokeMethod(
            socket->parent(), [done, verdict] { done(verdict); }, Qt::QueuedConnection);
    };
    QObject::connect(socket, &QTcpSocket::connected, quiet,
                     [quiet, quietMs] { quiet->start(quietMs); });
    QObject::connect(quiet, &QTimer::timeout, socket,
                     [finish] { finish(ForwardVerdict::Answered); });
    QObject::connect(socket, &QTcpSocket::readyRead, socket,
                     [finish] { finish(ForwardVerdict::Answered); });
    QObject::connect(socket, &QTcpSocket::errorOccurred, socket,
                     [socket, finish](QAbstractSocket::SocketError) {
                         // Closed once connected: the far end refused; never
                         // connected: nothing listens here.
                         finish(socket->state() == QAbstractSocket::ConnectedState ||
                                        socket->error() == QAbstractSocket::RemoteHostClosedError
                                    ? ForwardVerdict::NoServer
                                    : ForwardVerdict::Closed);
                     });
    socket->connectToHost(QHostAddress(QHostAddress::LocalHost), quint16(localPort));
}
