#pragma once

#include <QPoint>
#include <QString>

class QWidget;

namespace kiku {

// What the windows below the application core may ask of the main window: where it stands,
// its clock text and its two partner-counter boxes. The main window installs itself while it
// exists; without one, current() is nullptr and callers leave the board alone.
class MainBoard {
public:
    virtual ~MainBoard() = default;

    // The main window's top-left corner on the screen.
    virtual QPoint boardPosition() const = 0;
    // The clock box: the current date and time as the main window shows them.
    virtual QString clockBoxText() const = 0;
    // The working copies of the partner counters (received, sent).
    virtual QString receivedCountText() const = 0;
    virtual void setReceivedCountText(const QString& text) = 0;
    virtual QString sentCountText() const = 0;
    virtual void setSentCountText(const QString& text) = 0;
    // The main window itself, for the windows that switch back to it.
    virtual QWidget* boardWindow() = 0;

    static MainBoard* current();
    // Installs the board (not owned); nullptr removes it.
    static void install(MainBoard* board);
};

} // namespace kiku
