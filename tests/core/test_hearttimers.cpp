// One tick of each heart timer, recorded step by step on a fake board.
#include "base/paths.h"
#include "core/hearttick.h"
#include "scriptedprompter.h"
#include "settings/profile.h"
#include "temphome.h"

#include <gtest/gtest.h>

#include <functional>

using namespace kiku;

namespace {

using Picture = HeartBoard::Picture;

// Records every step as a short line: "Image3 260x200", "pause", "Image6 left 7110", ...
class RecordingBoard : public HeartBoard {
public:
    QString received;
    QString sent;
    QStringList log;
    std::function<void()> duringPause;

    QString receivedCountText() const override { return received; }
    QString sentCountText() const override { return sent; }
    void setCountTexts(const QString& r, const QString& s) override {
        received = r;
        sent = s;
        log << QStringLiteral("counts %1 %2").arg(r, s);
    }
    void setVisible(Picture p, bool visible) override {
        log << name(p) + (visible ? QStringLiteral(" show") : QStringLiteral(" hide"));
    }
    void setSize(Picture p, QSize size) override {
        log << QStringLiteral("%1 %2x%3").arg(name(p)).arg(size.width()).arg(size.height());
    }
    void setLeft(Picture p, int left) override {
        log << QStringLiteral("%1 left %2").arg(name(p)).arg(left);
    }
    void setTop(Picture p, int top) override {
        log << QStringLiteral("%1 top %2").arg(name(p)).arg(top);
    }
    void setScaleFlying(bool flying) override {
        log << (flying ? QStringLiteral("Label3 14 italic") : QStringLiteral("Label3 10"));
    }
    void pause(int ms) override {
        log << QStringLiteral("pause %1").arg(ms);
        if (duringPause)
            duringPause();
    }

    static QString name(Picture p) {
        switch (p) {
        case Picture::SentHeart:
            return QStringLiteral("Image3");
        case Picture::ReceivedHeart:
            return QStringLiteral("Image4");
        case Picture::SentFlyer:
            return QStringLiteral("Image6");
        case Picture::ReceivedFlyer:
            return QStringLiteral("Image5");
        case Picture::SentLanding:
            return QStringLiteral("Image8");
        case Picture::ReceivedLanding:
            return QStringLiteral("Image9");
        }
        return {};
    }
};

QStringList flight(const QString& flyer, QList<int> xs, const QString& hideFirst = {}) {
    QStringList steps;
    for (int x : xs) {
        if (!hideFirst.isEmpty())
            steps << hideFirst + QStringLiteral(" hide");
        steps << QStringLiteral("%1 left %2").arg(flyer).arg(x) << QStringLiteral("pause 150")
              << QStringLiteral("Label3 14 italic");
    }
    return steps;
}

const QList<int> kSentXs{7110, 6710, 6310, 5910, 5510, 5110, 4710};
const QList<int> kReceivedXs{970, 1370, 1770, 2170, 2570, 2970, 3370};

QStringList tick(HeartTick::Side side, const char* received, const char* sent) {
    RecordingBoard board;
    board.received = QString::fromLatin1(received);
    board.sent = QString::fromLatin1(sent);
    HeartTick(side, board).run();
    return board.log;
}

class HeartTimersTest : public testing::Test {
protected:
    test::TempHome m_home;
    test::ScriptedPrompter m_prompter;
};

TEST_F(HeartTimersTest, OrdinaryTicksBeatAtTheirOwnCountsSize) {
    // Received 150, sent 100: factor 1.25 on the right, 1 on the left.
    const QStringList received = tick(HeartTick::Side::Received, "150", "100");
    EXPECT_EQ(received, QStringList({"Image9 hide", "Label3 10", "Image4 325x250", "pause 150",
                                     "Image4 240x160"}) +
                            flight("Image5", kReceivedXs) + QStringList{"Image9 show"});

    const QStringList sent = tick(HeartTick::Side::Sent, "150", "100");
    EXPECT_EQ(sent, QStringList({"Image8 hide", "Label3 10", "Image3 260x200", "pause 150",
                                 "Image3 240x160"}) +
                        flight("Image6", kSentXs) + QStringList{"Image8 show"});
    // Eight pauses of 150 ms per tick.
    EXPECT_EQ(sent.filter(QStringLiteral("pause")).size(), 8);

    // Nothing received yet: the heart beats to nothing, the picture still flies.
    EXPECT_TRUE(tick(HeartTick::Side::Received, "0", "0").contains(QStringLiteral("Image4 0x0")));
    EXPECT_TRUE(m_prompter.shown().isEmpty());
}

TEST_F(HeartTimersTest, HeartsMergeOnlyWhenBothCountsReachAThousand) {
    const QStringList sent = tick(HeartTick::Side::Sent, "1000", "1000");
    const QStringList mergedBeat{"Image8 show",      "Image4 hide", "Image3 top 2000",
                                 "Image3 1800x1400", "pause 150",   "Image3 1890x1470"};
    const QStringList expectedSent =
        QStringList{"Image8 hide"} + flight("Image6", kSentXs) + mergedBeat +
        flight("Image6", kSentXs, QStringLiteral("Image8")) + QStringList{"Image8 show"};
    EXPECT_EQ(sent, expectedSent);

    const QStringList received = tick(HeartTick::Side::Received, "1000", "1000");
    EXPECT_EQ(received, QStringList({"Image9 hide", "Image4 hide", "Image3 1800x1400", "pause 150",
                                     "Image3 1890x1470"}) +
                            flight("Image5", kReceivedXs) + QStringList{"Image9 show"});

    // Sent still below 1000: no merge, and the received heart (above 900) beats to nothing.
    const QStringList apartReceived = tick(HeartTick::Side::Received, "1000", "950");
    EXPECT_TRUE(apartReceived.contains(QStringLiteral("Image4 0x0")));
    EXPECT_FALSE(apartReceived.contains(QStringLiteral("Image4 hide")));
    const QStringList apartSent = tick(HeartTick::Side::Sent, "1000", "950");
    EXPECT_TRUE(apartSent.filter(QStringLiteral("top")).isEmpty());
    EXPECT_TRUE(apartSent.contains(QStringLiteral("Image3 0x0")));
}

TEST_F(HeartTimersTest, BalanceResetOnlyWhenMoreThanHundredApart) {
    const struct {
        const char* received;
        const char* sent;
        bool reset;
    } cases[] = {
        {"201", "100", true}, {"100", "201", true}, {"100", "0", false},
        {"0", "100", false},  {"abc", "101", true},
    };
    for (const auto& c : cases) {
        for (HeartTick::Side side : {HeartTick::Side::Received, HeartTick::Side::Sent}) {
            SCOPED_TRACE(std::string(c.received) + "/" + c.sent);
            m_prompter.clear();
            WriteSetting(paths::kCounterFile, QStringLiteral("NAME"), QLatin1String(c.received));
            WriteSetting(paths::kCounterFile, QStringLiteral("NAME2"), QLatin1String(c.sent));
            RecordingBoard board;
            board.received = QLatin1String(c.received);
            board.sent = QLatin1String(c.sent);
            HeartTick(side, board).run();
            EXPECT_EQ(board.received, c.reset ? QStringLiteral("0") : QLatin1String(c.received));
            EXPECT_EQ(board.sent, c.reset ? QStringLiteral("0") : QLatin1String(c.sent));
            EXPECT_EQ(ReadSetting(paths::kCounterFile, QStringLiteral("NAME")),
                      c.reset ? QStringLiteral("0") : QLatin1String(c.received));
            EXPECT_EQ(ReadSetting(paths::kCounterFile, QStringLiteral("NAME2")),
                      c.reset ? QStringLiteral("0") : QLatin1String(c.sent));
            EXPECT_EQ(m_prompter.texts(),
                      c.reset ? QStringList{HeartTick::balanceMessage()} : QStringList{});
            // After a reset the tick goes on from the new counts: both hearts beat to nothing.
            if (c.reset) {
                EXPECT_EQ(board.log.value(0), QStringLiteral("counts 0 0"));
                EXPECT_EQ(board.log.filter(QStringLiteral("0x0")).size(), 1);
            }
        }
    }
}

TEST_F(HeartTimersTest, TickDoesNotStartWhileThePreviousOneRuns) {
    RecordingBoard board;
    board.received = QStringLiteral("50");
    board.sent = QStringLiteral("50");
    HeartTick tick(HeartTick::Side::Sent, board);
    int nested = 0;
    int refused = 0;
    // The timer fires again during every pause of the running tick.
    board.duringPause = [&] {
        ++nested;
        EXPECT_TRUE(tick.running());
        if (!tick.run())
            ++refused;
    };
    EXPECT_TRUE(tick.run());
    EXPECT_EQ(nested, 8);
    EXPECT_EQ(refused, 8);
    EXPECT_EQ(board.log.filter(QStringLiteral("pause")).size(), 8);
    EXPECT_FALSE(tick.running());
    // The next tick after it runs normally.
    board.duringPause = nullptr;
    EXPECT_TRUE(tick.run());
}

} // namespace
