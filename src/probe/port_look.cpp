#include "probe/port_look.h"

#include "probe/page_title.h"

#include <QNetworkAccessManager>
#include <QNetworkInterface>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QUrl>

#include <algorithm>

std::optional<ProbeTarget> probeTargetFor(const QString& address, qint64 port) {
    if (port < 1 || port > 65535)
        return std::nullopt;
    const QString text = address.trimmed();
    if (text.isEmpty() || text == QStringLiteral("*"))
        return ProbeTarget{QHostAddress(QHostAddress::LocalHost), quint16(port)};
    QHostAddress host(text);
    if (host.isNull())
        return std::nullopt;
    if (host.isEqual(QHostAddress::AnyIPv6, QHostAddress::StrictConversion))
        return ProbeTarget{QHostAddress(QHostAddress::LocalHostIPv6), quint16(port)};
    bool mapped = false;
    if (const quint32 v4 = host.toIPv4Address(&mapped); mapped)
        host = QHostAddress(v4);
    if (host == QHostAddress(QHostAddress::AnyIPv4))
        host = QHostAddress(QHostAddress::LocalHost);
    return ProbeTarget{host, quint16(port)};
}

namespace {

// Whether a look may connect to `address`: a loopback address or one of this
// machine's own, so that nothing of a look leaves the machine.
bool isOwnAddress(const QHostAddress& address) {
    if (address.isLoopback())
        return true;
    const QList<QHostAddress> own = QNetworkInterface::allAddresses();
    return std::any_of(own.begin(), own.end(), [&address](QHostAddress ownAddress) {
        ownAddress.setScopeId({});
        QHostAddress plain = address;
        plain.setScopeId({});
        return ownAddress == plain;
    });
}

PortAnswer answerOf(PortAnswer::Kind kind) {
    PortAnswer answer;
    answer.kind = kind;
    return answer;
}

// A header's value as it may be kept: Latin-1, control characters dropped, cut.
QString headerText(const QByteArray& value) {
    QString text = QString::fromLatin1(value.left(2048));
    text.removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    return text;
}

} // namespace

PortLook::PortLook(const ProbeTarget& target, QObject* parent) : QObject(parent), m_target(target) {
    m_deadline.setSingleShot(true);
    m_deadline.setTimerType(Qt::PreciseTimer);
    m_handshakeDeadline.setSingleShot(true);
    m_handshakeDeadline.setTimerType(Qt::PreciseTimer);
    connect(&m_deadline, &QTimer::timeout, this, &PortLook::timeUp);
    connect(&m_handshakeDeadline, &QTimer::timeout, this, [this] {
        // Connected and nothing came back: on to HTTP.
        endHandshake();
        startRequest();
    });
}

PortLook::~PortLook() = default;

void PortLook::start() {
    m_clock.start();
    m_deadline.start(timeLimitMs);
    if (m_target.port == 0 || !isOwnAddress(m_target.address)) {
        finish(answerOf(PortAnswer::Kind::NotLooked));
        return;
    }
    if (QSslSocket::supportsSsl())
        startHandshake();
    else
        startRequest();
}

void PortLook::startHandshake() {
    m_socket = new QSslSocket(this);
    m_socket->setProxy(QNetworkProxy::NoProxy);
    m_socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    if (m_target.address.isLoopback())
        m_socket->setPeerVerifyName(QStringLiteral("localhost")); // the name a browser sends
    connect(m_socket, &QSslSocket::connected, this, [this] { m_connected = true; });
    connect(m_socket, &QSslSocket::encrypted, this, [this] {
        m_tls = true;
        endHandshake();
        startRequest();
    });
    connect(m_socket, &QSslSocket::errorOccurred, this, &PortLook::handshakeFailed);
    m_handshakeDeadline.start(tlsLimitMs);
    m_socket->connectToHostEncrypted(m_target.address.toString(), m_target.port);
}

void PortLook::handshakeFailed(QAbstractSocket::SocketError) {
    if (!m_connected) {
        finish(answerOf(PortAnswer::Kind::Unreachable));
        return;
    }
    // Something came back that was not TLS, or the server hung up.
    m_tlsAnswered = true;
    endHandshake();
    startRequest();
}

void PortLook::endHandshake() {
    m_handshakeDeadline.stop();
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
    }
}

void PortLook::startRequest() {
    if (m_finished)
        return;
    m_manager = new QNetworkAccessManager(this);
    m_manager->setProxy(QNetworkProxy::NoProxy);
    m_manager->setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
    m_manager->setStrictTransportSecurityEnabled(false);
    // Its authenticationRequired() and proxyAuthenticationRequired() are left
    // unanswered: a look never offers credentials.

    QUrl url;
    url.setScheme(m_tls ? QStringLiteral("https") : QStringLiteral("http"));
    url.setHost(m_target.address.toString());
    url.setPort(m_target.port);
    url.setPath(QStringLiteral("/"));
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::CookieLoadControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CookieSaveControlAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::AuthenticationReuseAttribute, QNetworkRequest::Manual);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setHeader(QNetworkRequest::UserAgentHeader, QStringLiteral("Harborwatch"));
    request.setRawHeader("Accept", "text/html,*/*;q=0.5");
    request.setRawHeader("Accept-Encoding", "identity");
    request.setRawHeader("Connection", "close");
    if (m_tls) {
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(tls);
        if (m_target.address.isLoopback())
            request.setPeerVerifyName(QStringLiteral("localhost"));
    }

    m_reply = m_manager->get(request);
    m_reply->setReadBufferSize(readLimit + 1);
    connect(m_reply, &QNetworkReply::readyRead, this, [this] {
        if (!readReply())
            replyDone(false);
    });
    connect(m_reply, &QNetworkReply::finished, this, [this] { replyDone(false); });
}

bool PortLook::readReply() {
    while (m_reply && m_reply->bytesAvailable() > 0) {
        if (m_page.size() >= readLimit)
            return false;
        m_page.append(m_reply->read(readLimit - m_page.size()));
    }
    return true;
}

void PortLook::replyDone(bool timeUp) {
    if (m_finished || !m_reply)
        return;
    readReply();
    PortAnswer answer;
    const QVariant status = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid()) {
        answer.kind = m_tls ? PortAnswer::Kind::Https : PortAnswer::Kind::Http;
        answer.status = status.toInt();
        const QByteArray type = m_reply->rawHeader("Content-Type");
        if (type.isEmpty() || type.contains("html"))
            answer.title = pageTitle(m_page, type);
        if (answer.status >= 300 && answer.status < 400)
            answer.location = headerText(m_reply->rawHeader("Location"));
    } else if (m_tls) {
        answer.kind = PortAnswer::Kind::Https;
    } else if (m_reply->error() == QNetworkReply::ConnectionRefusedError) {
        answer.kind = PortAnswer::Kind::Unreachable;
    } else if (timeUp && !m_tlsAnswered) {
        answer.kind = PortAnswer::Kind::Silent;
    } else {
        answer.kind = PortAnswer::Kind::Other;
    }
    finish(answer);
}

void PortLook::timeUp() {
    if (m_reply) {
        replyDone(true);
        return;
    }
    // Still at the handshake: it got no connection, or no word, in all the time.
    finish(answerOf(m_connected ? PortAnswer::Kind::Silent : PortAnswer::Kind::Unreachable));
}

void PortLook::finish(PortAnswer answer) {
    if (m_finished)
        return;
    m_finished = true;
    answer.elapsedMs = m_clock.elapsed();
    m_deadline.stop();
    endHandshake();
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
    if (m_manager)
        m_manager->deleteLater();
    // Always through the event loop, also when the connection failed at once.
    QMetaObject::invokeMethod(
        this, [this, answer] { emit finished(answer); }, Qt::QueuedConnection);
}
