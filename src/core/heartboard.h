#pragma once

#include "core/hearttick.h"

#include <QPointer>

class QLabel;

namespace kiku {

class MainForm;

// The main window's heart pictures, count boxes and "Heart  of  Scale" caption as a
// HeartBoard. Once the window is gone every call does nothing, so a tick that was pausing
// while the window closed runs out harmlessly.
class MainFormHeartBoard : public HeartBoard {
public:
    explicit MainFormHeartBoard(MainForm* main) : m_main(main) {}

    QString receivedCountText() const override;
    QString sentCountText() const override;
    void setCountTexts(const QString& received, const QString& sent) override;
    void setVisible(Picture picture, bool visible) override;
    void setSize(Picture picture, QSize size) override;
    void setLeft(Picture picture, int left) override;
    void setTop(Picture picture, int top) override;
    void setScaleFlying(bool flying) override;
    void pause(int milliseconds) override;

private:
    QLabel* control(Picture picture) const;

    QPointer<MainForm> m_main;
};

// One heart timer: its tick and the board it works on. The timer handler keeps a shared
// copy while the tick runs, so the tick outlives a window closed during one of its pauses.
struct HeartTimer {
    HeartTimer(MainForm* main, HeartTick::Side side) : board(main), tick(side, board) {}
    MainFormHeartBoard board;
    HeartTick tick;
};

} // namespace kiku
