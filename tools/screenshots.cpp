// Takes the README's pictures: every window of the program on a demo program folder whose
// servers scripts/demo.py has started, each saved as a PNG. Run by scripts/screenshots.sh.
//   kikushots PROGRAM_FOLDER OUTPUT_FOLDER
#include "base/filedialogs.h"
#include "base/forms.h"
#include "base/messageboxprompter.h"
#include "base/paths.h"
#include "base/pause.h"
#include "compose/attachform.h"
#include "compose/backform.h"
#include "compose/writeform.h"
#include "core/boxviews.h"
#include "core/mainform.h"
#include "settings/bunbetuform.h"
#include "store/mailbox.h"
#include "settings/friendform.h"
#include "settings/idpassform.h"
#include "settings/optionform.h"
#include "settings/setform.h"
#include "viewer/texteditor.h"
#include "viewer/tyakuform.h"

#include <QApplication>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QTimer>
#include <QTreeWidget>

#include <cstdio>

using namespace kiku;

namespace {

// Answers every message box with OK / No, so nothing waits for a hand.
class QuietPrompter : public Prompter {
public:
    bool askYesNo(const QString&) override { return false; }
    void notify(const QString& text, const QString&) override {
        std::fprintf(stderr, "message: %s\n", qPrintable(text));
    }
};

QString s_output;

void settle() {
    for (int i = 0; i < 5; ++i) {
        QCoreApplication::processEvents();
        Pause::wait(20);
    }
}

void save(QWidget* window, const char* name) {
    settle();
    const QString file = s_output + QLatin1Char('/') + QLatin1String(name) + QStringLiteral(".png");
    if (!window->grab().save(file))
        std::fprintf(stderr, "could not save %s\n", qPrintable(file));
    else
        std::printf("%s\n", qPrintable(file));
}

void click(QWidget* target) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(4, 4), target->mapToGlobal(QPointF(4, 4)),
                      Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(4, 4),
                        target->mapToGlobal(QPointF(4, 4)), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(target, &press);
    QCoreApplication::sendEvent(target, &release);
}

void takeAll() {
    MainForm* main = Forms::show<MainForm>();
    main->move(40, 40);
    // Receive the demo mail, and let the hearts beat a few times.
    click(main->boardControl(QStringLiteral("Label7")));
    Pause::wait(1500);
    save(main, "main");

    // The partner in-box in the viewer, its first message shown.
    TyakuForm* viewer = openBoxView(Box::PartnerInbox, main);
    viewer->resize(900, 640);
    if (QTreeWidget* list = viewer->mailList(); list->topLevelItemCount() > 0) {
        list->setCurrentItem(list->topLevelItem(0));
        viewer->showMessage();
    }
    save(viewer, "viewer");
    viewer->editor()->fileMenu()->popup(viewer->mapToGlobal(QPoint(10, 20)));
    save(viewer->editor()->fileMenu(), "editor-file-menu");
    viewer->editor()->fileMenu()->hide();
    viewer->editor()->editMenu()->popup(viewer->mapToGlobal(QPoint(90, 20)));
    save(viewer->editor()->editMenu(), "editor-edit-menu");
    viewer->editor()->editMenu()->hide();

    // The reply to the message shown.
    MailRecord shown;
    Mailbox(Box::PartnerInbox).read(1, shown);
    BackForm* reply = Forms::touch<BackForm>();
    reply->setReply(QStringLiteral("Re:  ") + viewer->subjectText().trimmed(),
                    viewer->addressText().trimmed(), viewer->bodyText().trimmed(), shown.body);
    save(Forms::show<BackForm>(), "reply");
    reply->close();
    viewer->hide();

    // Compose with the address panel open, and the address book.
    FriendForm* book = Forms::show<FriendForm>();
    book->nameBox()->setText(QStringLiteral("花子"));
    book->addressBox()->setText(QStringLiteral("花子 <hanako@kiku.demo>"));
    save(book, "address-book");
    WriteForm* compose = Forms::show<WriteForm>();
    compose->showAddressPanel();
    compose->toText()->setText(QStringLiteral("花子 <hanako@kiku.demo>"));
    compose->subjectText()->setText(QStringLiteral("週末の件"));
    compose->bodyText()->setPlainText(QStringLiteral("こんにちわ。お変わりなく、お元気ですか？\n\n"
                                                     "週末の桜、ぜひ見に行きましょう。"));
    save(compose, "compose");
    compose->close();
    book->close();

    // The attachment browser on the received picture.
    AttachForm* attachments = Forms::show<AttachForm>();
    attachments->setFolder(ProgramFolder::resolve(QStringLiteral("\\添付フォルダ")));
    settle();
    const QList<QListWidgetItem*> found =
        attachments->fileList()->findItems(QStringLiteral("sakura.gif"), Qt::MatchExactly);
    if (!found.isEmpty())
        emit attachments->fileList()->itemClicked(found.first());
    save(attachments, "attachments");
    attachments->hide();

    save(Forms::show<SetForm>(), "settings");
    save(Forms::show<BunbetuForm>(), "partner");
    save(Forms::show<IdPassForm>(), "account");
    save(Forms::show<OptionForm>(), "servers");
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3) {
        std::fputs("usage: kikushots PROGRAM_FOLDER OUTPUT_FOLDER\n", stderr);
        return 2;
    }
    QApplication::setApplicationName(QStringLiteral("KikuMail"));
    ProgramFolder::set(args[1]);
    QDir::setCurrent(args[1]);
    s_output = QDir(args[2]).absolutePath();
    QDir().mkpath(s_output);
    QuietPrompter prompter;
    Prompter::install(&prompter);

    QTimer::singleShot(0, [] {
        takeAll();
        Forms::closeAll();
        QCoreApplication::quit();
    });
    const int result = QApplication::exec();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    Prompter::install(nullptr);
    return result;
}
