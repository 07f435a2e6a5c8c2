#include "maillib/nmail.h"

namespace kiku {

NMail::NMail(QObject* parent) : QObject(parent) {}

NMail::~NMail() = default;

int NMail::NMailInitializeWinSock() {
    m_initialised = true;
    return 0;
}

int NMail::NMailEndWinSock() {
    m_initialised = false;
    return 0;
}

int NMail::NMailSetOption(int option, int value) {
    if (option == 1 && value > 0) {
        m_headerBufferSize = value;
        return 0;
    }
    return -1;
}

void NMail::setSmtpCredentials(const QString& userId, const QString& password) {
    m_smtpUserId = userId;
    m_smtpPassword = password;
}

void NMail::setTimeout(int milliseconds) { m_timeoutMs = milliseconds > 0 ? milliseconds : 30000; }

int NMail::NMailGetMessage(int, QString& text, int& size) {
    text = m_lastError.left(qMax(size - 1, 0));
    size = int(text.size());
    return size;
}

} // namespace kiku
