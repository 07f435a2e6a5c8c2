#include "compose/sendhost.h"

#include "base/forms.h"
#include "base/mainboard.h"
#include "base/text.h"
#include "compose/attachcontrols.h"
#include "compose/writeform.h"
#include "settings/bunbetuform.h"
#include "settings/idpassform.h"

#include <QCheckBox>
#include <QDateTime>
#include <QLineEdit>
#include <QRadioButton>

namespace kiku {

QString FormsSendHost::recipientText() {
    return m_window ? m_window->toText()->text() : QString();
}

QString FormsSendHost::subjectText() {
    return m_window ? m_window->subjectText()->text() : QString();
}

QString FormsSendHost::bodyText() {
    return m_window ? m_window->bodyWithCrLf() : QString();
}

void FormsSendHost::setBodyText(const QString& text) {
    if (m_window)
        m_window->setBodyFromCrLf(text);
}

QString FormsSendHost::attachmentText() {
    return m_window ? m_window->attachments()->text() : QString();
}

bool FormsSendHost::fortuneOn() {
    return m_window && m_window->fortuneBox()->isChecked();
}

bool FormsSendHost::bulkOn() {
    return m_window && m_window->bulkOption()->isChecked();
}

QList<AddressEntry> FormsSendHost::nameListEntries() {
    return m_window ? m_window->nameEntries() : QList<AddressEntry>();
}

void FormsSendHost::nameListChanged() {
    if (m_window)
        m_window->refillNameList();
}

void FormsSendHost::setStatus(const QString& text) {
    if (m_window)
        m_window->paintStatus(text);
}

void FormsSendHost::finish() {
    if (m_window)
        m_window->finishSend();
}

QString FormsSendHost::accountUserId() {
    return Forms::touch<IdPassForm>()->userId();
}

QString FormsSendHost::accountPassword() {
    return Forms::touch<IdPassForm>()->password();
}

QString FormsSendHost::partnerAddress() {
    return Forms::touch<BunbetuForm>()->address();
}

QString FormsSendHost::clockText() {
    if (const MainBoard* board = MainBoard::current())
        return board->clockBoxText();
    // No main window (a window test): the date and time as the clock would show them.
    return kiku::clockText(QDateTime::currentDateTime());
}

void FormsSendHost::showSentCount(const QString& text) {
    if (MainBoard* board = MainBoard::current())
        board->setSentCountText(text);
}

} // namespace kiku
