#pragma once

#include <QObject>

namespace kiku {

// The mail library: POP3, APOP and SMTP sessions and MIME work behind the operations the
// program calls, under their long-standing names and argument order.
class NMail : public QObject {
    Q_OBJECT
public:
    explicit NMail(QObject* parent = nullptr);
    ~NMail() override;

    // Once at start-up and once at shutdown.
    int NMailInitializeWinSock();
    int NMailEndWinSock();
    // Option 1 is the size of the header buffers the caller passes (8192).
    int NMailSetOption(int option, int value);

    bool initialised() const { return m_initialised; }
    int headerBufferSize() const { return m_headerBufferSize; }

private:
    bool m_initialised = false;
    int m_headerBufferSize = 8192;
};

} // namespace kiku
