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

} // namespace kiku
