#pragma once

#include <QString>

class QLabel;

namespace kiku {

// "\Data\<file>": a picture of the program folder as the windows name it.
QString dataPicture(const char* file);

// Loads a picture from the program folder ("\Data\R.gif") into a picture control; a
// missing or unreadable file leaves the control empty.
void showPicture(QLabel* picture, const QString& relativeFile);

// The press of a picture button: the pressed picture for 100 ms, then the resting one
// again, unless the control went away with its window meanwhile.
void pressPicture(QLabel* picture, const QString& pressedFile, const QString& restingFile);

} // namespace kiku
