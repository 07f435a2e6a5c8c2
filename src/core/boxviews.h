#pragma once

#include "store/mailbox.h"

#include <QString>
#include <array>

namespace kiku {

class MainForm;
class TyakuForm;

// How a box button of the main window answers a click before the viewer comes up.
struct BoxViewFeedback {
    enum Kind {
        HidePicture, // the picture disappears for 100 ms
        Flash,       // the pressed picture for 100 ms, then the picture's own
    };
    Kind kind;
    const char* picture;     // the main window's picture control ("Image12")
    const char* restingFile; // its own picture ("\Data\P.gif"); empty for HidePicture
};

// One of the five box views: which box the viewer opens, and what the viewer's caption and
// its box-specific buttons become.
struct BoxView {
    Box box;
    QString caption; // the viewer's caption
    BoxViewFeedback feedback;
    QString moveCaption; // the move-to-storage caption label
    bool moveCaptionEnabled;
    bool movePictureEnabled;
    QString replyCaption;
    bool replyEnabled;
};

// The caption of a button that the box on show does not offer: a run of spaces, then
// "使用不可".
QString unusableCaption(int spaces);

// The five views in the order of the main window's buttons: partner in-box, others
// in-box, storage box, partner sent box, others sent box.
const std::array<BoxView, 5>& boxViews();
const BoxView& boxView(Box box);

// A box button's click: feedback on `board` (none when it is null), the viewer shown with
// the view's caption, current-box code and buttons, and the list filled from the box file.
// Each view sets all of the box-specific buttons, so what a view offers does not depend on
// the view before it. Returns the viewer, or nullptr when the board went away during its
// feedback (or another press of the board was under way): then no view opens.
TyakuForm* openBoxView(Box box, MainForm* board);

} // namespace kiku
