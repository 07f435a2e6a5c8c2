#include "core/receivehost.h"

#include "base/forms.h"
#include "core/mainform.h"
#include "settings/bunbetuform.h"
#include "settings/idpassform.h"
#include "viewer/tyakuform.h"

#include <QLineEdit>

namespace kiku {

namespace {

// How often the status line's count is painted while the run holds the event loop.
constexpr qint64 kProgressPaintMs = 100;

} // namespace

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
    m_staged = mail;
}

void FormsReceiveHost::showStagedMail() {
    if (!m_staged)
        return;
    // The viewer is touched, not shown: while it is open it shows the message stored last.
    TyakuForm* viewer = Forms::touch<TyakuForm>();
    viewer->stageMail(m_staged->subject, m_staged->from, m_staged->date, m_staged->body);
    viewer->setCountText(QString::number(viewer->listLineCount()));
    m_staged.reset();
}

QString FormsReceiveHost::progressText(int number, int total) {
    return QStringLiteral("受信中 %1/%2").arg(number).arg(total);
}

void FormsReceiveHost::progress(int number, int total) {
    QLineEdit* status = m_main.statusLine();
    // A sign of life nobody can see is none: the line shows even when the pointer last
    // passed over the background.
    status->setVisible(true);
    // A count that is not painted is never seen: between paints the line is left alone too
    // (setting a text lays it out, which costs as much as storing a small message).
    if (m_sincePaint.isValid() && m_sincePaint.elapsed() < kProgressPaintMs)
        return;
    status->setText(progressText(number, total));
    status->repaint();
    m_sincePaint.start();
}

} // namespace kiku
