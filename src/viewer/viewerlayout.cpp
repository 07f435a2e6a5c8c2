#include "viewer/viewerlayout.h"

namespace kiku {

ViewerLayout computeViewerLayout(const ViewerLayoutInput& in) {
    const double w = in.width;
    const double h = in.height;
    ViewerLayout out;

    out.listWidth = 0.99 * w;
    out.listHeight = 0.25 * h;
    out.boxesTop = out.listHeight + 1440;
    out.stripWidth = w;
    out.paneWidth = 0.99 * w;
    out.paneTop = out.listHeight + 1830;

    out.subjectWidth = 0.5 * w;
    out.addressWidth = 0.3 * w;
    out.dateWidth = 0.2 * w;
    out.subjectLeft = in.paneLeft - 15;
    out.addressLeft = out.subjectLeft + 0.5 * w;
    out.dateLeft = out.addressLeft + 0.3 * w - 20;

    // The staging box follows the copy button as it stood before the button is moved.
    out.stagingLeft = in.copyButtonLeft + 3380;
    out.stagingTop = in.statusBarTop + 80;
    out.copyButtonLeft = in.statusBarLeft + 1880;
    out.copyButtonTop = in.statusBarTop + 80;

    const double share = in.trigger == LayoutTrigger::MouseMove ? 0.56 : 0.55;
    out.paneHeight = (h - out.listHeight) * share;

    if (in.maximised) {
        out.stagingTop = h - 1000;
        out.copyButtonTop = h - 980;
    }
    out.hideHint = in.trigger == LayoutTrigger::MouseMove;
    return out;
}

} // namespace kiku
