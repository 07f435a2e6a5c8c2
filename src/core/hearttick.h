#pragma once

#include <QSize>
#include <QString>

namespace kiku {

// The main window's pictures and boxes a heart tick works on. Sizes and positions are in
// twips; the window converts them.
class HeartBoard {
public:
    enum class Picture {
        SentHeart,       // Image3, also the merged heart
        ReceivedHeart,   // Image4
        SentFlyer,       // Image6
        ReceivedFlyer,   // Image5
        SentLanding,     // Image8
        ReceivedLanding, // Image9
    };

    virtual ~HeartBoard() = default;
    // The two count boxes (Text1 received, Text2 sent).
    virtual QString receivedCountText() const = 0;
    virtual QString sentCountText() const = 0;
    virtual void setCountTexts(const QString& received, const QString& sent) = 0;

    virtual void setVisible(Picture picture, bool visible) = 0;
    virtual void setSize(Picture picture, QSize size) = 0;
    virtual void setLeft(Picture picture, int left) = 0;
    virtual void setTop(Picture picture, int top) = 0;
    // Label3 "Heart  of  Scale": 14-point italic while a picture flies, else 10-point upright.
    virtual void setScaleFlying(bool flying) = 0;

    // The shared pause: other events run meanwhile, this tick's next one among them.
    virtual void pause(int milliseconds) = 0;
};

// One heart timer's tick: the balance check, the beat at the size the count has grown to,
// the flight of the small picture and its landing, or the merged heart once both counts
// have reached 1000. A tick pauses eight times for 150 ms, longer than the timer's 500 ms,
// so a tick that fires while the previous one of the same timer still runs does nothing:
// otherwise the ticks would nest deeper and deeper.
class HeartTick {
public:
    enum class Side { Received, Sent };

    HeartTick(Side side, HeartBoard& board) : m_side(side), m_board(board) {}

    // Runs one tick; false (and nothing done) while the previous tick is still running.
    bool run();
    bool running() const { return m_running; }

    static QString balanceMessage();

private:
    void checkBalance();
    void runReceived(qint64 received, qint64 sent);
    void runSent(qint64 received, qint64 sent);
    void beat(HeartBoard::Picture heart, double factor);
    void beatMerged();
    void fly(HeartBoard::Picture flyer, bool hideLandingEachStep = false);

    Side m_side;
    HeartBoard& m_board;
    bool m_running = false;
};

} // namespace kiku
