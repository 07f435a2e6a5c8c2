#include "maillib/transport.h"

#include "base/paths.h"

#include <QDeadlineTimer>
#include <QFileInfo>
#include <QHostAddress>
#include <QSslConfiguration>
#include <QSslError>
#include <QSslSocket>
#include <QStringList>
#include <optional>
#include <utility>

namespace kiku {

namespace {

const QString kCaFile = QStringLiteral("\\★MailData\\ca.pem");

struct Scheme {
    const char* name;
    Protocol protocol;
    Security security;
};

constexpr Scheme kSchemes[] = {
    {"pop3", Protocol::Pop3, Security::Plain},
    {"pop3s", Protocol::Pop3, Security::ImplicitTls},
    {"pop3+starttls", Protocol::Pop3, Security::StartTls},
    {"smtp", Protocol::Smtp, Security::Plain},
    {"smtps", Protocol::Smtp, Security::ImplicitTls},
    {"smtp+starttls", Protocol::Smtp, Security::StartTls},
};

quint16 defaultPort(Protocol protocol, Security security) {
    const bool tls = security == Security::ImplicitTls;
    if (protocol == Protocol::Pop3)
        return tls ? 995 : 110;
    return tls ? 465 : 25;
}

ServerAddress invalid(const QString& why) {
    ServerAddress a;
    a.error = why;
    return a;
}

// Compacting the read buffer only once this much has been consumed keeps reads linear.
constexpr qsizetype kCompactAfter = 64 * 1024;

// Why a connection could not be made, in words the user can act on; the system's own text
// for anything unusual.
QString connectFailureReason(const QAbstractSocket& socket, int timeoutMs) {
    switch (socket.error()) {
    case QAbstractSocket::SocketTimeoutError:
        return QStringLiteral("%1秒以内に応答がありません")
            .arg(QString::number(timeoutMs / 1000.0));
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("接続を拒否されました。サーバー名とポート番号を確かめてください");
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("サーバー名が見つかりません。サーバー名を確かめてください");
    case QAbstractSocket::NetworkError:
        return QStringLiteral("ネットワークにつながっていません: %1").arg(socket.errorString());
    default:
        return socket.errorString();
    }
}

} // namespace

QString ServerAddress::display() const {
    const QString h =
        host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return h + QLatin1Char(':') + QString::number(port);
}

ServerAddress parseServerAddress(const QString& text, Protocol protocol) {
    QString rest = text.trimmed();
    ServerAddress a;
    a.security = Security::Plain;
    const qsizetype schemeEnd = rest.indexOf(QLatin1String("://"));
    if (schemeEnd >= 0) {
        const QString scheme = rest.left(schemeEnd).toLower();
        bool known = false;
        for (const Scheme& s : kSchemes) {
            if (scheme == QLatin1String(s.name) && s.protocol == protocol) {
                a.security = s.security;
                known = true;
            }
        }
        if (!known)
            return invalid(QStringLiteral("サーバー名の形式が使えません: %1").arg(text));
        rest = rest.mid(schemeEnd + 3);
    }
    while (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);

    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0)
            return invalid(QStringLiteral("サーバー名の形式が使えません: %1").arg(text));
        a.host = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (after.startsWith(QLatin1Char(':')))
            portText = after.mid(1);
        else if (!after.isEmpty())
            return invalid(QStringLiteral("サーバー名の形式が使えません: %1").arg(text));
        else
            portText.clear();
        if (QHostAddress(a.host).protocol() != QAbstractSocket::IPv6Protocol)
            return invalid(QStringLiteral("サーバー名の形式が使えません: %1").arg(text));
    } else {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        if (colon >= 0 && rest.indexOf(QLatin1Char(':'), colon + 1) >= 0) {
            // An unbracketed IPv6 literal: no port can be told apart, so take it whole.
            a.host = rest;
        } else if (colon >= 0) {
            a.host = rest.left(colon);
            portText = rest.mid(colon + 1);
        } else {
            a.host = rest;
        }
    }
    if (a.host.isEmpty() || a.host.contains(QLatin1Char(' ')) || a.host.contains(QLatin1Char('/')))
        return invalid(QStringLiteral("サーバー名の形式が使えません: %1").arg(text));

    if (rest.contains(QLatin1Char(':')) && portText.isEmpty() && !a.host.contains(QLatin1Char(':')))
        return invalid(QStringLiteral("ポート番号が読めません: %1").arg(text));
    if (!portText.isEmpty()) {
        bool ok = false;
        const uint port = portText.toUInt(&ok);
        if (!ok || port == 0 || port > 65535)
            return invalid(QStringLiteral("ポート番号が読めません: %1").arg(text));
        a.port = quint16(port);
        a.portTyped = true;
    } else {
        a.port = defaultPort(protocol, a.security);
    }
    a.valid = true;
    return a;
}

QString certificateProblemText(const QSslError& error) {
    switch (error.error()) {
    case QSslError::SelfSignedCertificate:
        return QStringLiteral("自己署名の証明書です");
    case QSslError::SelfSignedCertificateInChain:
        return QStringLiteral("証明書の経路に自己署名の証明書があります");
    case QSslError::UnableToGetIssuerCertificate:
    case QSslError::UnableToGetLocalIssuerCertificate:
    case QSslError::UnableToVerifyFirstCertificate:
        return QStringLiteral("発行元の認証局が信頼されていません");
    case QSslError::CertificateUntrusted:
        return QStringLiteral("証明書が信頼されていません");
    case QSslError::HostNameMismatch:
        return QStringLiteral("証明書がサーバー名と一致しません");
    case QSslError::CertificateExpired:
        return QStringLiteral("証明書の有効期限が切れています");
    case QSslError::CertificateNotYetValid:
        return QStringLiteral("証明書はまだ有効になっていません");
    case QSslError::InvalidNotBeforeField:
    case QSslError::InvalidNotAfterField:
        return QStringLiteral("証明書の有効期間が読めません");
    case QSslError::CertificateRevoked:
        return QStringLiteral("証明書は失効しています");
    case QSslError::PathLengthExceeded:
        return QStringLiteral("証明書の経路が長すぎます");
    case QSslError::CertificateSignatureFailed:
    case QSslError::UnableToDecryptCertificateSignature:
    case QSslError::UnableToDecodeIssuerPublicKey:
        return QStringLiteral("証明書の署名を確かめられません");
    case QSslError::InvalidCaCertificate:
        return QStringLiteral("発行元の証明書が認証局のものではありません");
    case QSslError::InvalidPurpose:
        return QStringLiteral("証明書の用途がサーバー用ではありません");
    case QSslError::CertificateRejected:
        return QStringLiteral("証明書が拒否されました");
    case QSslError::SubjectIssuerMismatch:
    case QSslError::AuthorityIssuerSerialNumberMismatch:
        return QStringLiteral("証明書と発行元が食い違っています");
    case QSslError::NoPeerCertificate:
        return QStringLiteral("サーバーから証明書が送られてきません");
    case QSslError::CertificateBlacklisted:
        return QStringLiteral("証明書は使用を禁止されています");
    default:
        // Rare ones (OCSP and the like) keep Qt's own words for whoever looks them up.
        return QStringLiteral("証明書に問題があります（%1）").arg(error.errorString());
    }
}

QList<QSslCertificate> trustedCertificates() {
    QList<QSslCertificate> certificates = QSslConfiguration::systemCaCertificates();
    const QString extra = ProgramFolder::resolve(kCaFile);
    if (QFileInfo::exists(extra))
        certificates += QSslCertificate::fromPath(extra, QSsl::Pem);
    return certificates;
}

LineConnection::LineConnection(Protocol protocol, int timeoutMs)
    : m_protocol(protocol), m_timeoutMs(timeoutMs > 0 ? timeoutMs : 30000) {}

LineConnection::~LineConnection() {
    close();
}

QString LineConnection::serverLabel() const {
    return m_protocol == Protocol::Pop3 ? QStringLiteral("POP3サーバー")
                                        : QStringLiteral("SMTPサーバー");
}

bool LineConnection::fail(const QString& text) {
    m_error = text;
    return false;
}

bool LineConnection::connectTo(const ServerAddress& address) {
    close();
    m_address = address;
    if (!address.valid)
        return fail(address.error);

    m_socket = std::make_unique<QSslSocket>();
    if (address.security != Security::Plain) {
        // Reading the CA store costs time; a plain session never needs it.
        QSslConfiguration config = QSslConfiguration::defaultConfiguration();
        config.setCaCertificates(trustedCertificates());
        config.setPeerVerifyMode(QSslSocket::VerifyPeer);
        m_socket->setSslConfiguration(config);
        m_socket->setPeerVerifyName(address.host);
    }

    if (address.security == Security::ImplicitTls) {
        if (!QSslSocket::supportsSsl())
            return fail(QStringLiteral("%1に接続できません: %2 (TLSが使えません)")
                            .arg(serverLabel(), address.display()));
        m_socket->connectToHostEncrypted(address.host, address.port, address.host);
    } else {
        m_socket->connectToHost(address.host, address.port);
    }
    if (!m_socket->waitForConnected(m_timeoutMs)) {
        const QString reason = connectFailureReason(*m_socket, m_timeoutMs);
        const QString text = QStringLiteral("%1に接続できません: %2 (%3)")
                                 .arg(serverLabel(), address.display(), reason);
        m_socket.reset();
        return fail(text);
    }
    // Every command goes out as one whole line: holding small writes back for more (Nagle)
    // only delays the pipelined ones.
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    if (address.security == Security::ImplicitTls)
        return handshake();
    return true;
}

bool LineConnection::startTls() {
    if (!isConnected())
        return fail(
            QStringLiteral("%1との接続が切れています: %2").arg(serverLabel(), m_address.display()));
    if (!QSslSocket::supportsSsl())
        return fail(QStringLiteral("%1とTLSで通信できません: %2 (TLSが使えません)")
                        .arg(serverLabel(), m_address.display()));
    // Anything the server sent before the upgrade would be a plaintext injection.
    m_buffer.clear();
    m_scan = 0;
    m_socket->startClientEncryption();
    return handshake();
}

QString LineConnection::tlsFailureText() const {
    QStringList reasons;
    for (const QSslError& e : m_socket->sslHandshakeErrors()) {
        const QString reason = certificateProblemText(e);
        if (!reasons.contains(reason))
            reasons << reason;
    }
    return QStringLiteral("%1の証明書を確認できません: %2 (%3)")
        .arg(serverLabel(), m_address.display(), reasons.join(QStringLiteral("、")));
}

bool LineConnection::handshake() {
    if (m_socket->waitForEncrypted(m_timeoutMs))
        return true;
    QString text;
    if (!m_socket->sslHandshakeErrors().isEmpty())
        text = tlsFailureText();
    else if (m_socket->error() == QAbstractSocket::SocketTimeoutError)
        text = QStringLiteral("%1とのTLS接続に失敗しました: %2 (%3秒以内に応答がありません)")
                   .arg(serverLabel(), m_address.display(), QString::number(m_timeoutMs / 1000.0));
    else
        text = QStringLiteral("%1とのTLS接続に失敗しました: %2 (%3)")
                   .arg(serverLabel(), m_address.display(), m_socket->errorString());
    m_socket->abort();
    return fail(text);
}

bool LineConnection::write(const QByteArray& bytes) {
    if (m_queued.isEmpty())
        return send(bytes);
    m_queued += bytes;
    return send(std::exchange(m_queued, QByteArray()));
}

// What queueLine() may hold back before it sends anyway.
constexpr qsizetype kMaxQueuedBytes = 16 * 1024;

bool LineConnection::queueLine(const QByteArray& line) {
    if (!isConnected())
        return fail(
            QStringLiteral("%1との接続が切れています: %2").arg(serverLabel(), m_address.display()));
    m_queued += line;
    m_queued += "\r\n";
    return m_queued.size() < kMaxQueuedBytes || sendQueued();
}

bool LineConnection::sendQueued() {
    return m_queued.isEmpty() || send(std::exchange(m_queued, QByteArray()));
}

bool LineConnection::send(const QByteArray& bytes) {
    if (!isConnected())
        return fail(
            QStringLiteral("%1との接続が切れています: %2").arg(serverLabel(), m_address.display()));
    if (m_socket->write(bytes) != bytes.size())
        return fail(QStringLiteral("%1へ送信できません: %2 (%3)")
                        .arg(serverLabel(), m_address.display(), m_socket->errorString()));
    // Hands the bytes to the system at once; waiting is needed only when it cannot take them.
    m_socket->flush();
    QDeadlineTimer deadline(m_timeoutMs);
    while (m_socket->bytesToWrite() > 0) {
        if (!m_socket->waitForBytesWritten(int(qMax<qint64>(deadline.remainingTime(), 1))) ||
            deadline.hasExpired()) {
            if (m_socket->bytesToWrite() == 0)
                break;
            return fail(QStringLiteral("%1へ送信できません: %2 (%3)")
                            .arg(serverLabel(), m_address.display(),
                                 deadline.hasExpired()
                                     ? QStringLiteral("%1秒以内に送れません")
                                           .arg(QString::number(m_timeoutMs / 1000.0))
                                     : m_socket->errorString()));
        }
    }
    return true;
}

bool LineConnection::writeLine(const QByteArray& line) {
    return write(line + "\r\n");
}

bool LineConnection::hasBufferedLine() const {
    return m_buffer.indexOf('\n', m_scan) >= 0;
}

QByteArrayView LineConnection::bufferedLines() const {
    const qsizetype lastLf = m_buffer.lastIndexOf('\n');
    if (lastLf < m_scan)
        return {};
    return QByteArrayView(m_buffer.constData() + m_scan, lastLf + 1 - m_scan);
}

void LineConnection::consume(qsizetype bytes) {
    m_scan += qBound<qsizetype>(0, bytes, m_buffer.size() - m_scan);
}

bool LineConnection::fillBuffer(qint64 remainingMs) {
    if (m_socket->bytesAvailable() == 0) {
        // The replies waited for may be those of the lines held back.
        if (!sendQueued())
            return false;
        if (!m_socket->waitForReadyRead(int(remainingMs)))
            return false;
    }
    if (m_scan > kCompactAfter && m_scan * 2 > m_buffer.size()) {
        m_buffer.remove(0, m_scan);
        m_scan = 0;
    }
    // Straight into the buffer: a copy through a QByteArray of its own would cost every
    // byte of every message once more.
    const qsizetype held = m_buffer.size();
    const qint64 available = m_socket->bytesAvailable();
    m_buffer.resize(held + qsizetype(available));
    const qint64 got = m_socket->read(m_buffer.data() + held, available);
    m_buffer.resize(held + qsizetype(qMax<qint64>(got, 0)));
    ++m_reads;
    return true;
}

bool LineConnection::readLine(QByteArray& line) {
    qint64 budget = kMaxLineBytes + 2;
    return readLine(line, QDeadlineTimer(QDeadlineTimer::Forever), budget);
}

bool LineConnection::readLine(QByteArray& line, const QDeadlineTimer& replyDeadline,
                              qint64& budget) {
    QByteArrayView view;
    if (!readLineView(view, replyDeadline, budget))
        return false;
    line = view.toByteArray();
    return true;
}

bool LineConnection::readLineView(QByteArrayView& line, const QDeadlineTimer& replyDeadline,
                                  qint64& budget) {
    if (!m_socket)
        return fail(
            QStringLiteral("%1との接続が切れています: %2").arg(serverLabel(), m_address.display()));
    // The clock is read only once the line has to be waited for: most lines of a message
    // are in the buffer already.
    bool replyBound = false;
    std::optional<QDeadlineTimer> deadline;
    const qsizetype maxLine = qsizetype(qMin<qint64>(kMaxLineBytes, qMax<qint64>(budget, 0)));
    qsizetype searched = 0; // bytes after m_scan already known to hold no LF
    for (;;) {
        const qsizetype lf = m_buffer.indexOf('\n', m_scan + searched);
        if (lf >= 0 && lf - m_scan < maxLine) {
            qsizetype end = lf;
            if (end > m_scan && m_buffer.at(end - 1) == '\r')
                --end;
            line = QByteArrayView(m_buffer.constData() + m_scan, end - m_scan);
            budget -= lf + 1 - m_scan;
            m_scan = lf + 1;
            return true;
        }
        searched = m_buffer.size() - m_scan;
        if (searched >= maxLine) {
            // A server that never ends its line or its reply would otherwise make the buffer
            // grow without bound; the session cannot be trusted any more.
            close();
            if (maxLine < kMaxLineBytes)
                return fail(QStringLiteral("%1の応答が大きすぎるため切断しました: %2")
                                .arg(serverLabel(), m_address.display()));
            return fail(QStringLiteral("%1から異常に長い行が届いたため切断しました: %2")
                            .arg(serverLabel(), m_address.display()));
        }
        if (!deadline) {
            const QDeadlineTimer lineDeadline(m_timeoutMs);
            replyBound = replyDeadline.deadline() < lineDeadline.deadline();
            deadline = replyBound ? replyDeadline : lineDeadline;
        }
        const qint64 remaining = deadline->remainingTime();
        if (remaining == 0 ||
            !fillBuffer(remaining < 0 ? m_timeoutMs : qMax<qint64>(remaining, 1))) {
            const bool timedOut =
                deadline->hasExpired() || m_socket->error() == QAbstractSocket::SocketTimeoutError;
            if (timedOut && replyBound) {
                close();
                return fail(QStringLiteral("%1の応答が時間内に終わらないため切断しました: %2")
                                .arg(serverLabel(), m_address.display()));
            }
            if (timedOut)
                return fail(QStringLiteral("%1から応答がありません: %2 (%3秒待ちました)")
                                .arg(serverLabel(), m_address.display(),
                                     QString::number(m_timeoutMs / 1000.0)));
            return fail(QStringLiteral("%1との接続が切れました: %2 (%3)")
                            .arg(serverLabel(), m_address.display(), m_socket->errorString()));
        }
    }
}

void LineConnection::close() {
    m_queued.clear();
    if (m_socket) {
        m_socket->abort();
        m_socket.reset();
    }
    m_buffer.clear();
    m_scan = 0;
}

bool LineConnection::isConnected() const {
    return m_socket && m_socket->state() == QAbstractSocket::ConnectedState;
}

bool LineConnection::isEncrypted() const {
    return m_socket && m_socket->isEncrypted();
}

} // namespace kiku
