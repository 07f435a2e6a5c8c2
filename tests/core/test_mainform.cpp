// The main window board: start-up and shutdown, hover hints, picture buttons (by mouse, by
// keyboard and for screen readers), the window registry and the message-box prompter.
#include "base/forms.h"
#include "base/messageboxprompter.h"
#include "base/pause.h"
#include "base/twips.h"
#include "compose/writeform.h"
#include "core/helpform.h"
#include "core/mainform.h"
#include "guitest.h"
#include "recordingserver.h"
#include "scriptedprompter.h"
#include "settings/friendform.h"
#include "settings/idpassform.h"
#include "settings/optionform.h"
#include "settings/serversettings.h"
#include "store/mailbox.h"
#include "temphome.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QApplication>
#include <QBuffer>
#include <QDateTime>
#include <QDesktopServices>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <QtTest>

#include <memory>

using namespace kiku;
using namespace kiku::test;

namespace {

// A picture file of one colour. Qt cannot write GIF, and it reads a picture by its content
// whatever the file is called, so PNG data under the board's file names serves.
QByteArray pictureBytes(const QColor& colour, int width = 60, int height = 60) {
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

QRgb firstPixel(const QLabel* picture) {
    const QImage image = picture->pixmap().toImage();
    return image.isNull() ? 0 : image.pixel(0, 0);
}

// Receives the URLs the program asks the desktop to open.
class UrlCatcher : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened.append(url); }
};

} // namespace

class TestMainForm : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempHome> m_home;

    const test::TempHome& home() const { return *m_home; }
    // A configured account and servers, so start-up opens no dialog.
    void configure() const {
        // Loopback only: the receive button really connects (a closed port fails at once).
        home().writeFile("zadiru.ini", "SMTP=127.0.0.1:1\r\nPOP3=127.0.0.1:1\r\n");
        writeAccount(home(), "user", "secret");
    }
    MainForm* start() const { return Forms::show<MainForm>(); }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }

    void init() {
        m_home = std::make_unique<test::TempHome>();
        ServerSettings::current() = {};
    }

    void cleanup() {
        closeAllWindows();
        QVERIFY(Forms::openWindows().isEmpty());
        m_home.reset();
    }

    void startUpOpensServerWindowWithoutPop3_data() {
        QTest::addColumn<QByteArray>("zadiru");
        QTest::addColumn<bool>("opened");
        QTest::newRow("no file") << QByteArray() << true;
        QTest::newRow("SMTP only")
            << QByteArray("SMTP=smtp.example\r\nMAIL=me@example.jp\r\n") << true;
        QTest::newRow("empty POP3") << QByteArray("SMTP=smtp.example\r\nPOP3=\r\n") << true;
        QTest::newRow("POP3 set") << QByteArray("POP3=pop.example\r\n") << false;
    }
    void startUpOpensServerWindowWithoutPop3() {
        QFETCH(QByteArray, zadiru);
        QFETCH(bool, opened);
        if (!zadiru.isEmpty())
            home().writeFile("zadiru.ini", zadiru);
        writeAccount(home(), "user", "secret");
        start();
        OptionForm* options = Forms::existing<OptionForm>();
        QCOMPARE(options != nullptr && options->isVisible(), opened);
        QCOMPARE(ServerSettings::current().pop3Server.isEmpty(), opened);
        if (opened)
            QVERIFY(options->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    }

    void startUpOpensAccountWindowWhenHalfMissing_data() {
        QTest::addColumn<QByteArray>("id");
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<bool>("shown");
        QTest::newRow("both empty") << QByteArray() << QByteArray() << true;
        QTest::newRow("no password") << QByteArray("user") << QByteArray() << true;
        QTest::newRow("no id") << QByteArray() << QByteArray("secret") << true;
        QTest::newRow("both set") << QByteArray("user") << QByteArray("secret") << false;
    }
    void startUpOpensAccountWindowWhenHalfMissing() {
        QFETCH(QByteArray, id);
        QFETCH(QByteArray, password);
        QFETCH(bool, shown);
        home().writeFile("zadiru.ini", "POP3=pop.example\r\n");
        writeAccount(home(), id, password);
        start();
        // Touched in every case: the receive cycle reads its boxes.
        IdPassForm* account = Forms::existing<IdPassForm>();
        QVERIFY(account);
        QCOMPARE(account->isVisible(), shown);
        QCOMPARE(account->userId(), QString::fromLatin1(id));
        QCOMPARE(account->password(), QString::fromLatin1(password));
        QVERIFY(!Forms::existing<OptionForm>());
    }

    void firstRunOpensBothDialogsBesideTheBoard() {
        MainForm* form = start();
        QVERIFY(form->isVisible());
        QVERIFY(Forms::existing<OptionForm>()->isVisible());
        QVERIFY(Forms::existing<IdPassForm>()->isVisible());
        // Neither dialog is modal: the board keeps taking input.
        QVERIFY(!QApplication::activeModalWidget());
    }

    void countersComeFromTheCounterFile() {
        configure();
        home().writeFile("\\★MailData\\iniCuntUp.ini", "[EXEINI]\r\nNAME=57\r\n");
        MainForm* form = start();
        QCOMPARE(form->receivedCountBox()->text(), QStringLiteral("57"));
        QCOMPARE(form->sentCountBox()->text(), QString());
        QCOMPARE(child<QLineEdit>(form, "Text1"), form->receivedCountBox());
        QCOMPARE(child<QLineEdit>(form, "Text2"), form->sentCountBox());
    }

    void boardIsLaidOutAsDesigned() {
        configure();
        MainForm* form = start();
        QCOMPARE(form->windowTitle(), QStringLiteral("Kiku Lanternway　Ver 1.35"));
        QCOMPARE(form->width(), 617);
        QVERIFY(form->height() > 356);

        for (int i = 1; i <= 5; ++i)
            QVERIFY(form->findChild<QLineEdit*>(QStringLiteral("Text%1").arg(i)));
        for (int i = 1; i <= 20; ++i) {
            if (i != 11) // there is no Label11 on the board
                QVERIFY2(form->boardControl(QStringLiteral("Label%1").arg(i)),
                         qPrintable(QString::number(i)));
        }
        for (int i = 3; i <= 19; ++i)
            QVERIFY2(form->boardControl(QStringLiteral("Image%1").arg(i)),
                     qPrintable(QString::number(i)));
        QCOMPARE(form->boardControl("Picture1")->geometry(), QRect(0, 0, 617, 356));

        // Each picture button lies exactly under its caption label.
        const struct {
            const char* label;
            const char* picture;
            QRect rect;
        } buttons[] = {
            {"Label7", "Image10", QRect(8, 131, 60, 60)},
            {"Label6", "Image7", QRect(8, 64, 60, 60)},
            {"Label8", "Image11", QRect(8, 197, 60, 60)},
            {"Label9", "Image12", QRect(8, 264, 60, 60)},
            {"Label17", "Image18", QRect(464, 256, 60, 60)},
            {"Label16", "Image17", QRect(123, 88, 60, 60)},
            {"Label18", "Image19", QRect(64, 264, 60, 60)},
            {"Label10", "Image13", QRect(552, 64, 60, 60)},
            {"Label12", "Image14", QRect(552, 132, 60, 60)},
            {"Label13", "Image15", QRect(556, 197, 60, 60)},
            {"Label14", "Image16", QRect(555, 264, 60, 60)},
        };
        for (const auto& b : buttons) {
            QCOMPARE(form->boardControl(b.label)->geometry(), b.rect);
            QCOMPARE(form->boardControl(b.picture)->geometry(), b.rect);
        }
        QCOMPARE(form->boardControl("Image3")->geometry(), twipsRect(3360, 2280, 300, 150));
        QCOMPARE(form->boardControl("Image4")->geometry(), twipsRect(4680, 2760, 300, 150));
        QCOMPARE(form->boardControl("Label3")->text(), QStringLiteral("Heart  of  Scale"));
        QCOMPARE(form->boardControl("Label3")->geometry(), twipsRect(2040, 3000, 2415, 375));

        // The landing pictures wait for the end of a heart tick; the flying ones are out.
        QVERIFY(form->boardControl("Image8")->isHidden());
        QVERIFY(form->boardControl("Image9")->isHidden());
        QVERIFY(!form->boardControl("Image5")->isHidden());
        QVERIFY(!form->boardControl("Image6")->isHidden());
        QVERIFY(form->workBox()->isHidden());
        QVERIFY(form->clockBox()->geometry().top() >= 356);

        QCOMPARE(form->statusLine()->palette().color(QPalette::Text), MainForm::statusRed());
        QCOMPARE(form->clockTimer()->interval(), 1000);
        QCOMPARE(form->receivedHeartTimer()->interval(), 500);
        QCOMPARE(form->sentHeartTimer()->interval(), 500);
        for (QTimer* timer :
             {form->clockTimer(), form->receivedHeartTimer(), form->sentHeartTimer()})
            QVERIFY(timer->isActive());
    }

    void missingPicturesLeaveEmptyControls() {
        configure();
        QDir(home().file("Data")).removeRecursively();
        MainForm* form = start();
        QVERIFY(form->boardControl("Image10")->pixmap().isNull());
        QVERIFY(form->boardControl("Picture1")->pixmap().isNull());
        // The buttons still work without their pictures.
        QTest::mouseClick(form->boardControl("Label7"), Qt::LeftButton);
        QVERIFY(form->boardControl("Image10")->pixmap().isNull());
    }

    void clockShowsTheDateAndTime() {
        configure();
        MainForm* form = start();
        QVERIFY(form->clockBox()->text().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(!form->clockBox()->text().isEmpty(), 3000);
        const QDateTime now = QDateTime::currentDateTime();
        const QStringList recent = {MainForm::clockText(now), MainForm::clockText(now.addSecs(-1)),
                                    MainForm::clockText(now.addSecs(-2))};
        QVERIFY2(recent.contains(form->clockBox()->text()), qPrintable(form->clockBox()->text()));
        // The text carries the date as well as the time.
        QVERIFY(form->clockBox()->text().startsWith(
                    QLocale::system().toString(now.date(), QLocale::ShortFormat)) ||
                now.time() < QTime(0, 0, 3));
    }

    void hoverHintsShareOneStatusLine() {
        configure();
        MainForm* form = start();
        QLineEdit* status = form->statusLine();
        const struct {
            const char* over;
            const char* text; // nullptr: the background, text kept from before
            QColor colour;
            bool visible;
        } steps[] = {
            {"Label9", "特定の相手以外のメールの着信履歴。（Ctrl+2）", MainForm::statusBlue(),
             true},
            {"Label7", "新着メールの受信を行います。（Ctrl+R）", MainForm::statusBlue(), true},
            {"Picture1", nullptr, MainForm::statusRed(), false},
            {"Label18", "■特定の相手以外のメールの保管箱■（Ctrl+5）", MainForm::statusBlue(), true},
            {"Picture1", nullptr, MainForm::statusRed(), false},
            {"Image3", "成長し・・・大きな１個に融合♪", MainForm::statusRed(), true},
            {"Label14", "ID,Pass、サーバーの設定を行います。（Ctrl+O）", MainForm::statusRed(),
             true},
            {"Label5", "作者のホームページです。（Ctrl+H）", MainForm::statusRed(), true},
        };
        QString lastText;
        for (const auto& step : steps) {
            QWidget* target = form->boardControl(QLatin1String(step.over));
            QTest::mouseMove(target, target->rect().center());
            const QString expected = step.text ? QString::fromUtf8(step.text) : lastText;
            QCOMPARE(status->text(), expected);
            QCOMPARE(status->palette().color(QPalette::Text), step.colour);
            QCOMPARE(status->isVisible(), step.visible);
            lastText = expected;
        }
        QTest::mouseMove(form->receivedCountBox(), QPoint(5, 5));
        QCOMPARE(status->text(),
                 QStringLiteral("カウント数でハートが成長、消滅することも・・・。"));
        QVERIFY(status->isVisible());
    }

    void pictureButtonsFlashThenRest_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("file");
        QTest::newRow("receive") << "Label7"
                                 << "Image10"
                                 << "R.gif";
        QTest::newRow("compose") << "Label6"
                                 << "Image7"
                                 << "New.gif";
        QTest::newRow("address book") << "Label10"
                                      << "Image13"
                                      << "Ad.gif";
        QTest::newRow("attachments") << "Label12"
                                     << "Image14"
                                     << "At.gif";
        QTest::newRow("partner") << "Label13"
                                 << "Image15"
                                 << "D.gif";
        QTest::newRow("settings") << "Label14"
                                  << "Image16"
                                  << "O.gif";
    }
    void pictureButtonsFlashThenRest() {
        QFETCH(QString, label);
        QFETCH(QString, picture);
        QFETCH(QString, file);
        configure();
        const QColor resting(10, 200, 30);
        const QColor pressed(250, 5, 5);
        home().writeFile("\\Data\\" + file, pictureBytes(resting));
        home().writeFile("\\Data\\BotanHenka.gif", pictureBytes(pressed));
        MainForm* form = start();
        QLabel* image = form->boardControl(picture);
        QCOMPARE(firstPixel(image), resting.rgb());

        // Sampled while the button pauses: the pause lets queued calls run.
        QRgb during = 0;
        QTimer::singleShot(0, this, [&] { during = firstPixel(image); });
        QTest::mouseClick(form->boardControl(label), Qt::LeftButton);
        QCOMPARE(during, pressed.rgb());
        QCOMPARE(firstPixel(image), resting.rgb());
    }

    void composeAndAddressBookOpenModelessOnce() {
        configure();
        MainForm* form = start();
        QTest::mouseClick(form->boardControl("Label6"), Qt::LeftButton);
        WriteForm* compose = Forms::existing<WriteForm>();
        QVERIFY(compose && compose->isVisible() && !compose->isModal());
        QTest::mouseClick(form->boardControl("Label10"), Qt::LeftButton);
        FriendForm* book = Forms::existing<FriendForm>();
        QVERIFY(book && book->isVisible() && !book->isModal());

        // Pressed again, each window is brought up as it stands, not opened a second time.
        compose->subjectText()->setText(QStringLiteral("書きかけ"));
        QTest::mouseClick(form->boardControl("Label6"), Qt::LeftButton);
        QTest::mouseClick(form->boardControl("Label10"), Qt::LeftButton);
        QCOMPARE(Forms::existing<WriteForm>(), compose);
        QCOMPARE(compose->subjectText()->text(), QStringLiteral("書きかけ"));
        QCOMPARE(Forms::existing<FriendForm>(), book);
    }

    void helpMinimiseAndHomePage() {
        configure();
        MainForm* form = start();

        QTest::mouseClick(form->boardControl("Label20"), Qt::LeftButton);
        HelpForm* help = Forms::existing<HelpForm>();
        QVERIFY(help && help->isVisible());
        QCOMPARE(help->windowTitle(), QStringLiteral("Help"));
        QVERIFY(help->findChild<QLabel*>()->text() == QStringLiteral("メールデータの流れ"));
        QTest::mouseClick(form->boardControl("Label20"), Qt::LeftButton);
        QCOMPARE(Forms::existing<HelpForm>(), help);

        // "HP": the home page shipped in Data, in the user's browser; said plainly when the
        // page is not there.
        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        test::ScriptedPrompter prompter;
        QTest::mouseClick(form->boardControl("Label5"), Qt::LeftButton);
        QVERIFY(catcher.opened.isEmpty());
        QCOMPARE(prompter.shown().size(), 1);
        home().writeFile("\\Data\\KikuMail.html", "<html></html>");
        QTest::mouseClick(form->boardControl("Label5"), Qt::LeftButton);
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(catcher.opened,
                 QList<QUrl>{QUrl::fromLocalFile(home().file("Data/KikuMail.html"))});
        QCOMPARE(prompter.shown().size(), 1);

        QTest::mouseClick(form->boardControl("Label19"), Qt::LeftButton);
        QVERIFY(form->windowState().testFlag(Qt::WindowMinimized));
    }

    // Mail dropped onto the window comes in as received mail: sorted, counted on the board,
    // and told; the same drop again adds nothing.
    void droppedMailIsTakenInOnce() {
        writeAccount(home(), "user", "pw");
        home().writeFile("\\★MailData\\iniIdPass2.ini", "[EXEINI]\r\nNAME=p@example.jp\r\n");
        home().writeFile("in.mbox", "From x Tue Dec  1 10:00:00 2026\nFrom: p@example.jp\n"
                                    "Subject: one\n\nbody\n\nFrom x Tue Dec  1 10:00:00 2026\n"
                                    "From: a@example.jp\nSubject: two\n\nbody\n");
        MainForm* form = start();
        QVERIFY(form->acceptDrops());
        test::ScriptedPrompter prompter;
        for (const char* said : {"2 通を取り込みました", "0 通を取り込みました（取り込み済みの 2 通"}) {
            prompter.clear();
            form->importMail({home().file("in.mbox")});
            QCOMPARE(prompter.texts().size(), 1);
            QVERIFY2(prompter.texts()[0].contains(QString::fromUtf8(said)),
                     qPrintable(prompter.texts()[0]));
            QCOMPARE(form->receivedCountBox()->text(), QStringLiteral("1"));
        }
        int partner = 0, others = 0;
        QVERIFY(Mailbox(Box::PartnerInbox).count(partner).ok);
        QVERIFY(Mailbox(Box::OthersInbox).count(others).ok);
        QCOMPARE(partner + others * 10, 11);
    }

    void registryKeepsOneWindowOfEachType() {
        writeAccount(home(), "stored", "pw");

        IdPassForm* touched = Forms::touch<IdPassForm>();
        QVERIFY(touched->isHidden());
        QCOMPARE(Forms::touch<IdPassForm>(), touched);

        IdPassForm* shown = Forms::show<IdPassForm>();
        QCOMPARE(shown, touched);
        QVERIFY(shown->isVisible());

        // Showing an open window again brings it up as it stands, without reloading it.
        shown->idBox()->setText("typed");
        QCOMPARE(Forms::show<IdPassForm>(), shown);
        QCOMPARE(shown->userId(), QStringLiteral("typed"));

        // A closed window is forgotten at once, even before Qt deletes it.
        QPointer<IdPassForm> old(shown);
        shown->close();
        IdPassForm* fresh = Forms::touch<IdPassForm>();
        QVERIFY(fresh != old.data());
        QCOMPARE(fresh->userId(), QStringLiteral("stored"));
        QVERIFY(fresh->isHidden());
        flushDeletes();
        QVERIFY(!old);
        QCOMPARE(Forms::existing<IdPassForm>(), fresh);

        // Types added later need nothing from the registry.
        QVERIFY(!Forms::existing<HelpForm>());
        QVERIFY(Forms::show<HelpForm>()->isVisible());
        QCOMPARE(Forms::openWindows().size(), 2);
    }

    void closingTheBoardEndsTheProgram() {
        MainForm* form = start(); // first run: both dialogs open
        QPointer<MainForm> board(form);
        QPointer<OptionForm> options(Forms::existing<OptionForm>());
        QPointer<IdPassForm> account(Forms::existing<IdPassForm>());
        QPointer<HelpForm> help(Forms::show<HelpForm>());
        QVERIFY(form->mailLibrary().initialised());
        QCOMPARE(form->mailLibrary().headerBufferSize(), 8192);
        const QByteArray zadiruBefore = home().readFile("zadiru.ini");

        QVERIFY(form->close());
        QVERIFY(board); // deleted on the next pass of the event loop
        QVERIFY(!form->mailLibrary().initialised());
        QVERIFY(!form->clockTimer()->isActive());
        flushDeletes();
        QVERIFY(!board);
        QVERIFY(!options);
        QVERIFY(!account);
        QVERIFY(!help);
        QVERIFY(Forms::openWindows().isEmpty());
        // Nothing is written at shutdown.
        QCOMPARE(home().readFile("zadiru.ini"), zadiruBefore);
        QVERIFY(!QFile::exists(home().file("\\★MailData\\iniIdPass.ini")));
        QVERIFY(!QFile::exists(home().file("\\★MailData\\iniCuntUp.ini")));
    }

    void messageBoxesAskAndNotify_data() {
        QTest::addColumn<bool>("question");
        QTest::addColumn<QString>("title");
        QTest::addColumn<int>("press");
        QTest::addColumn<QString>("expectedTitle");
        QTest::addColumn<int>("expectedButtons");
        QTest::addColumn<bool>("expectedAnswer");
        const int yesNo = int(QMessageBox::Yes | QMessageBox::No);
        QTest::newRow("yes") << true << QString() << int(QMessageBox::Yes) << "確認" << yesNo
                             << true;
        QTest::newRow("no") << true << QString() << int(QMessageBox::No) << "確認" << yesNo
                            << false;
        QTest::newRow("notice, default title") << false << QString() << int(QMessageBox::Ok)
                                               << "KikuMail" << int(QMessageBox::Ok) << false;
        QTest::newRow("notice, own title") << false << "エラー" << int(QMessageBox::Ok) << "エラー"
                                           << int(QMessageBox::Ok) << false;
    }
    void messageBoxesAskAndNotify() {
        QFETCH(bool, question);
        QFETCH(QString, title);
        QFETCH(int, press);
        QFETCH(QString, expectedTitle);
        QFETCH(int, expectedButtons);
        QFETCH(bool, expectedAnswer);

        QString seenTitle;
        QString seenText;
        int seenButtons = 0;
        QMessageBox::Icon seenIcon = QMessageBox::NoIcon;
        QTimer::singleShot(0, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(box);
            seenTitle = box->windowTitle();
            seenText = box->text();
            seenButtons = int(box->standardButtons());
            seenIcon = box->icon();
            box->button(QMessageBox::StandardButton(press))->click();
        });
        MessageBoxPrompter prompter;
        bool answer = false;
        if (question)
            answer = prompter.askYesNo(QStringLiteral("削除しますか？"));
        else
            prompter.notify(QStringLiteral("お知らせ"), title);
        QCOMPARE(seenTitle, expectedTitle);
        QCOMPARE(seenText,
                 question ? QStringLiteral("削除しますか？") : QStringLiteral("お知らせ"));
        QCOMPARE(seenButtons, expectedButtons);
        QCOMPARE(seenIcon, question ? QMessageBox::Question : QMessageBox::NoIcon);
        QCOMPARE(answer, expectedAnswer);
    }

    // Every command label of the board, pressed by the mouse, by Enter or Space once it has
    // the focus, and by its shortcut: its hover text (the shortcut in it), what a screen
    // reader is told, and its command, run once.
    void everyLabelHintAndCommand_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("hint");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QKeySequence>("shortcut");
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("press");
        const struct {
            const char* label;
            const char* hint;
            const char* name;
            QKeySequence shortcut;
            const char* window; // the window the press shows; "" for none
        } rows[] = {
            {"Label7", "新着メールの受信を行います。", "新着メールの受信を行います",
             Qt::CTRL | Qt::Key_R, ""},
            {"Label6", "メールの新規作成、送信を行います。", "メールの新規作成、送信を行います",
             Qt::CTRL | Qt::Key_N, "WriteForm"},
            {"Label8", "特定の相手以外へのメールの送信履歴。", "特定の相手以外へのメールの送信履歴",
             Qt::CTRL | Qt::Key_4, "TyakuForm"},
            {"Label9", "特定の相手以外のメールの着信履歴。", "特定の相手以外のメールの着信履歴",
             Qt::CTRL | Qt::Key_2, "TyakuForm"},
            {"Label17", "特定の相手からのメールが保管されています。",
             "特定の相手からのメールが保管されています", Qt::CTRL | Qt::Key_1, "TyakuForm"},
            {"Label16", "特定の相手への送信履歴が保管されています。",
             "特定の相手への送信履歴が保管されています", Qt::CTRL | Qt::Key_3, "TyakuForm"},
            {"Label18", "■特定の相手以外のメールの保管箱■", "特定の相手以外のメールの保管箱",
             Qt::CTRL | Qt::Key_5, "TyakuForm"},
            {"Label10", "メールアドレスの登録を行います。", "メールアドレスの登録を行います",
             Qt::CTRL | Qt::Key_B, "FriendForm"},
            {"Label12", "ファイルを「見る」、「実行」を行います。",
             "ファイルを「見る」、「実行」を行います", Qt::CTRL | Qt::Key_T, "AttachForm"},
            {"Label13", "特定の相手のアドレスを登録。", "特定の相手のアドレスを登録",
             Qt::CTRL | Qt::Key_D, "BunbetuForm"},
            {"Label14", "ID,Pass、サーバーの設定を行います。", "ID,Pass、サーバーの設定を行います",
             Qt::CTRL | Qt::Key_O, "SetForm"},
            {"Label20", "メールの送受信データの流れの説明です。",
             "メールの送受信データの流れの説明です", Qt::Key_F1, "HelpForm"},
            {"Label19", "フォームを最小化します。", "フォームを最小化します", Qt::CTRL | Qt::Key_M,
             ""},
            {"Label5", "作者のホームページです。", "作者のホームページです", Qt::CTRL | Qt::Key_H,
             ""},
        };
        for (const auto& row : rows) {
            for (const char* press : {"click", "Enter", "Space", "shortcut"}) {
                QTest::addRow("%s %s", row.label, press)
                    << row.label << QString::fromUtf8(row.hint) << QString::fromUtf8(row.name)
                    << row.shortcut << row.window << press;
            }
        }
    }
    void everyLabelHintAndCommand() {
        QFETCH(QString, label);
        QFETCH(QString, hint);
        QFETCH(QString, name);
        QFETCH(QKeySequence, shortcut);
        QFETCH(QString, window);
        QFETCH(QString, press);
        RecordingServer pop3("-ERR not now\r\n");
        home().writeFile("zadiru.ini",
                         "POP3=127.0.0.1:" + QByteArray::number(pop3.port()) + "\r\n");
        writeAccount(home(), "user", "secret");
        test::ScriptedPrompter prompter;
        MainForm* form = start();
        form->receivedHeartTimer()->stop();
        form->sentHeartTimer()->stop();
        QApplication::setActiveWindow(form);
        QVERIFY(QTest::qWaitForWindowActive(form));
        QLabel* target = form->boardControl(label);
        const QString shown =
            hint + QStringLiteral("（") + shortcut.toString() + QStringLiteral("）");
        QTest::mouseMove(target, target->rect().center());
        QCOMPARE(form->statusLine()->text(), shown);

        QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(target);
        QVERIFY(reader);
        QCOMPARE(reader->role(), QAccessible::Button);
        QCOMPARE(reader->text(QAccessible::Name), name);
        QCOMPARE(reader->text(QAccessible::Description), shown);
        QVERIFY(reader->state().focusable);

        UrlCatcher catcher;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &catcher, "open");
        if (press == QLatin1String("click")) {
            QTest::mouseClick(target, Qt::LeftButton);
        } else if (press == QLatin1String("shortcut")) {
            QTest::keySequence(form, shortcut);
        } else {
            target->setFocus();
            QCOMPARE(QApplication::focusWidget(), target);
            QTest::keyClick(target,
                            press == QLatin1String("Enter") ? Qt::Key_Return : Qt::Key_Space);
        }
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QStringList windows;
        for (QWidget* open : Forms::openWindows()) {
            if (open != form && open->isVisible())
                windows << QString::fromLatin1(open->metaObject()->className()).section("::", -1);
        }
        QCOMPARE(windows, window.isEmpty() ? QStringList() : QStringList{window});
        // The commands without a window of their own ran once too.
        if (label == QLatin1String("Label7"))
            QCOMPARE(pop3.connections(), 1);
        if (label == QLatin1String("Label19"))
            QVERIFY(form->isMinimized());
        if (label == QLatin1String("Label5")) // the page, or the notice that it is missing
            QCOMPARE(catcher.opened.size() + prompter.shown().size(), 1);
    }

    // Tab walks the board column by column and back again; every control on the way and the
    // status line have a name and a description for screen readers.
    void tabWalksTheBoard() {
        configure();
        MainForm* form = start();
        QApplication::setActiveWindow(form);
        QVERIFY(QTest::qWaitForWindowActive(form));
        const QStringList order{"Label6",  "Label7", "Label8",  "Label9",  "Label18", "Label16",
                                "Text2",   "Text1",  "Label17", "Label10", "Label12", "Label13",
                                "Label14", "Label5", "Label20", "Label19"};
        form->boardControl(order.first())->setFocus();
        QStringList walked{QApplication::focusWidget()->objectName()};
        for (qsizetype i = 1; i < order.size(); ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            walked << QApplication::focusWidget()->objectName();
        }
        QCOMPARE(walked, order);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget()->objectName(), order.at(order.size() - 2));
        // The status line shows what the focused button does.
        QCOMPARE(form->statusLine()->text(),
                 QStringLiteral("メールの送受信データの流れの説明です。（F1）"));

        for (QWidget* control : {static_cast<QWidget*>(form->receivedCountBox()),
                                 static_cast<QWidget*>(form->sentCountBox()),
                                 static_cast<QWidget*>(form->statusLine()),
                                 static_cast<QWidget*>(form->boardControl("Image3"))}) {
            QAccessibleInterface* reader = QAccessible::queryAccessibleInterface(control);
            QVERIFY(reader);
            QVERIFY2(!reader->text(QAccessible::Name).isEmpty(), qPrintable(control->objectName()));
            QVERIFY2(!reader->text(QAccessible::Description).isEmpty(),
                     qPrintable(control->objectName()));
        }
        QVERIFY(QAccessible::queryAccessibleInterface(form->receivedCountBox())
                    ->text(QAccessible::Description)
                    .contains(QStringLiteral("カウント数でハートが成長")));
    }

    // Enter held down, or pressed again while the picture is still down, is one command.
    void oneKeyPressOneCommand() {
        RecordingServer pop3("-ERR not now\r\n");
        home().writeFile("zadiru.ini",
                         "POP3=127.0.0.1:" + QByteArray::number(pop3.port()) + "\r\n");
        writeAccount(home(), "user", "secret");
        MainForm* form = start();
        QLabel* receive = form->boardControl("Label7");
        receive->setFocus();
        QTimer::singleShot(0, this, [&] { QTest::keyClick(receive, Qt::Key_Return); });
        QTest::keyClick(receive, Qt::Key_Return);
        QCOMPARE(pop3.connections(), 1);
        QTest::sendKeyEvent(QTest::Press, receive, Qt::Key_Return, QString(), Qt::NoModifier);
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(receive, &repeat);
        QCOMPARE(pop3.connections(), 2);
    }

    // Closing the board while a button flashes: the command does not run on the closed
    // window (under the sanitizer a use after free would end the run) and opens nothing.
    void closingDuringTheFlashRunsNoCommand_data() {
        QTest::addColumn<QString>("label");
        for (const char* label :
             {"Label7", "Label6", "Label10", "Label12", "Label13", "Label14", "Label8", "Label17"})
            QTest::newRow(label) << label;
    }
    void closingDuringTheFlashRunsNoCommand() {
        QFETCH(QString, label);
        RecordingServer pop3("-ERR not now\r\n");
        home().writeFile("zadiru.ini",
                         "POP3=127.0.0.1:" + QByteArray::number(pop3.port()) + "\r\n");
        writeAccount(home(), "user", "secret");
        MainForm* form = start();
        QPointer<MainForm> board(form);
        QTimer::singleShot(0, this, [&] {
            form->close();
            flushDeletes();
        });
        QTest::mouseClick(form->boardControl(label), Qt::LeftButton);
        QVERIFY(!board);
        flushDeletes();
        QVERIFY(Forms::openWindows().isEmpty());
        QCOMPARE(pop3.connections(), 0);
    }

    // One press, one command: the release that ends a double-click does not receive a second
    // time, and a press while the first one's picture is still down is ignored.
    void onePressOneCommand_data() {
        QTest::addColumn<bool>("doubleClick");
        QTest::newRow("double-click") << true;
        QTest::newRow("second click during the flash") << false;
    }
    void onePressOneCommand() {
        QFETCH(bool, doubleClick);
        RecordingServer pop3("-ERR not now\r\n");
        home().writeFile("zadiru.ini",
                         "POP3=127.0.0.1:" + QByteArray::number(pop3.port()) + "\r\n");
        writeAccount(home(), "user", "secret");
        MainForm* form = start();
        QLabel* receive = form->boardControl("Label7");
        const QPoint at = receive->rect().center();
        auto send = [&](QEvent::Type type) {
            QMouseEvent event(type, at, receive->mapToGlobal(at), Qt::LeftButton,
                              type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton,
                              Qt::NoModifier);
            QApplication::sendEvent(receive, &event);
        };
        if (doubleClick) {
            // As the window system reports it: press, release, double-click, release.
            send(QEvent::MouseButtonPress);
            send(QEvent::MouseButtonRelease);
            send(QEvent::MouseButtonDblClick);
            send(QEvent::MouseButtonRelease);
        } else {
            QTimer::singleShot(0, this, [&] {
                send(QEvent::MouseButtonPress);
                send(QEvent::MouseButtonRelease);
            });
            send(QEvent::MouseButtonPress);
            send(QEvent::MouseButtonRelease);
        }
        QCOMPARE(pop3.connections(), 1);
        // And the next click is a click again.
        send(QEvent::MouseButtonPress);
        send(QEvent::MouseButtonRelease);
        QCOMPARE(pop3.connections(), 2);
    }
};

QTEST_MAIN(TestMainForm)
#include "test_mainform.moc"
