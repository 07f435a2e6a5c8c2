// The address book window, driven through its controls against a real vbmdata.data.
#include "base/codec.h"
#include "base/forms.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "settings/friendform.h"
#include "temphome.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QtTest>

#include <memory>

using namespace kiku;

namespace {

// The folder as created on disk; the program reaches it as "★MAilData" too.
const QString kBook = QStringLiteral("\\★MailData\\vbmdata.data");
const QChar kIdeographicSpace(0x3000);

// One Address record as it lies on disk, built from the layout rather than the store.
QByteArray recordBytes(const QByteArray& name, const QByteArray& address, char live = 1) {
    QByteArray bytes = name.leftJustified(90, ' ', true);
    bytes += "\r\n";
    bytes += live;
    bytes += '\0';
    bytes += address.leftJustified(90, ' ', true);
    return bytes;
}

// The name field as registering pads it: ideographic spaces up to 30 characters.
QByteArray paddedName(const QString& name) {
    return codec::toCp932(name + QString(30 - name.size(), kIdeographicSpace));
}

QStringList lines(const QListWidget* list) {
    QStringList texts;
    for (int i = 0; i < list->count(); ++i)
        texts << list->item(i)->text();
    return texts;
}

} // namespace

class TestFriendForm : public QObject {
    Q_OBJECT

    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;

    FriendForm* open() { return Forms::show<FriendForm>(); }
    QByteArray book() const { return m_home->readFile(kBook); }

    static void registerEntry(FriendForm* form, const QString& address, const QString& name) {
        test::retype(form->addressBox(), address);
        test::retype(form->nameBox(), name);
        QTest::mouseClick(form->registerLabel(), Qt::LeftButton);
    }
    // A mouse press on list line `line` (or below the last line for -1), as a user clicks.
    static void pressLine(FriendForm* form, int line) {
        QListWidget* list = form->list();
        QPoint at;
        if (line >= 0) {
            at = list->visualItemRect(list->item(line)).center();
        } else {
            at = QPoint(10, list->viewport()->height() - 5);
            QVERIFY(!list->itemAt(at));
        }
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    }
    static void clickDelete(FriendForm* form) {
        QTest::mouseClick(form->deleteLabel(), Qt::LeftButton);
    }
    void writeThree() {
        m_home->writeFile(kBook,
                          recordBytes(paddedName(QStringLiteral("一郎")), "ichiro@example.jp") +
                              recordBytes(paddedName(QStringLiteral("二郎")), "jiro@example.jp") +
                              recordBytes(paddedName(QStringLiteral("三郎")), "saburo@example.jp"));
    }

private slots:
    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
    }
    void cleanup() {
        test::closeAllWindows();
        m_prompter.reset();
        m_home.reset();
    }

    void controlsCarryTheirNamesAndCaptions() {
        FriendForm* form = open();
        QCOMPARE(form->windowTitle(), QStringLiteral("アドレス帳"));
        QCOMPARE(test::child<QPushButton>(form, "Command38")->text(), QStringLiteral("名刺挿入"));
        QCOMPARE(test::child<QPushButton>(form, "Command1")->text(), QStringLiteral("貼付"));
        QCOMPARE(test::child<QLabel>(form, "Label9")->text(), QStringLiteral("　　 登録"));
        QCOMPARE(test::child<QLabel>(form, "Label8")->text(), QStringLiteral("　 　削除"));
        QCOMPARE(test::child<QLineEdit>(form, "Text4"), form->addressBox());
        QCOMPARE(test::child<QLineEdit>(form, "Text2"), form->nameBox());
        QCOMPARE(test::child<QLineEdit>(form, "Text50"), form->nameCardBox());
        QCOMPARE(test::child<QLineEdit>(form, "Text3"), form->countBox());
        QCOMPARE(test::child<QListWidget>(form, "List1"), form->list());
        QCOMPARE(test::child<QLabel>(form, "Label7"), form->statusLabel());
        QVERIFY(!test::child<QPlainTextEdit>(form, "Text5")->isVisible());
        QStringList captions;
        for (const QLabel* label : form->findChildren<QLabel*>())
            captions << label->text();
        for (const char* caption : {"メールアドレス", "名前", "名詞", "登録件数"})
            QVERIFY2(captions.contains(QString::fromUtf8(caption)), caption);

        // Typing stops at the fields' limits.
        test::retype(form->addressBox(), QString(70, QLatin1Char('a')));
        QCOMPARE(form->addressBox()->text(), QString(60, QLatin1Char('a')));
        test::retype(form->nameBox(), QString(40, QChar(0x82B1)));
        QCOMPARE(form->nameBox()->text(), QString(30, QChar(0x82B1)));
    }

    void missingFileListsEmptyAndIsCreated() {
        QVERIFY(!QFile::exists(m_home->file(kBook)));
        FriendForm* form = open();
        QCOMPARE(form->list()->count(), 0);
        QCOMPARE(form->countBox()->text(), QStringLiteral("0"));
        QCOMPARE(form->statusLabel()->text(), QString());
        QVERIFY(QFile::exists(m_home->file(kBook)));
        QCOMPARE(book().size(), 0);
        QVERIFY(m_prompter->shown().isEmpty());

        registerEntry(form, QStringLiteral("a@example.jp"), QStringLiteral("A"));
        QCOMPARE(form->recordNumbers(), QList<int>{1});
        QCOMPARE(book().size(), 184);
    }

    void missingDataFolderIsReported() {
        m_home.reset(); // the old folder first: it restores the program folder it found
        m_home = std::make_unique<test::TempHome>(false);
        FriendForm* form = open();
        QCOMPARE(m_prompter->shown().size(), 1);
        const QString error = m_prompter->shown()[0].text;
        QVERIFY2(error.contains(QStringLiteral("vbmdata.data")) &&
                     error.contains(QStringLiteral("データフォルダ")),
                 qPrintable(error));
        QCOMPARE(form->countBox()->text(), QStringLiteral("0"));

        // Registering fails the same way, and says so instead of claiming success.
        m_prompter->clear();
        registerEntry(form, QStringLiteral("a@example.jp"), QStringLiteral("A"));
        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->shown()[0].text.contains(QStringLiteral("データフォルダ")));
        QCOMPARE(form->statusLabel()->text(), QString());
        QCOMPARE(form->list()->count(), 0);
        QVERIFY(QDir(m_home->path()).isEmpty());
    }

    void registerSelectDeleteInOrder() {
        FriendForm* form = open();
        registerEntry(form, QStringLiteral("ichiro@example.jp"), QStringLiteral("一郎"));
        registerEntry(form, QStringLiteral("jiro@example.jp"), QStringLiteral("二郎"));
        registerEntry(form, QStringLiteral("saburo@example.jp"), QStringLiteral("三郎"));
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("　登録が完了しました。"));
        QCOMPARE(form->countBox()->text(), QStringLiteral("3"));
        QCOMPARE(form->recordNumbers(), (QList<int>{1, 2, 3}));
        QCOMPARE(lines(form->list()), (QStringList{QStringLiteral("ichiro@example.jp  一郎"),
                                                   QStringLiteral("jiro@example.jp  二郎"),
                                                   QStringLiteral("saburo@example.jp  三郎")}));

        form->addressBox()->clear();
        form->nameBox()->clear();
        pressLine(form, 1);
        QCOMPARE(form->addressBox()->text(), QStringLiteral("jiro@example.jp"));
        QCOMPARE(form->nameBox()->text(), QStringLiteral("二郎"));
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("　選択しました。"));

        m_prompter->answer({true});
        clickDelete(form);
        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->shown()[0].question);
        QCOMPARE(m_prompter->shown()[0].text,
                 QStringLiteral("選択された（行、青色）データを削除します。よろしいですか"));
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("削除が完了しました"));

        const QByteArray file = book();
        QCOMPARE(file, recordBytes(paddedName(QStringLiteral("一郎")), "ichiro@example.jp") +
                           recordBytes(paddedName(QStringLiteral("三郎")), "saburo@example.jp"));
        QVERIFY(!QFile::exists(m_home->file(QStringLiteral("\\★MailData\\VBMDATA.TMP"))));
        QCOMPARE(form->countBox()->text(), QStringLiteral("2"));
        QCOMPARE(form->recordNumbers(), (QList<int>{1, 2}));
        QCOMPARE(lines(form->list()), (QStringList{QStringLiteral("ichiro@example.jp  一郎"),
                                                   QStringLiteral("saburo@example.jp  三郎")}));

        // The former third entry is now record 2 and is what its line loads.
        pressLine(form, 1);
        QCOMPARE(form->addressBox()->text(), QStringLiteral("saburo@example.jp"));
    }

    void registeredBytes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("address");
        QTest::addColumn<QByteArray>("nameField");
        const QString thirty =
            QStringLiteral("山田太郎やまだたろうヤマダタロウ鈴木花子すずきはなこ１２３４");
        QTest::newRow("30 characters, no padding")
            << thirty << QStringLiteral("taro@example.jp") << codec::toCp932(thirty);
        QTest::newRow("3 characters, 27 ideographic spaces")
            << QStringLiteral("花子様") << QStringLiteral(" hanako@example.jp ")
            << codec::toCp932(QStringLiteral("花子様")) +
                   codec::toCp932(QString(27, kIdeographicSpace));
        QTest::newRow("both empty")
            << QString() << QString() << codec::toCp932(QString(30, kIdeographicSpace));
    }
    void registeredBytes() {
        QFETCH(QString, name);
        QFETCH(QString, address);
        QFETCH(QByteArray, nameField);
        QVERIFY(name.size() <= 30);
        FriendForm* form = open();
        registerEntry(form, address, name);

        QCOMPARE(book(), recordBytes(nameField, address.toLatin1()));
        QVERIFY(m_prompter->shown().isEmpty());
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("　登録が完了しました。"));
        QCOMPARE(form->countBox()->text(), QStringLiteral("1"));
        QCOMPARE(form->recordNumbers(), QList<int>{1});

        // Listed and selectable like any other entry, and loads back without padding.
        form->addressBox()->setText(QStringLiteral("other"));
        form->nameBox()->setText(QStringLiteral("other"));
        pressLine(form, 0);
        QCOMPARE(form->nameBox()->text(), name);
        QCOMPARE(form->addressBox()->text(), address.trimmed());
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("　選択しました。"));
    }

    void selectionLoadsStoredFieldsWithoutPadding() {
        // Written by hand: ASCII and ideographic padding on both sides of the texts.
        m_home->writeFile(kBook,
                          recordBytes(paddedName(QStringLiteral("一郎")), "first@example.jp") +
                              recordBytes(codec::toCp932(QStringLiteral("　 鈴木 花子　")),
                                          "   hanako@example.jp   "));
        FriendForm* form = open();
        QCOMPARE(form->countBox()->text(), QStringLiteral("2"));
        QCOMPARE(form->list()->item(1)->text(), QStringLiteral("hanako@example.jp  鈴木 花子"));
        pressLine(form, 1);
        QCOMPARE(form->nameBox()->text(), QStringLiteral("鈴木 花子"));
        QCOMPARE(form->addressBox()->text(), QStringLiteral("hanako@example.jp"));
        pressLine(form, 0);
        QCOMPARE(form->nameBox()->text(), QStringLiteral("一郎"));
        QCOMPARE(form->addressBox()->text(), QStringLiteral("first@example.jp"));
        QVERIFY(m_prompter->shown().isEmpty());
    }

    void deletingTheOnlyRecordLeavesAnEmptyFile() {
        m_home->writeFile(kBook, recordBytes(paddedName(QStringLiteral("一郎")), "a@example.jp"));
        FriendForm* form = open();
        pressLine(form, 0);
        m_prompter->answer({true});
        clickDelete(form);
        QVERIFY(QFile::exists(m_home->file(kBook)));
        QCOMPARE(book().size(), 0);
        QCOMPARE(form->list()->count(), 0);
        QCOMPARE(form->countBox()->text(), QStringLiteral("0"));
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("削除が完了しました"));
    }

    void answeringNoChangesNothing() {
        writeThree();
        const QByteArray before = m_home->readFile(kBook);
        FriendForm* form = open();
        const QStringList listed = lines(form->list());
        pressLine(form, 1);
        m_prompter->answer({false});
        clickDelete(form);

        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->shown()[0].question);
        QCOMPARE(book(), before);
        QCOMPARE(lines(form->list()), listed);
        QCOMPARE(form->recordNumbers(), (QList<int>{1, 2, 3}));
        QCOMPARE(form->countBox()->text(), QStringLiteral("3"));
        QCOMPARE(form->statusLabel()->text(), QStringLiteral(" "));
    }

    void nothingSelected_data() {
        QTest::addColumn<bool>("viaDelete");
        QTest::newRow("press below the lines") << false;
        QTest::newRow("delete") << true;
    }
    void nothingSelected() {
        QFETCH(bool, viaDelete);
        writeThree();
        const QByteArray before = m_home->readFile(kBook);
        FriendForm* form = open();
        form->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(form));
        form->addressBox()->setFocus();
        form->addressBox()->setText(QStringLiteral("typed@example.jp"));
        m_prompter->answer({true}); // would delete, were it asked
        if (viaDelete)
            clickDelete(form);
        else
            pressLine(form, -1);

        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(!m_prompter->shown()[0].question);
        QCOMPARE(m_prompter->shown()[0].text, QStringLiteral("データが選択されていません"));
        QVERIFY(m_prompter->shown()[0].warning); // the warning icon
        QCOMPARE(QApplication::focusWidget(), form->list());
        QCOMPARE(book(), before);
        QCOMPARE(form->list()->count(), 3);
        QCOMPARE(form->addressBox()->text(), QStringLiteral("typed@example.jp"));
        QCOMPARE(form->statusLabel()->text(), QString());
    }

    void nameCard_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("card");
        QTest::addColumn<int>("presses");
        QTest::addColumn<QString>("result");
        QTest::addColumn<QString>("message");
        QTest::newRow("spaces around the address")
            << QStringLiteral("  taro@example.jp  ") << QStringLiteral("山田 太郎") << 1
            << QStringLiteral("山田 太郎<taro@example.jp>") << QString();
        QTest::newRow("pressed twice wraps twice")
            << QStringLiteral("t@example.jp") << QStringLiteral("T") << 2
            << QStringLiteral("T<T<t@example.jp>>") << QString();
        QTest::newRow("no address") << QString() << QStringLiteral("山田") << 1 << QString()
                                    << QStringLiteral("メールアドレスが入力されていません");
        QTest::newRow("no card") << QStringLiteral("t@example.jp") << QString() << 1
                                 << QStringLiteral("t@example.jp")
                                 << QStringLiteral("名詞が入力されていません");
        // Cut to the field's 60 characters the address would lose its closing bracket.
        const QString long50 = QString(45, QLatin1Char('x')) + QStringLiteral("@example.jp");
        QTest::newRow("result beyond the field")
            << long50 << QStringLiteral("山田 太郎") << 1 << long50 << QStringLiteral("*");
    }
    void nameCard() {
        QFETCH(QString, address);
        QFETCH(QString, card);
        QFETCH(int, presses);
        QFETCH(QString, result);
        QFETCH(QString, message);
        FriendForm* form = open();
        test::retype(form->addressBox(), address);
        test::retype(form->nameCardBox(), card);
        for (int i = 0; i < presses; ++i)
            QTest::mouseClick(form->nameCardButton(), Qt::LeftButton);

        QCOMPARE(form->addressBox()->text(), result);
        if (message.isEmpty()) {
            QVERIFY(m_prompter->shown().isEmpty());
        } else {
            QCOMPARE(m_prompter->shown().size(), 1);
            QVERIFY(!m_prompter->shown()[0].question);
            QCOMPARE(m_prompter->shown()[0].title, QString()); // the program's title
            if (message != QStringLiteral("*"))
                QCOMPARE(m_prompter->shown()[0].text, message);
        }
    }

    void paste_data() {
        QTest::addColumn<QString>("clipboard");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << QStringLiteral("Hanako <h@example.jp>")
                               << QStringLiteral("Hanako <h@example.jp>");
        QTest::newRow("CR LF") << QStringLiteral("a@example.jp\r\nsecond line")
                               << QStringLiteral("a@example.jp");
        QTest::newRow("LF first") << QStringLiteral("\nb@example.jp") << QString();
        QTest::newRow("NUL") << QStringLiteral("c@example.jp") + QChar(0) + QStringLiteral("tail")
                             << QStringLiteral("c@example.jp");
        QTest::newRow("tab dropped")
            << QStringLiteral("d@exa\tmple.jp") << QStringLiteral("d@example.jp");
        QTest::newRow("overlong") << QString(100000, QLatin1Char('z'))
                                  << QString(60, QLatin1Char('z'));
        // 59 characters and a pair that would be cut in half.
        QTest::newRow("surrogate pair at the limit")
            << QString(59, QLatin1Char('y')) + QString::fromUcs4(U"\U0001F600") +
                   QStringLiteral("z")
            << QString(59, QLatin1Char('y'));
    }
    void paste() {
        QFETCH(QString, clipboard);
        QFETCH(QString, expected);
        FriendForm* form = open();
        form->addressBox()->setText(QStringLiteral("typed"));
        QGuiApplication::clipboard()->setText(clipboard);
        QTest::mouseClick(form->pasteButton(), Qt::LeftButton);
        QCOMPARE(form->addressBox()->text(), expected);
    }

    void hintsFollowThePointer() {
        FriendForm* form = open();
        QPlainTextEdit* help = form->helpBox();
        const struct {
            QWidget* over;
            QString text;
        } steps[] = {
            {form->pasteButton(), QStringLiteral("コピーして来たメールアドレスを貼り付けます。")},
            {form->registerLabel(),
             QStringLiteral("登録を行います。これにより新規作成でのメールアドレスの一発入力が"
                            "可能になります。")},
            {form->deleteLabel(), QStringLiteral("不要になったメールアドレスを削除します。")},
            {form->nameCardButton(), FriendForm::nameCardHint()},
        };
        for (const auto& step : steps) {
            QTest::mouseMove(step.over, step.over->rect().center());
            QVERIFY(help->isVisible());
            QCOMPARE(help->toPlainText(), step.text);
            // Over the window background the box goes away again.
            QTest::mouseMove(form, QPoint(2, 2));
            QVERIFY2(!form->childAt(QPoint(2, 2)), "the corner must be background");
            QVERIFY(!help->isVisible());
        }
        const QString card = FriendForm::nameCardHint();
        QVERIFY(card.contains(QRegularExpression(QStringLiteral(".+<[^<>@]+@[^<>]+>"))));
        QVERIFY(card.endsWith(QStringLiteral("\n\n必要なければ挿入する必要はありません。")));
    }

    void storeNoticeIsShownAndTheEntryRegistered() {
        // A torn tail (a crash in the middle of a write) is set aside before appending.
        const QByteArray whole = recordBytes(paddedName(QStringLiteral("一郎")), "a@example.jp");
        m_home->writeFile(kBook, whole + "torn");
        FriendForm* form = open();
        QCOMPARE(form->countBox()->text(), QStringLiteral("1"));
        registerEntry(form, QStringLiteral("b@example.jp"), QStringLiteral("B"));

        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(!m_prompter->shown()[0].text.isEmpty());
        QCOMPARE(form->statusLabel()->text(), QStringLiteral("　登録が完了しました。"));
        QCOMPARE(book(), whole + recordBytes(paddedName(QStringLiteral("B")), "b@example.jp"));
        QCOMPARE(form->countBox()->text(), QStringLiteral("2"));
    }

    void addressTooWideForTheFileIsRefused() {
        // 60 characters fit the field, but as Shift-JIS they need 120 of the 90 bytes.
        FriendForm* form = open();
        registerEntry(form, QString(60, QChar(0x3042)), QStringLiteral("A"));
        QCOMPARE(m_prompter->shown().size(), 1);
        QCOMPARE(book().size(), 0);
        QCOMPARE(form->list()->count(), 0);
        QCOMPARE(form->statusLabel()->text(), QString());
    }
};

QTEST_MAIN(TestFriendForm)
#include "test_friendform.moc"
