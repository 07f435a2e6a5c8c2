// The five box views: what each leaves in the viewer, the captions, and the main window's
// box buttons with their feedback.
#include "base/forms.h"
#include "base/pause.h"
#include "core/boxviews.h"
#include "core/mainform.h"
#include "guitest.h"
#include "scriptedprompter.h"
#include "settings/serversettings.h"
#include "temphome.h"
#include "viewer/tyakuform.h"
#include "viewertestdata.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>

#include <memory>

using namespace kiku;

Q_DECLARE_METATYPE(kiku::Box)

namespace {

int leadingSpaces(const QString& text) {
    int n = 0;
    while (n < text.size() && text.at(n) == QLatin1Char(' '))
        ++n;
    return n;
}

} // namespace

class TestBoxViews : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<test::TempHome> m_home;
    std::unique_ptr<test::ScriptedPrompter> m_prompter;

    const test::TempHome& home() const { return *m_home; }

    MainForm* startMainWindow() const {
        home().writeFile("zadiru.ini", "SMTP=smtp.example\r\nPOP3=pop.example\r\n");
        test::writeAccount(home(), "user", "secret");
        return Forms::show<MainForm>();
    }

private slots:
    void initTestCase() { Pause::setTimeScale(0); }

    void init() {
        m_home = std::make_unique<test::TempHome>();
        m_prompter = std::make_unique<test::ScriptedPrompter>();
        ServerSettings::current() = {};
    }

    void cleanup() {
        test::closeAllWindows();
        m_prompter.reset();
        m_home.reset();
    }

    void captionsOfTheUnofferedButtons() {
        // 3 spaces, an ideographic space, 11 spaces, an ideographic space, 7 spaces, 保管箱.
        const QString move = TyakuForm::kMoveCaption;
        QCOMPARE(move.size(), 26);
        QCOMPARE(move.count(QLatin1Char(' ')), 21);
        QCOMPARE(move.count(QChar(0x3000)), 2);
        QCOMPARE(leadingSpaces(move), 3);
        QCOMPARE(move.at(3), QChar(0x3000));
        QCOMPARE(leadingSpaces(move.mid(4)), 11);
        QCOMPARE(move.at(15), QChar(0x3000));
        QCOMPARE(leadingSpaces(move.mid(16)), 7);
        QVERIFY(move.endsWith(QStringLiteral("保管箱")));

        for (int spaces : {24, 25, 26}) {
            const QString caption = unusableCaption(spaces);
            QCOMPARE(leadingSpaces(caption), spaces);
            QCOMPARE(caption.mid(spaces), QStringLiteral("使用不可"));
        }
    }

    void eachViewSetsTheViewer_data() {
        QTest::addColumn<Box>("before"); // a view opened first in the same window
        QTest::addColumn<Box>("box");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("moveCaption");
        QTest::addColumn<bool>("moveEnabled");
        QTest::addColumn<bool>("movePictureEnabled");
        QTest::addColumn<QString>("replyCaption");
        QTest::addColumn<bool>("replyEnabled");

        const QString move = TyakuForm::kMoveCaption;
        const QString reply = TyakuForm::kReplyCaption;
        const QString off24 = QString(24, QLatin1Char(' ')) + QStringLiteral("使用不可");
        const QString off25 = QString(25, QLatin1Char(' ')) + QStringLiteral("使用不可");
        const QString off26 = QString(26, QLatin1Char(' ')) + QStringLiteral("使用不可");
        struct Row {
            const char* name;
            Box box;
            const char* caption;
            int code;
            QString moveCaption;
            bool moveEnabled, movePictureEnabled;
            QString replyCaption;
            bool replyEnabled;
        };
        const Row rows[] = {
            {"partner in-box", Box::PartnerInbox, "特定の相手からの着信履歴", 4, off24, false,
             false, reply, true},
            {"others in-box", Box::OthersInbox, "着信履歴（その他）", 1, move, true, true, reply,
             true},
            {"storage box", Box::Storage, "保管箱", 2, off24, false, false, reply, true},
            {"partner sent box", Box::PartnerSent, "特定の相手への送信履歴", 3, off25, false, false,
             off26, false},
            {"others sent box", Box::OthersSent, "特定の相手以外への送信履歴", 5, off24, false,
             false, off26, false},
        };
        // Each view on a fresh viewer, and again after the partner sent box view, which
        // disables the most: a view's result must not depend on the one before.
        for (Box before : {Box::OthersInbox, Box::PartnerSent}) {
            for (const Row& r : rows) {
                const QString name = QString::fromUtf8(r.name) +
                                     (before == Box::PartnerSent ? " after partner sent" : "");
                QTest::newRow(qPrintable(name))
                    << before << r.box << QString::fromUtf8(r.caption) << r.code << r.moveCaption
                    << r.moveEnabled << r.movePictureEnabled << r.replyCaption << r.replyEnabled;
            }
        }
    }
    void eachViewSetsTheViewer() {
        QFETCH(Box, before);
        QFETCH(Box, box);
        QFETCH(QString, caption);
        QFETCH(int, code);
        QFETCH(QString, moveCaption);
        QFETCH(bool, moveEnabled);
        QFETCH(bool, movePictureEnabled);
        QFETCH(QString, replyCaption);
        QFETCH(bool, replyEnabled);

        test::writeBox(home(), box, {test::mail("件名", "x@example.jp", "date", "body")});
        if (before != Box::OthersInbox)
            openBoxView(before, nullptr);
        TyakuForm* viewer = openBoxView(box, nullptr);

        QCOMPARE(viewer, Forms::existing<TyakuForm>());
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->windowTitle(), caption);
        QCOMPARE(viewer->currentBoxCode(), qint16(code));
        QVERIFY(viewer->currentBox() == box);
        QCOMPARE(viewer->moveCaptionLabel()->text(), moveCaption);
        QCOMPARE(viewer->moveCaptionLabel()->isEnabled(), moveEnabled);
        QCOMPARE(viewer->movePicture()->isEnabled(), movePictureEnabled);
        QCOMPARE(viewer->replyCaptionLabel()->text(), replyCaption);
        QCOMPARE(viewer->replyCaptionLabel()->isEnabled(), replyEnabled);
        QCOMPARE(viewer->listLineCount(), 1);
        QCOMPARE(viewer->subjectText(), QStringLiteral("件名"));
    }

    void mainWindowBoxLabelsOpenTheViewer_data() {
        QTest::addColumn<QString>("label");
        QTest::addColumn<Box>("box");
        QTest::addColumn<QString>("caption");
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QString>("restingFile"); // empty: the picture hides instead
        QTest::newRow("Label17") << "Label17" << Box::PartnerInbox
                                 << QStringLiteral("特定の相手からの着信履歴") << "Image18"
                                 << QString();
        QTest::newRow("Label9") << "Label9" << Box::OthersInbox
                                << QStringLiteral("着信履歴（その他）") << "Image12"
                                << "P.gif";
        QTest::newRow("Label18") << "Label18" << Box::Storage << QStringLiteral("保管箱")
                                 << "Image12"
                                 << "P.gif";
        QTest::newRow("Label16") << "Label16" << Box::PartnerSent
                                 << QStringLiteral("特定の相手への送信履歴") << "Image11"
                                 << "S.gif";
        QTest::newRow("Label8") << "Label8" << Box::OthersSent
                                << QStringLiteral("特定の相手以外への送信履歴") << "Image11"
                                << "S.gif";
    }
    void mainWindowBoxLabelsOpenTheViewer() {
        QFETCH(QString, label);
        QFETCH(Box, box);
        QFETCH(QString, caption);
        QFETCH(QString, picture);
        QFETCH(QString, restingFile);
        QVERIFY(test::copyPictures(home()));
        test::writeBox(home(), box,
                       {test::mail("一", "a@example.jp", "d1", "b1"),
                        test::mail("二", "b@example.jp", "d2", "本文二")});
        MainForm* board = startMainWindow();
        QLabel* target = board->boardControl(label);
        QLabel* image = board->boardControl(picture);
        QVERIFY(target && image);
        QVERIFY(!Forms::existing<TyakuForm>());

        // The feedback pause runs the event loop: see what the picture shows then.
        bool visibleDuring = true;
        QImage during;
        QObject context;
        QTimer::singleShot(0, &context, [&] {
            visibleDuring = image->isVisible();
            during = image->pixmap().toImage();
        });
        QTest::mouseClick(target, Qt::LeftButton, {}, QPoint(5, 5));

        if (restingFile.isEmpty()) {
            QVERIFY(!visibleDuring);
        } else {
            QCOMPARE(during, test::dataPicture(home(), QStringLiteral("BotanHenka.gif")));
            QCOMPARE(image->pixmap().toImage(), test::dataPicture(home(), restingFile));
        }
        QVERIFY(image->isVisible());

        TyakuForm* viewer = Forms::existing<TyakuForm>();
        QVERIFY(viewer);
        QVERIFY(viewer->isVisible());
        QCOMPARE(viewer->windowTitle(), caption);
        QCOMPARE(viewer->currentBoxCode(), boxInfo(box).code);
        QCOMPARE(viewer->listLineCount(), 2);
        QCOMPARE(viewer->countText(), QStringLiteral("2"));
        QCOMPARE(viewer->bodyText(), QStringLiteral("本文二"));
        QVERIFY(board->isVisible()); // the board stays usable beside the viewer
    }

    void anOpenViewerIsReusedNotReloaded() {
        test::writeBox(home(), Box::OthersInbox, {test::mail("一", "a", "d", "b")});
        TyakuForm* first = openBoxView(Box::OthersInbox, nullptr);
        test::writeBox(home(), Box::OthersSent,
                       {test::mail("x", "a", "d", "b"), test::mail("y", "a", "d", "b")});
        TyakuForm* second = openBoxView(Box::OthersSent, nullptr);
        QCOMPARE(second, first);
        QCOMPARE(second->listLineCount(), 2);
        QCOMPARE(second->mailList()->topLevelItem(1)->text(0).trimmed(), QStringLiteral("y"));
    }
};

QTEST_MAIN(TestBoxViews)
#include "test_boxviews.moc"
