#pragma once

#include <QString>

class QEvent;
class QLabel;
class QObject;
class QWidget;

namespace kiku {

// "\Data\<file>": a picture of the program folder as the windows name it.
QString dataPicture(const char* file);

// Loads a picture from the program folder ("\Data\R.gif") into a picture control; a
// missing or unreadable file leaves the control empty.
void showPicture(QLabel* picture, const QString& relativeFile);

// The press of a picture button: the pressed picture for 100 ms, then the resting one
// again, unless the control went away with its window meanwhile.
void pressPicture(QLabel* picture, const QString& pressedFile, const QString& restingFile);

// One press at a time per window. beginPress() is false while another press of the same
// window is still under way (its picture showing, its command not yet started); otherwise it
// marks the window and the caller ends the press with endPress(), once it knows the window
// still exists.
bool beginPress(QWidget* window);
void endPress(QWidget* window);

// A picture button of `window` pressed: the press animation of pressPicture(), guarded.
// True when the command should run now: no other press of the window was under way and the
// window still exists after the animation's pause (which lets anything happen, the window
// closing included). False means: do nothing further, not even touch the window.
bool pressPictureButton(QWidget* window, QLabel* picture, const QString& pressedFile,
                        const QString& restingFile);

// Tells a click on a control from the release that ends a double-click. The window system
// reports a double-click as press, release, double-click, release; only the first release
// is a click, so one double-click runs one command. A window feeds it every mouse press,
// double-click and release of its clickable controls.
class ClickTracker {
public:
    // True for a release that completes a click on `watched`, false for anything else.
    bool isClick(QObject* watched, const QEvent* event);

private:
    const QObject* m_doubleClicked = nullptr;
};

} // namespace kiku
