#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QSslCertificate>
#include <QString>
#include <memory>

class QSslError;
class QSslSocket;

namespace kiku {

enum class Protocol { Pop3, Smtp };
enum class Security { Plain, ImplicitTls, StartTls };

// Where a mail server is and how to talk to it, read from the text the user typed.
struct ServerAddress {
    QString host;
    quint16 port = 0;
    Security security = Security::Plain;
    bool valid = false;
    bool portTyped = false; // the port came from the text, not from the scheme's default
    QString error;          // why the text could not be read, when !valid

    // "host:port", with an IPv6 literal in brackets.
    QString display() const;
};

// Reads "host", "host:port", "pop3s://host[:port]", "pop3+starttls://host[:port]",
// "smtps://host[:port]" and "smtp+starttls://host[:port]" ("[::1]" for an IPv6 literal).
// Missing ports default to 110/995 for POP3 and 25/465 for SMTP; STARTTLS keeps the plain port.
ServerAddress parseServerAddress(const QString& text, Protocol protocol);

// Why a server's certificate was not accepted, in words for the user.
QString certificateProblemText(const QSslError& error);

// The certificates a server's chain may end in: the system's CAs plus
// "\★MailData\ca.pem" under the program folder when that file exists.
QList<QSslCertificate> trustedCertificates();

// A blocking CRLF line connection to a mail server over QSslSocket. It needs no running
// event loop: every wait is bounded by the timeout, so a silent server ends in a failure.
// Each failing call leaves a human-readable reason in errorText().
class LineConnection {
public:
    LineConnection(Protocol protocol, int timeoutMs);
    ~LineConnection();
    LineConnection(const LineConnection&) = delete;
    LineConnection& operator=(const LineConnection&) = delete;

    // Connects, with the TLS handshake first for ImplicitTls. StartTls connects plain; the
    // protocol client calls startTls() after its own STLS/STARTTLS command.
    bool connectTo(const ServerAddress& address);
    // Upgrades the open plain connection to TLS, checking the certificate and host name.
    bool startTls();

    // Writes the bytes (after any queued lines).
    bool write(const QByteArray& bytes);
    // Writes the line followed by CR LF.
    bool writeLine(const QByteArray& line);
    // The same, for a command whose reply is read later (pipelining): held back and sent with
    // the next write, or before the connection waits for bytes, so that a run of them costs
    // one system call rather than one each. Lines still held when the connection closes are
    // never sent.
    bool queueLine(const QByteArray& line);
    // Sends the lines held back now.
    bool sendQueued();
    // Reads one line and hands it back without its line end (CR LF, or a bare LF). Any byte,
    // NUL included, may be part of the line.
    bool readLine(QByteArray& line);
    // The same, within a whole reply's bounds: fails once `replyDeadline` has passed (so a
    // server dripping one line every few seconds cannot hold on forever) or when the line
    // would take the reply past `budget` bytes; a successful read takes its size off it.
    bool readLine(QByteArray& line, const QDeadlineTimer& replyDeadline, qint64& budget);
    // The same, handing out the line where it lies in the connection's buffer, without a
    // copy; the view is valid until the next call on this connection.
    bool readLineView(QByteArrayView& line, const QDeadlineTimer& replyDeadline, qint64& budget);
    // True when a complete line has already arrived, so readLine() will not wait.
    bool hasBufferedLine() const;
    // Every complete line that has arrived and not been read, line ends included (empty when
    // there is none), for a caller that takes many lines at once; consume() then takes the
    // first `bytes` of them (whole lines) as readLine() would have. The view is valid until the
    // next call on this connection. A line readLine() would refuse (longer than the reply's
    // budget or than kMaxLineBytes) is the caller's to leave for readLine().
    QByteArrayView bufferedLines() const;
    void consume(qsizetype bytes);
    // No line of a mail dialogue or message comes anywhere near this (the standards allow 998
    // bytes); a longer one means a broken or hostile server.
    static constexpr qsizetype kMaxLineBytes = 64 * 1024 * 1024;
    // How many times bytes were taken from the socket so far: between two equal counts no
    // read waited, so a caller timing a reply need not look at the clock for every line.
    qint64 reads() const { return m_reads; }

    void close();
    bool isConnected() const;
    bool isEncrypted() const;
    QString errorText() const { return m_error; }
    int timeout() const { return m_timeoutMs; }

private:
    bool fail(const QString& text);
    bool handshake();
    QString serverLabel() const;
    QString tlsFailureText() const;
    bool fillBuffer(qint64 remainingMs);
    bool send(const QByteArray& bytes);

    Protocol m_protocol;
    int m_timeoutMs;
    ServerAddress m_address;
    std::unique_ptr<QSslSocket> m_socket;
    QByteArray m_queued;  // lines held back by queueLine()
    QByteArray m_buffer;  // bytes read and not yet handed out
    qsizetype m_scan = 0; // start of the bytes not yet handed out
    qint64 m_reads = 0;
    QString m_error;
};

} // namespace kiku
