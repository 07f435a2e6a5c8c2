#include "core/receivehost.h"

#include "base/forms.h"
#include "core/mainform.h"
#include "settings/bunbetuform.h"
#include "settings/idpassform.h"
#include "viewer/tyakuform.h"

#include <QLineEdit>

namespace kiku {

QString FormsReceiveHost::accountUserId() {
    return Forms::touch<IdPassForm>()->userId();
}

QString FormsReceiveHost::accountPassword() {
    return Forms::touch<IdPassForm>()->password();
}

QString FormsReceiveHost::partnerAddress() {
    return Forms::touch<BunbetuForm>()->address();
}

QString FormsReceiveHost::receivedCount() {
    return m_main.receivedCountBox()->text();
}

void FormsReceiveHost::setReceivedCount(const QString& text) {
    m_main.receivedCountBox()->setText(text);
}

void FormsReceiveHost::stage(const StagedMail& mail) {
    // The viewer is touched, not shown: while it is open it shows the message stored last.
    TyakuForm* viewer = Forms::touch<TyakuForm>();
    viewer->stageMail(mail.subject, mail.from, mail.date, mail.body);
    viewer->setCountText(QString::number(viewer->listLineCount()));
}

QString FormsReceiveHost::progressText(int number, int total) {
    return QStringLiteral("受信中 %1/%2").arg(number).arg(total);
}

void FormsReceiveHost::progress(int number, int total) {
    QLineEdit* status = m_main.statusLine();
    // A sign of life nobody can see is none: the line shows even when the pointer last
    // passed over the background.
    status->setVisible(true);
    status->setText(progressText(number, total));
    status->repaint();
}

} // namespace kiku
