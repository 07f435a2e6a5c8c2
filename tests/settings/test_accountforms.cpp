// The account window (IdPassForm) and the server window (OptionForm), driven through their
// controls as a user would.
#include "base/codec.h"
#include "base/forms.h"
#include "base/pause.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "settings/idpassform.h"
#include "settings/optionform.h"
#include "settings/profile.h"
#include "settings/serversettings.h"
#include "temphome.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QtTest>

#include <memory>

using namespace kiku;
using namespace kiku::test;

namespace {
const QString kAccountFile = QStringLiteral("\\★MailData\\iniIdPass.ini");
} // namespace

class TestAccountForms : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempHome> m_home;
    const test::TempHome& home() const { return *m_home; }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        m_home = std::make_unique<test::TempHome>();
        ServerSettings::current() = {};
    }
    void cleanup() {
        closeAllWindows();
        m_home.reset();
    }

    void accountWindowLoadsTheStoredAccount() {
        writeAccount(home(), "taro", "hidden");
        IdPassForm* form = Forms::show<IdPassForm>();
        QCOMPARE(form->windowTitle(), QStringLiteral("設定"));
        QCOMPARE(child<QLineEdit>(form, "IdText")->text(), QStringLiteral("taro"));
        QCOMPARE(child<QLineEdit>(form, "PassText")->text(), QStringLiteral("hidden"));
        QCOMPARE(child<QLineEdit>(form, "PassText")->echoMode(), QLineEdit::Password);
        QVERIFY(!child<QCheckBox>(form, "Check1")->isChecked());
        QCOMPARE(child<QCheckBox>(form, "Check1")->text(),
                 QStringLiteral("IDパスワードを保存する"));
        QVERIFY(child<QPushButton>(form, "OKCommand")->isDefault());
        QCOMPARE(child<QPushButton>(form, "CancelCommand")->text(), QStringLiteral("Cancel"));
    }

    void okWithoutSaveKeepsTheStoredAccount() {
        writeAccount(home(), "old", "oldpass");
        IdPassForm* form = Forms::show<IdPassForm>();
        QPointer<QWidget> window(form);
        retype(form->idBox(), "new");
        QCOMPARE(form->userId(), QStringLiteral("new"));
        QTest::mouseClick(child<QPushButton>(form, "OKCommand"), Qt::LeftButton);
        QVERIFY(isClosed(window));

        QCOMPARE(ReadSetting(kAccountFile, "NAME"), QStringLiteral("old"));
        QCOMPARE(ReadSetting(kAccountFile, "NAME2"), QStringLiteral("oldpass"));
        QCOMPARE(ReadSetting(kAccountFile, "NAME3"), QStringLiteral("0"));
        QCOMPARE(Forms::show<IdPassForm>()->userId(), QStringLiteral("old"));
    }

    void okWithSaveWritesIdPasswordAndChoiceInOrder() {
        IdPassForm* form = Forms::show<IdPassForm>();
        retype(form->idBox(), "hanako");
        clickBox(child<QCheckBox>(form, "Check1"));
        QVERIFY(form->saveBox()->isChecked());
        QTest::mouseClick(child<QPushButton>(form, "OKCommand"), Qt::LeftButton);

        // The empty password is written too, as an empty value.
        QCOMPARE(home().readFile(kAccountFile),
                 QByteArray("[EXEINI]\r\nNAME=hanako\r\nNAME2=\r\nNAME3=1\r\n"));
        flushDeletes();

        // ...so the next start asks for the account again.
        home().writeFile("zadiru.ini", "POP3=pop.example\r\n");
        Forms::show<MainForm>();
        QVERIFY(Forms::existing<IdPassForm>()->isVisible());
        QCOMPARE(Forms::existing<IdPassForm>()->userId(), QStringLiteral("hanako"));
    }

    void enterConfirmsAndEscapeCancels() {
        writeAccount(home(), "old", "oldpass");
        const QByteArray before = home().readFile(kAccountFile);

        IdPassForm* form = Forms::show<IdPassForm>();
        QPointer<QWidget> window(form);
        retype(form->passwordBox(), "typed");
        form->saveBox()->setChecked(true);
        QTest::keyClick(form->idBox(), Qt::Key_Escape);
        QVERIFY(isClosed(window));
        QCOMPARE(home().readFile(kAccountFile), before);

        form = Forms::show<IdPassForm>();
        window = form;
        QCOMPARE(form->password(), QStringLiteral("oldpass"));
        retype(form->passwordBox(), "newpass");
        clickBox(form->saveBox());
        QTest::keyClick(form->passwordBox(), Qt::Key_Return);
        QVERIFY(isClosed(window));
        QCOMPARE(ReadSetting(kAccountFile, "NAME2"), QStringLiteral("newpass"));
        QCOMPARE(ReadSetting(kAccountFile, "NAME3"), QStringLiteral("1"));
    }

    void cancelWritesNothing() {
        writeAccount(home(), "old", "oldpass");
        const QByteArray before = home().readFile(kAccountFile);
        IdPassForm* form = Forms::show<IdPassForm>();
        QPointer<QWidget> window(form);
        retype(form->idBox(), "other");
        clickBox(form->saveBox());
        QVERIFY(form->saveBox()->isChecked());
        QTest::mouseClick(child<QPushButton>(form, "CancelCommand"), Qt::LeftButton);
        QVERIFY(isClosed(window));
        QCOMPARE(home().readFile(kAccountFile), before);
    }

    void saveBoxIsUntickedOnEveryOpening() {
        // Ticked while hidden (the window was only touched), then shown.
        IdPassForm* form = Forms::touch<IdPassForm>();
        form->saveBox()->setChecked(true);
        Forms::show<IdPassForm>();
        QVERIFY(!form->saveBox()->isChecked());

        // Ticked, window closed, opened again.
        clickBox(form->saveBox());
        QVERIFY(form->saveBox()->isChecked());
        form->close();
        flushDeletes();
        QVERIFY(!Forms::show<IdPassForm>()->saveBox()->isChecked());

        // Raising the open window keeps what the user is doing.
        form = Forms::existing<IdPassForm>();
        clickBox(form->saveBox());
        Forms::show<IdPassForm>();
        QVERIFY(form->saveBox()->isChecked());
    }

    void accountThatCannotBeStoredIsReported() {
        test::ScriptedPrompter prompter;
        QDir(home().file("★MailData")).removeRecursively();
        IdPassForm* form = Forms::show<IdPassForm>();
        retype(form->idBox(), "user");
        retype(form->passwordBox(), "pw");
        clickBox(form->saveBox());
        QTest::mouseClick(child<QPushButton>(form, "OKCommand"), Qt::LeftButton);
        QCOMPARE(prompter.texts(), QStringList{"IDとパスワードを保存できませんでした。"});
    }

    void serverWindowShowsTheSettingsInEffect() {
        ServerSettings::current() = {"smtp.example", "pop.example", "me@example.jp", 1};
        OptionForm* form = Forms::show<OptionForm>();
        QCOMPARE(form->windowTitle(), QStringLiteral("サーバー設定"));
        QVERIFY(form->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
        QCOMPARE(child<QLineEdit>(form, "SmtpText")->text(), QStringLiteral("smtp.example"));
        QCOMPARE(child<QLineEdit>(form, "Pop3Text")->text(), QStringLiteral("pop.example"));
        QCOMPARE(child<QLineEdit>(form, "MailText")->text(), QStringLiteral("me@example.jp"));
        QVERIFY(child<QCheckBox>(form, "ApopCheck")->isChecked());
        QCOMPARE(child<QCheckBox>(form, "ApopCheck")->text(),
                 QStringLiteral("APOP を使用する(&A)"));
        QCOMPARE(child<QPushButton>(form, "OkCommand")->text(), QStringLiteral("設定"));
        QCOMPARE(child<QPushButton>(form, "CancelCommand")->text(), QStringLiteral("中止"));
    }

    void confirmStoresFieldsAsTyped() {
        home().writeFile("zadiru.ini", "SMTP=old.example\r\nJUNK\r\nPOP3=old.example\r\n");
        ServerSettings::current() = LoadServerSettings();
        OptionForm* form = Forms::show<OptionForm>();
        QPointer<QWidget> window(form);
        retype(form->smtpBox(), " smtp.example ");
        retype(form->pop3Box(), "pop3s://pop.example:995");
        retype(form->mailBox(), "花子 <hanako@example.jp>");
        clickBox(form->apopBox());
        QVERIFY(form->apopBox()->isChecked());
        // Keeping mail on the server is off by default, and saved apart from zadiru.ini.
        QVERIFY(!form->keepBox()->isChecked());
        QVERIFY(!form->keepDaysBox()->isEnabled());
        clickBox(form->keepBox());
        QVERIFY(form->keepDaysBox()->isEnabled());
        form->keepDaysBox()->setValue(30);
        QTest::mouseClick(child<QPushButton>(form, "OkCommand"), Qt::LeftButton);
        QVERIFY(isClosed(window));
        const KeepOnServer keep = KeepOnServer::load();
        QVERIFY(keep.keep);
        QCOMPARE(keep.days, 30);

        QCOMPARE(home().readFile("zadiru.ini"),
                 QByteArray("SMTP= smtp.example \r\nPOP3=pop3s://pop.example:995\r\nMAIL=") +
                     codec::toCp932(QStringLiteral("花子 <hanako@example.jp>")) + "\r\nAPOP=1\r\n");
        const ServerSettings& now = ServerSettings::current();
        QCOMPARE(now.smtpServer, QStringLiteral(" smtp.example "));
        QCOMPARE(now.pop3Server, QStringLiteral("pop3s://pop.example:995"));
        QCOMPARE(now.useApop, qint16(1));

        // The next start reads it back: no server window, and the box ticked when opened.
        writeAccount(home(), "user", "pw");
        ServerSettings::current() = {};
        Forms::show<MainForm>();
        QVERIFY(!Forms::existing<OptionForm>());
        QVERIFY(Forms::show<OptionForm>()->apopBox()->isChecked());
        QCOMPARE(Forms::existing<OptionForm>()->keepDaysBox()->value(), 30);
    }

    void abortChangesNothing_data() {
        QTest::addColumn<bool>("byEscape");
        QTest::newRow("中止") << false;
        QTest::newRow("Esc") << true;
    }
    void abortChangesNothing() {
        QFETCH(bool, byEscape);
        const QByteArray file = "SMTP=smtp.example\r\nPOP3=pop.example\r\nMAIL=a@b\r\nAPOP=0\r\n";
        home().writeFile("zadiru.ini", file);
        ServerSettings::current() = LoadServerSettings();
        OptionForm* form = Forms::show<OptionForm>();
        QPointer<QWidget> window(form);
        retype(form->pop3Box(), "elsewhere.example");
        clickBox(form->apopBox());
        QVERIFY(form->apopBox()->isChecked());
        if (byEscape)
            QTest::keyClick(form->pop3Box(), Qt::Key_Escape);
        else
            QTest::mouseClick(child<QPushButton>(form, "CancelCommand"), Qt::LeftButton);
        QVERIFY(isClosed(window));
        QCOMPARE(home().readFile("zadiru.ini"), file);
        QCOMPARE(ServerSettings::current().pop3Server, QStringLiteral("pop.example"));
        QCOMPARE(ServerSettings::current().useApop, qint16(0));
    }

    void enterDoesNotConfirmServerWindow() {
        ServerSettings::current() = {"smtp.example", "pop.example", "", 0};
        OptionForm* form = Forms::show<OptionForm>();
        retype(form->pop3Box(), "half");
        QTest::keyClick(form->pop3Box(), Qt::Key_Return);
        QVERIFY(form->isVisible());
        QVERIFY(!QFile::exists(home().file("zadiru.ini")));
        QCOMPARE(ServerSettings::current().pop3Server, QStringLiteral("pop.example"));
    }

    void settingsThatCannotBeStoredAreReported() {
        test::ScriptedPrompter prompter;
        QDir(home().path()).mkdir("zadiru.ini"); // a folder where the file should go
        OptionForm* form = Forms::show<OptionForm>();
        retype(form->pop3Box(), "pop.example");
        QTest::mouseClick(child<QPushButton>(form, "OkCommand"), Qt::LeftButton);
        QCOMPARE(prompter.texts(), QStringList{"サーバー設定を保存できませんでした。"});
        // In effect for this run all the same.
        QCOMPARE(ServerSettings::current().pop3Server, QStringLiteral("pop.example"));
    }
};

QTEST_MAIN(TestAccountForms)
#include "test_accountforms.moc"
