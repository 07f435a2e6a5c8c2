// The viewer's message operations: delete one, delete all, move to the storage box, reply,
// register the sender, copy a field and quick save, each acting only on the message on show.
#include "viewer/tyakuform.h"

#include "base/filedialogs.h"
#include "base/forms.h"
#include "base/prompter.h"
#include "base/text.h"
#include "compose/backform.h"
#include "settings/friendform.h"
#include "exchange/wholemessage.h"
#include "viewer/quicksave.h"

#include <QClipboard>
#include <QDialog>
#include <QFileInfo>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QSaveFile>
#include <QScopeGuard>
#include <QTextEdit>
#include <QVBoxLayout>

namespace kiku {

namespace {

const QString kNotSelected = QStringLiteral("データが選択されていません");
const QString kShownWasNotSelected = QStringLiteral(
    "表示されていたメールは選択された行のメールではなかったため、何もしませんでした。"
    "選択された行のメールを表示しました。内容を確かめてから、もう一度実行して下さい。");
const QString kDeleteOneQuestion =
    QStringLiteral("選択された（行、青色）データを削除します。よろしいですか");
const QString kDeleteAllQuestion = QStringLiteral("すべてのデータを削除して良いですか？");
const QString kMoveQuestion =
    QStringLiteral("選択された（行、青色）データを移します。よろしいですか");
const QString kMoveOnlyOthers =
    QStringLiteral("「その他」に格納されたメール以外はこの操作は出来ません。");
const QString kOverwriteQuestion =
    QStringLiteral("同名のファイルが既に存在します。上書きしますか？ ");
const QString kNoQuickSaveFolder =
    QStringLiteral("保存先のフォルダ ■TextQuickSave がありません。本ソフトのフォルダに"
                   "「■TextQuickSave」フォルダを作ってからやり直して下さい。");

} // namespace

// The message operations

bool TyakuForm::requireSelection() {
    // The flag alone is not enough: another box may have been listed since, which leaves no
    // line selected.
    if (m_messageSelected && selectedLine() > 0 && currentBox())
        return true;
    Prompter::current().notify(kNotSelected);
    return false;
}

bool TyakuForm::confirmShownIsSelected() {
    const int number = selectedLine();
    if (stagingShowsSelection()) {
        // The box may have changed under the view since the message was read.
        MailRecord record;
        const StoreResult read = Mailbox(*currentBox()).read(number, record);
        if (!read) {
            Prompter::current().notify(read.error);
            return false;
        }
        if (record == m_shown.record)
            return true;
    }
    if (showLine(number))
        Prompter::current().notify(kShownWasNotSelected);
    return false;
}

void TyakuForm::showAgain(Box box) {
    showRecord(recordBuffer(box), m_shown.line);
}

void TyakuForm::deleteOne() {
    if (!requireSelection() || !confirmShownIsSelected())
        return;
    const Box box = *currentBox();
    const int number = selectedLine();
    const QPointer<TyakuForm> self(this);
    const bool yes = Prompter::current().askYesNo(kDeleteOneQuestion);
    if (!self)
        return;
    m_rtfEd->setFocus();
    if (!yes) {
        m_messageSelected = false;
        m_rtfEd->clear();
        return;
    }
    // The question let events through: the answer holds only for the message it was about.
    if (currentBox() != box || selectedLine() != number || !confirmShownIsSelected())
        return;
    m_messageSelected = false;
    clearStaging();
    const StoreResult removed = Mailbox(box).remove(number);
    if (!removed) {
        Prompter::current().notify(removed.error);
        if (self)
            showAgain(box);
        return;
    }
    if (!removed.notice.isEmpty())
        Prompter::current().notify(removed.notice);
    if (self)
        fillList(box);
}

void TyakuForm::deleteAll() {
    const std::optional<Box> box = currentBox();
    if (!box) // no box on show: nothing to delete
        return;
    const QPointer<TyakuForm> self(this);
    const bool yes = Prompter::current().askYesNo(kDeleteAllQuestion);
    if (!self || !yes)
        return;
    const StoreResult removed = Mailbox(*box).removeAll();
    if (!removed) {
        Prompter::current().notify(removed.error);
        return;
    }
    if (!removed.notice.isEmpty())
        Prompter::current().notify(removed.notice);
    if (self)
        fillList(*box);
}

void TyakuForm::moveToStorage() {
    // Moving takes messages out of the others in-box alone; any other box on show keeps
    // its messages, whatever state the button was left in.
    if (currentBox() != Box::OthersInbox) {
        Prompter::current().notify(kMoveOnlyOthers);
        return;
    }
    if (!requireSelection() || !confirmShownIsSelected())
        return;
    const int number = selectedLine();
    const QPointer<TyakuForm> self(this);
    const bool yes = Prompter::current().askYesNo(kMoveQuestion);
    if (!self || !yes)
        return;
    if (currentBox() != Box::OthersInbox || selectedLine() != number || !confirmShownIsSelected())
        return;
    // The message as the window shows it.
    MailRecord message;
    message.subject = trimSpaces(subjectText());
    message.from = trimSpaces(addressText());
    message.date = trimSpaces(dateText());
    message.body = trimSpaces(bodyText());
    m_messageSelected = false;
    clearStaging();
    // Stored in the storage box first, then taken out of the in-box: a failure on the way
    // never loses the message.
    int storageNumber = 0;
    const StoreResult moved = kiku::moveToStorage(number, message, &storageNumber);
    if (!moved) {
        Prompter::current().notify(moved.error);
        if (!self)
            return;
        // Stored but still in the in-box: the list shows the in-box as it is.
        if (storageNumber > 0)
            fillList(Box::OthersInbox);
        else
            showAgain(Box::OthersInbox);
        return;
    }
    if (!moved.notice.isEmpty())
        Prompter::current().notify(moved.notice);
    if (self)
        fillList(Box::OthersInbox);
}

void TyakuForm::reply() {
    if (!requireSelection() || !confirmShownIsSelected())
        return;
    m_rtfEd->setFocus();
    m_messageSelected = false;
    const QString subject = QStringLiteral("Re:  ") + trimSpaces(subjectText());
    const QString recipient = trimSpaces(addressText());
    const QString body = trimSpaces(bodyText());
    const QString replied = recordBuffer(*currentBox()).body;
    // An open reply the user has worked on is only replaced when they say so; its question
    // lets events through, which may close the window meanwhile.
    const QPointer<BackForm> form = Forms::touch<BackForm>();
    form->setReply(subject, recipient, body, replied);
    if (form)
        Forms::show<BackForm>();
}

void TyakuForm::registerSender() {
    if (!requireSelection() || !confirmShownIsSelected())
        return;
    m_rtfEd->setFocus();
    m_messageSelected = false;
    FriendForm* book = Forms::touch<FriendForm>();
    book->addressBox()->setText(addressText()); // as shown, not trimmed
    Forms::show<FriendForm>();
}

void TyakuForm::copyField() {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(m_copyStagingBox->text());
}

void TyakuForm::quickSave() {
    if (m_operating)
        return;
    m_operating = true;
    const QPointer<TyakuForm> self(this);
    const auto done = qScopeGuard([self] {
        if (self)
            self->m_operating = false;
    });
    runQuickSave();
}

void TyakuForm::runQuickSave() {
    if (!requireSelection() || !confirmShownIsSelected())
        return;
    m_rtfEd->setFocus();
    m_messageSelected = false;

    const QString subject = subjectText();
    const QString from = addressText();
    const QString date = dateText();
    const QString body = bodyText();
    const QString folder = quicksave::folder();
    if (folder.isEmpty()) {
        Prompter::current().notify(kNoQuickSaveFolder);
        return;
    }
    const QString path = folder + QLatin1Char('/') + quicksave::fileName(subject);

    QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    const QFileInfo existing(path);
    const bool exists = existing.exists() || existing.isSymLink();
    QGuiApplication::restoreOverrideCursor();
    if (exists) {
        const QPointer<TyakuForm> self(this);
        const bool yes = Prompter::current().askYesNo(kOverwriteQuestion);
        if (!self || !yes)
            return;
    }

    const QString text = quicksave::text(subject, from, date, body);
    QString error;
    if (!quicksave::write(path, text, &error)) {
        Prompter::current().notify(error);
        return;
    }
    setBodyText(text);
}

std::optional<QByteArray> TyakuForm::selectedWholeMessage() {
    const int number = selectedLine();
    if (number <= 0 || !currentBox()) {
        Prompter::current().notify(kNotSelected);
        return std::nullopt;
    }
    MailRecord record;
    QByteArray bytes;
    StoreResult r = Mailbox(*currentBox()).read(number, record);
    if (r)
        r = wholeMessage(record, *currentBox(), bytes);
    if (!r) {
        Prompter::current().notify(r.error);
        return std::nullopt;
    }
    return bytes;
}

void TyakuForm::showWholeMessage() {
    const std::optional<QByteArray> bytes = selectedWholeMessage();
    if (!bytes)
        return;
    auto* dialog = new QDialog(this);
    dialog->setObjectName(QStringLiteral("WholeMessageDialog"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowTitle(QStringLiteral("全文を表示"));
    auto* text = new QPlainTextEdit(dialog);
    text->setObjectName(QStringLiteral("WholeMessageText"));
    text->setReadOnly(true);
    text->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    QString readable = readableMessage(*bytes);
    readable.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text->setPlainText(readable);
    auto* layout = new QVBoxLayout(dialog);
    layout->addWidget(text);
    dialog->resize(width() * 3 / 4, height() * 3 / 4);
    dialog->show();
}

void TyakuForm::saveAsEml() {
    const std::optional<QByteArray> bytes = selectedWholeMessage();
    if (!bytes)
        return;
    const QPointer<TyakuForm> self(this);
    const std::optional<QString> path =
        FileDialogs::current().saveTextFileName(this, QStringLiteral("メール (*.eml)"));
    if (!self || !path)
        return;
    QSaveFile file(*path);
    if (!file.open(QIODevice::WriteOnly) || file.write(*bytes) != bytes->size() || !file.commit())
        Prompter::current().notify(
            QStringLiteral("%1 に保存できません: %2").arg(*path, file.errorString()));
}

} // namespace kiku
