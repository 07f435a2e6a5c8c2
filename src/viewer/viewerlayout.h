#pragma once

namespace kiku {

// The viewer window re-arranges itself when it is resized and again whenever the pointer
// moves over its background; the two differ only in the reading pane's share of the height.
enum class LayoutTrigger { Resize, MouseMove };

// What the arrangement starts from. All values are in twips.
struct ViewerLayoutInput {
    double width = 0;  // the window's outer width
    double height = 0; // the window's outer height
    bool maximised = false;
    LayoutTrigger trigger = LayoutTrigger::Resize;
    double paneLeft = 20;      // the reading pane keeps the left it was given at load
    double copyButtonLeft = 0; // where the copy button is before this arrangement
    double statusBarLeft = 0;
    double statusBarTop = 0;
};

// Where everything goes, in twips. Values that the arrangement does not touch (the list's
// left and top, the boxes' heights) stay with the window.
struct ViewerLayout {
    double listWidth = 0;
    double listHeight = 0;
    double boxesTop = 0;   // subject, address and date boxes
    double stripWidth = 0; // the picture-button strip
    double paneWidth = 0;
    double paneTop = 0;
    double paneHeight = 0;
    double subjectLeft = 0;
    double subjectWidth = 0;
    double addressLeft = 0;
    double addressWidth = 0;
    double dateLeft = 0;
    double dateWidth = 0;
    double stagingLeft = 0; // the copy staging box
    double stagingTop = 0;
    double copyButtonLeft = 0;
    double copyButtonTop = 0;
    // A move over the background also puts the hint away.
    bool hideHint = false;
};

// The arrangement, step by step as the window always did it. Pure arithmetic, so it is
// the same on every screen.
ViewerLayout computeViewerLayout(const ViewerLayoutInput& in);

} // namespace kiku
