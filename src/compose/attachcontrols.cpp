#include "compose/attachcontrols.h"

#include "base/filedialogs.h"
#include "base/prompter.h"
#include "base/twips.h"
#include "maillib/mimewriter.h"

#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>

namespace kiku {

namespace {
const QLatin1Char kSeparator(',');
} // namespace

AttachControls::AttachControls(QWidget* window, Window kind)
    : QObject(window), m_window(window), m_kind(kind) {
    m_attachText = new QLineEdit(window);
    m_attachText->setObjectName(QStringLiteral("AttachText"));
    m_attachCommand = new QPushButton(
        kind == Window::Compose ? QStringLiteral("添付File") : QStringLiteral("添付"), window);
    m_attachCommand->setObjectName(QStringLiteral("AttachCommand"));
    m_command9 = new QPushButton(QStringLiteral("追加"), window);
    m_command9->setObjectName(QStringLiteral("Command9"));
    m_command10 = new QPushButton(QStringLiteral("取り消し"), window);
    m_command10->setObjectName(QStringLiteral("Command10"));
    for (QPushButton* button : {m_attachCommand, m_command9, m_command10})
        button->setAutoDefault(false);

    m_list2 = new QListWidget(window);
    m_list2->setObjectName(QStringLiteral("List2"));
    const QRect area = listRectTwips(kind);
    m_list2->setGeometry(twipsRect(area.x(), area.y(), area.width(), area.height()));
    m_list2->hide();
    // The compose window offers "追加" only after a first file; the reply window at once.
    reset();

    connect(m_attachCommand, &QPushButton::clicked, this, &AttachControls::chooseFirst);
    connect(m_command9, &QPushButton::clicked, this, &AttachControls::chooseFurther);
    connect(m_command10, &QPushButton::clicked, this, &AttachControls::discard);
}

QRect AttachControls::listRectTwips(Window kind) {
    return kind == Window::Compose ? QRect(2760, 2280, 3975, 1860) : QRect(1200, 1635, 3975, 1860);
}

bool AttachControls::fitsInList(const QString& path) {
    return !path.isEmpty() && !path.contains(QLatin1Char('\n')) &&
           !path.contains(QLatin1Char('\r')) && !path.contains(QChar(0));
}

QString AttachControls::text() const {
    return m_attachText->text();
}

void AttachControls::chooseFirst() {
    m_command9->setEnabled(true);
    QPointer<AttachControls> self(this);
    const QString path = FileDialogs::current().openFileName(m_window);
    if (!self) // the window closed while the dialog was open
        return;
    if (!path.isEmpty())
        add(path, true);
    m_attachCommand->setEnabled(false);
}

void AttachControls::chooseFurther() {
    m_list2->show();
    if (text().isEmpty())
        return;
    QPointer<AttachControls> self(this);
    const QString path = FileDialogs::current().openFileName(m_window);
    if (self && !path.isEmpty())
        add(path, false);
}

void AttachControls::discard() {
    m_attachText->clear();
    m_list2->clear();
    m_list2->hide();
    m_command9->setEnabled(false);
    m_command10->setEnabled(false);
    m_attachCommand->setEnabled(true);
}

void AttachControls::reset() {
    m_attachText->clear();
    m_list2->clear();
    m_list2->hide();
    m_attachCommand->setEnabled(true);
    m_command9->setEnabled(m_kind == Window::Reply);
    m_command10->setEnabled(true);
}

void AttachControls::resetForSend() {
    m_command9->setEnabled(false);
    m_list2->hide();
    m_attachCommand->setEnabled(true);
}

bool AttachControls::addDroppedFile(const QString& path) {
    const bool first = text().isEmpty();
    if (!add(path, first))
        return false;
    if (first)
        m_attachCommand->setEnabled(false);
    m_command9->setEnabled(true);
    m_list2->show();
    return true;
}

bool AttachControls::add(const QString& path, bool first) {
    // The list is one line of comma-separated paths: a name holding a comma goes in quotes
    // (which the mail library reads back), but a line break cannot live in the line.
    if (!fitsInList(path)) {
        Prompter::current().notify(
            QStringLiteral("ファイル名に改行を含むファイルは添付できません。\n%1").arg(path));
        return false;
    }
    const QString item = mime::joinAttachmentList({path});
    m_attachText->setText(first ? item : text() + kSeparator + item);
    m_list2->addItem(path);
    return true;
}

} // namespace kiku
