// The special-partner window and the settings window with its heart reset.
#include "base/codec.h"
#include "base/forms.h"
#include "base/pause.h"
#include "base/twips.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "settings/bunbetuform.h"
#include "settings/idpassform.h"
#include "settings/optionform.h"
#include "settings/profile.h"
#include "settings/serversettings.h"
#include "settings/setform.h"
#include "temphome.h"

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>

#include <memory>

using namespace kiku;

class TestPartnerForms : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;
    int m_ended = 0;

    MainForm* startMain() {
        m_home->writeFile("zadiru.ini", "POP3=127.0.0.1:1\r\n");
        m_home->writeFile("\\★MailData\\iniIdPass.ini", "[EXEINI]\r\nNAME=a\r\nNAME2=b\r\n");
        m_home->writeFile("\\★MailData\\iniCuntUp.ini", "[EXEINI]\r\nNAME=57\r\nNAME2=60\r\n");
        MainForm* form = Forms::show<MainForm>();
        form->receivedHeartTimer()->stop();
        form->sentHeartTimer()->stop();
        form->move(100, 80);
        return form;
    }
    static QString counter(const char* key) {
        return ReadSetting(QStringLiteral("\\★MailData\\iniCuntUp.ini"), QLatin1String(key));
    }

private slots:
    void initTestCase() {
        Pause::setTimeScale(0);
        SetForm::setEndProgram([this] { ++m_ended; });
    }
    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        m_ended = 0;
    }
    void cleanup() {
        test::closeAllWindows();
        m_prompter.reset();
        m_home.reset();
    }

    void partnerWindowLoadsAndRegistersAsTyped() {
        m_home->writeFile("\\★MailData\\iniIdPass2.ini",
                          "[EXEINI]\r\nNAME=old@example.jp\r\nNAME2=Old\r\n");
        auto* form = Forms::show<BunbetuForm>();
        QCOMPARE(form->windowTitle(), QStringLiteral("特定の相手のメールアドレス登録"));
        QCOMPARE(form->address(), QStringLiteral("old@example.jp"));
        QCOMPARE(form->partnerName(), QStringLiteral("Old"));

        form->addressBox()->setText(QStringLiteral("  <p@example.jp>  "));
        form->nameBox()->setText(QStringLiteral(" 花子 "));
        form->registerButton()->click();

        // Both keys as typed, address first; nothing shown, the window stays.
        const QByteArray file = m_home->readFile("\\★MailData\\iniIdPass2.ini");
        const qsizetype name = file.indexOf("NAME=  <p@example.jp>  \r\n");
        const qsizetype name2 =
            file.indexOf("NAME2=" + codec::toCp932(QStringLiteral(" 花子 ")) + "\r\n");
        QVERIFY2(name >= 0 && name2 > name, file.constData());
        QVERIFY(m_prompter->shown().isEmpty());
        QVERIFY(form->isVisible());

        // Registering empty fields removes the partner.
        form->addressBox()->clear();
        form->nameBox()->clear();
        form->registerButton()->click();
        QCOMPARE(ReadSetting(QStringLiteral("\\★MailData\\iniIdPass2.ini"), QStringLiteral("NAME")),
                 QString());
    }

    void partnerWindowFixedTextsAndPaste() {
        auto* form = Forms::show<BunbetuForm>();
        const QString label2 = test::child<QLabel>(form, "Label2")->text();
        QVERIFY(label2.startsWith(QStringLiteral("●メールアドレスと、氏名（名称を入力し、")));
        QVERIFY(label2.contains(QStringLiteral("表示されます。") + QString(31, QChar(0x3000)) +
                                QStringLiteral("●完全一致検索方式ですから、")));
        QVERIFY(!label2.contains(QString(32, QChar(0x3000))));
        QVERIFY(label2.endsWith(QStringLiteral("＜＞付きで登録して下さい。")));
        QCOMPARE(test::child<QLabel>(form, "Label3")->text(),
                 QStringLiteral("●空白のままだと通常のメーラーとして使用出来ます。"));
        QCOMPARE(form->registerButton()->text(), QStringLiteral("登録"));
        QCOMPARE(form->pasteButton()->text(), QStringLiteral("貼付"));

        form->addressBox()->setText(QStringLiteral("typed"));
        QGuiApplication::clipboard()->setText(QStringLiteral("Hanako <h@example.jp>"));
        form->pasteButton()->click();
        QCOMPARE(form->address(), QStringLiteral("Hanako <h@example.jp>"));
    }

    void settingsWindowOpensBesideTheMainWindowWithItsTexts() {
        MainForm* main = startMain();
        QTest::mouseClick(main->boardControl(QStringLiteral("Label14")), Qt::LeftButton);
        auto* form = Forms::existing<SetForm>();
        QVERIFY(form && form->isVisible());
        QCOMPARE(form->windowTitle(), QStringLiteral("設定"));
        QCOMPARE(form->pos(), main->pos() + QPoint(twipsToPixels(7500), twipsToPixels(2500)));
        const QString text = form->explanationBox()->toPlainText();
        QVERIFY(text.startsWith(QStringLiteral("リセットを行わない限り、着信履歴(Pr)")));
        QVERIFY(text.contains(QStringLiteral("リセットされます。その際は始めから")));
        QVERIFY(text.contains(QStringLiteral("慎重に・・・ある数に達すると")));
        QVERIFY(text.endsWith(QStringLiteral("ひとつの大きなハートに融合します。")));

        form->accountButton()->click();
        QVERIFY(Forms::existing<IdPassForm>() && Forms::existing<IdPassForm>()->isVisible());
        form->serverButton()->click();
        QVERIFY(Forms::existing<OptionForm>() && Forms::existing<OptionForm>()->isVisible());
    }

    void heartReset_data() {
        QTest::addColumn<bool>("yes");
        QTest::newRow("Yes") << true;
        QTest::newRow("No") << false;
    }
    void heartReset() {
        QFETCH(bool, yes);
        MainForm* main = startMain();
        auto* form = Forms::show<SetForm>();
        m_prompter->answer({yes});
        form->resetButton()->click();

        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->shown()[0].question);
        QCOMPARE(m_prompter->shown()[0].text, SetForm::resetQuestion());
        QCOMPARE(SetForm::resetQuestion(), QStringLiteral("ハートの大きさが初期状態になります。"
                                                          "よろしいですか？　Kikuを終了します。"));
        QCOMPARE(counter("NAME"), yes ? QStringLiteral("0") : QStringLiteral("57"));
        QCOMPARE(counter("NAME2"), yes ? QStringLiteral("0") : QStringLiteral("60"));
        QCOMPARE(main->receivedCountBox()->text(),
                 yes ? QStringLiteral("0") : QStringLiteral("57"));
        QCOMPARE(main->sentCountBox()->text(), yes ? QStringLiteral("0") : QStringLiteral("60"));
        QCOMPARE(m_ended, yes ? 1 : 0);
    }

    // Text with line breaks pasted into any settings field (Ctrl+V into the middle of what is
    // there, or the partner window's paste button) keeps only its first line, and the
    // confirmed file gets no line of its own from it.
    void pastedLineBreaksNeverReachTheFiles_data() {
        QTest::addColumn<QString>("window");
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("expected");
        const QString partner = QStringLiteral("\\★MailData\\iniIdPass2.ini");
        const QString account = QStringLiteral("\\★MailData\\iniIdPass.ini");
        QTest::newRow("partner address")
            << "partner"
            << "Text1" << partner << QByteArray("[EXEINI]\r\nNAME=ap@xb\r\nNAME2=\r\n");
        QTest::newRow("partner name")
            << "partner"
            << "Text2" << partner << QByteArray("[EXEINI]\r\nNAME=\r\nNAME2=ap@xb\r\n");
        QTest::newRow("account id")
            << "account"
            << "IdText" << account << QByteArray("[EXEINI]\r\nNAME=ap@xb\r\nNAME2=\r\nNAME3=1\r\n");
        QTest::newRow("password") << "account"
                                  << "PassText" << account
                                  << QByteArray("[EXEINI]\r\nNAME=\r\nNAME2=ap@xb\r\nNAME3=1\r\n");
        QTest::newRow("smtp") << "server"
                              << "SmtpText"
                              << "zadiru.ini"
                              << QByteArray("SMTP=ap@xb\r\nPOP3=\r\nMAIL=\r\nAPOP=0\r\n");
        QTest::newRow("pop3") << "server"
                              << "Pop3Text"
                              << "zadiru.ini"
                              << QByteArray("SMTP=\r\nPOP3=ap@xb\r\nMAIL=\r\nAPOP=0\r\n");
        QTest::newRow("own address")
            << "server"
            << "MailText"
            << "zadiru.ini" << QByteArray("SMTP=\r\nPOP3=\r\nMAIL=ap@xb\r\nAPOP=0\r\n");
    }
    void pastedLineBreaksNeverReachTheFiles() {
        QFETCH(QString, window);
        QFETCH(QString, field);
        QFETCH(QString, file);
        QFETCH(QByteArray, expected);
        ServerSettings::current() = {};
        QWidget* form = nullptr;
        if (window == QLatin1String("partner"))
            form = Forms::show<BunbetuForm>();
        else if (window == QLatin1String("account"))
            form = Forms::show<IdPassForm>();
        else
            form = Forms::show<OptionForm>();
        auto* box = test::child<QLineEdit>(form, qPrintable(field));
        box->setText(QStringLiteral("ab"));
        box->setFocus();
        box->setCursorPosition(1);
        QGuiApplication::clipboard()->setText(QStringLiteral("p@x\r\nNAME2=x\r\n[Z]"));
        QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(box->text(), QStringLiteral("ap@xb"));

        if (window == QLatin1String("partner")) {
            test::child<QPushButton>(form, "Command1")->click();
        } else if (window == QLatin1String("account")) {
            test::clickBox(test::child<QCheckBox>(form, "Check1"));
            test::child<QPushButton>(form, "OKCommand")->click();
        } else {
            test::child<QPushButton>(form, "OkCommand")->click();
        }
        QCOMPARE(m_home->readFile(file), expected);

        // The partner window's own paste button.
        if (window == QLatin1String("partner") && field == QLatin1String("Text1")) {
            QGuiApplication::clipboard()->setText(QStringLiteral("q@y\nNAME2=x\n[Z]"));
            Forms::existing<BunbetuForm>()->pasteButton()->click();
            QCOMPARE(Forms::existing<BunbetuForm>()->address(), QStringLiteral("q@y"));
        }
    }
};

QTEST_MAIN(TestPartnerForms)
#include "test_partnerforms.moc"
