// The export a user starts from the viewer's list menu, and the reminder before a box's
// wall: what each dialog asks and says, and what ends up on disk.
#include "base/pause.h"
#include "core/boxexportui.h"
#include "core/boxviews.h"
#include "exchange/boxwall.h"
#include "store/fileops.h"
#include "viewer/tyakuform.h"
#include "viewertestdata.h"
#include "windowtestbed.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTreeWidget>
#include <QtTest>

#include <cerrno>
#include <unistd.h>

using namespace kiku;

namespace {

const QString kExportAction = QStringLiteral("このボックスを書き出す…");
const QString kMboxOnly = QStringLiteral("名前が .mbox で終わる mbox ファイルを指定してください。");

// The export dialog answered from a script, remembering the name it suggested.
class ExportDialogs : public test::ScriptedFileDialogs {
public:
    QString exportTarget(QWidget* parent, const QString& suggested) override {
        suggestions << suggested;
        return openFileName(parent);
    }
    QStringList suggestions;
};

// The originals folder cannot be listed (a disk fault).
class UnreadableOriginals : public FileOps {
public:
    int listFolder(const char*, QList<QByteArray>*) override {
        errno = EIO;
        return -1;
    }
};

QAction* exportAction(TyakuForm* viewer) {
    QAction* found = nullptr;
    for (QAction* action : viewer->mailList()->actions()) {
        if (action->text() == kExportAction) {
            if (found)
                return nullptr; // offered twice
            found = action;
        }
    }
    return found;
}

int mboxMessages(const QByteArray& mbox) {
    return int(mbox.count("\nFrom ")) + (mbox.startsWith("From ") ? 1 : 0);
}

} // namespace

class TestBoxExportGui : public QObject, test::WindowTestBed {
    Q_OBJECT

    std::unique_ptr<ExportDialogs> m_exportDialogs;

    QString shownTexts() const {
        QStringList texts;
        for (const auto& shown : m_prompter->shown())
            texts << shown.text;
        return texts.join(QLatin1Char('|'));
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }
    void init() {
        startCase();
        m_dialogs.reset();
        m_exportDialogs = std::make_unique<ExportDialogs>();
    }
    void cleanup() {
        test::closeAllWindows();
        m_exportDialogs.reset();
        endCase();
    }

    void listMenuExportsTheBoxOnShow_data() {
        QTest::addColumn<QString>("answer"); // the name given, "" for a cancel
        QTest::addColumn<bool>("existing");  // a file of that name is there before
        QTest::addColumn<bool>("replace");   // the answer to "置き換えますか？"
        QTest::addColumn<bool>("exported");
        QTest::newRow("new mbox") << "out.mbox" << false << false << true;
        QTest::newRow("cancelled") << "" << false << false << false;
        QTest::newRow("existing kept") << "out.mbox" << true << false << false;
        QTest::newRow("existing replaced") << "out.mbox" << true << true << true;
        QTest::newRow("eml folder") << "out-eml" << false << false << true;
    }
    void listMenuExportsTheBoxOnShow() {
        QFETCH(QString, answer);
        QFETCH(bool, existing);
        QFETCH(bool, replace);
        QFETCH(bool, exported);
        const QList<MailRecord> records{
            test::mail("一通目", "a@example.jp", "Mon, 1 Jan 2024 10:00:00 +0900", "本文一"),
            test::mail("二通目", "b@example.jp", "Tue, 2 Jan 2024 10:00:00 +0900", "本文二"),
            test::mail("三通目", "c@example.jp", "Wed, 3 Jan 2024 10:00:00 +0900", "本文三")};
        test::writeBox(*m_home, Box::OthersInbox, records);
        const QString target = answer.isEmpty() ? QString() : m_home->file(answer);
        if (existing)
            m_home->writeFile(answer, "kept as it was");
        m_exportDialogs->answer({target});
        m_prompter->answer({replace});

        TyakuForm* viewer = openBoxView(Box::OthersInbox, nullptr);
        openBoxView(Box::OthersInbox, nullptr); // shown again: still one menu entry
        QAction* action = exportAction(viewer);
        QVERIFY(action);
        action->trigger();

        QCOMPARE(m_exportDialogs->suggestions, QStringList{QStringLiteral("vbmdata3.mbox")});
        const QString replaceQuestion = QStringLiteral("%1 は既にあります。置き換えますか？")
                                            .arg(QDir::toNativeSeparators(target));
        QCOMPARE(shownTexts().contains(replaceQuestion), existing);
        const QString done = QStringLiteral("3 通のメールを %1 に書き出しました。")
                                 .arg(QDir::toNativeSeparators(target));
        QCOMPARE(shownTexts().endsWith(done), exported);
        if (answer.endsWith(QLatin1String(".mbox")))
            QCOMPARE(mboxMessages(m_home->readFile(answer)), exported ? 3 : 0);
        else if (exported)
            QCOMPARE(QDir(target).entryList({QStringLiteral("*.eml")}).size(), 3);
        if (existing && !exported)
            QCOMPARE(m_home->readFile(answer), QByteArray("kept as it was"));
    }

    // Without its originals an export would lose headers: it stops and says why.
    void exportStopsWhenTheOriginalsCannotBeRead() {
        test::writeBox(
            *m_home, Box::OthersInbox,
            {test::mail("件名", "a@example.jp", "Mon, 1 Jan 2024 10:00:00 +0900", "本文")});
        QVERIFY(QDir().mkpath(m_home->file(QStringLiteral("★MailData/originals"))));
        m_exportDialogs->answer({m_home->file(QStringLiteral("out.mbox"))});
        TyakuForm* viewer = openBoxView(Box::OthersInbox, nullptr);
        UnreadableOriginals unreadable;
        {
            ScopedFileOps scope(unreadable);
            exportAction(viewer)->trigger();
        }
        QCOMPARE(m_prompter->shown().size(), 1);
        QVERIFY(m_prompter->shown().first().warning);
        QVERIFY2(
            m_prompter->shown().first().text.startsWith(QStringLiteral("書き出せませんでした: ")),
            qPrintable(shownTexts()));
        QVERIFY(!QFileInfo::exists(m_home->file(QStringLiteral("out.mbox"))));
    }

    // A box past 30,000 messages: the question once a day, an mbox name or nothing.
    void reminderBeforeTheWall() {
        test::writeBox(*m_home, Box::OthersInbox, {});
        const QByteArray box = QFile::encodeName(m_home->file(test::boxFile(Box::OthersInbox)));
        QCOMPARE(::truncate(box.constData(), qint64(30001) * kMailRecordSize), 0);
        const QString question = boxwall::reminderText({Box::OthersInbox, 30001});

        // Said no to: nothing more asked, and not again today.
        remindBeforeWall(nullptr);
        QCOMPARE(shownTexts(), question);
        remindBeforeWall(nullptr);
        QCOMPARE(m_prompter->shown().size(), 1);
        QCOMPARE(m_exportDialogs->opened(), 0);

        // The next day: yes, then a folder name where an mbox file is needed.
        QVERIFY(QFile::remove(m_home->file(QStringLiteral("★MailData/KikuMailState.ini"))));
        m_prompter->answer({true});
        m_exportDialogs->answer({m_home->file(QStringLiteral("old-eml"))});
        remindBeforeWall(nullptr);
        QCOMPARE(shownTexts(),
                 question + QLatin1Char('|') + question + QLatin1Char('|') + kMboxOnly);
        QCOMPARE(m_exportDialogs->suggestions.size(), 1);
        QVERIFY(m_exportDialogs->suggestions.first().startsWith(QStringLiteral("vbmdata3-")));
        QVERIFY(m_exportDialogs->suggestions.first().endsWith(QStringLiteral(".mbox")));
        QCOMPARE(QFileInfo(QString::fromLocal8Bit(box)).size(), qint64(30001) * kMailRecordSize);
    }
};

QTEST_MAIN(TestBoxExportGui)
#include "test_boxexport_gui.moc"
