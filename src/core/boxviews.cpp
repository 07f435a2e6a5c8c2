#include "core/boxviews.h"

#include "base/forms.h"
#include "base/pause.h"
#include "base/pictures.h"
#include "core/boxexportui.h"
#include "core/mainform.h"
#include "viewer/tyakuform.h"

#include <QLabel>
#include <QPointer>

namespace kiku {

namespace {

const QString kPressedPicture = QStringLiteral("\\Data\\BotanHenka.gif");

// The press feedback on the board. False when the view must not go on: another press of the
// board was under way, or the board went away during the feedback's pause.
bool giveFeedback(MainForm* board, const BoxViewFeedback& feedback) {
    QLabel* picture = board->boardControl(QLatin1String(feedback.picture));
    if (!picture)
        return true;
    if (feedback.kind == BoxViewFeedback::Flash)
        return pressPictureButton(board, picture, kPressedPicture,
                                  QString::fromUtf8(feedback.restingFile));
    if (!beginPress(board))
        return false;
    const QPointer<MainForm> alive(board);
    picture->hide();
    Pause::wait(100);
    if (!alive)
        return false;
    picture->show();
    endPress(board);
    return true;
}

} // namespace

QString unusableCaption(int spaces) {
    return QString(spaces, QLatin1Char(' ')) + QStringLiteral("使用不可");
}

const std::array<BoxView, 5>& boxViews() {
    // Moving to the storage box is offered only in the others in-box (caption and picture
    // alike: the move takes its message out of that box), replying everywhere but in the
    // two sent boxes.
    static const std::array<BoxView, 5> views{{
        {Box::PartnerInbox,
         QStringLiteral("特定の相手からの着信履歴"),
         {BoxViewFeedback::HidePicture, "Image18", ""},
         unusableCaption(24),
         false,
         false,
         TyakuForm::kReplyCaption,
         true},
        {Box::OthersInbox,
         QStringLiteral("着信履歴（その他）"),
         {BoxViewFeedback::Flash, "Image12", "\\Data\\P.gif"},
         TyakuForm::kMoveCaption,
         true,
         true,
         TyakuForm::kReplyCaption,
         true},
        {Box::Storage,
         QStringLiteral("保管箱"),
         {BoxViewFeedback::Flash, "Image12", "\\Data\\P.gif"},
         unusableCaption(24),
         false,
         false,
         TyakuForm::kReplyCaption,
         true},
        {Box::PartnerSent,
         QStringLiteral("特定の相手への送信履歴"),
         {BoxViewFeedback::Flash, "Image11", "\\Data\\S.gif"},
         unusableCaption(25),
         false,
         false,
         unusableCaption(26),
         false},
        {Box::OthersSent,
         QStringLiteral("特定の相手以外への送信履歴"),
         {BoxViewFeedback::Flash, "Image11", "\\Data\\S.gif"},
         unusableCaption(24),
         false,
         false,
         unusableCaption(26),
         false},
    }};
    return views;
}

const BoxView& boxView(Box box) {
    for (const BoxView& view : boxViews()) {
        if (view.box == box)
            return view;
    }
    Q_UNREACHABLE();
}

TyakuForm* openBoxView(Box box, MainForm* board) {
    const BoxView& view = boxView(box);

    // 1: the move-to-storage caption (loading the viewer, hidden, when it is not loaded).
    Forms::touch<TyakuForm>()->moveCaptionLabel()->setText(view.moveCaption);

    // 2: feedback on the main window; a board closed meanwhile opens no view.
    if (board && !giveFeedback(board, view.feedback))
        return nullptr;

    // 3: the viewer on screen. It may have been closed during the feedback pause, in which
    // case this loads it afresh, so the caption of step 1 is set once more.
    TyakuForm* viewer = Forms::show<TyakuForm>();
    viewer->moveCaptionLabel()->setText(view.moveCaption);

    // 4: the box-specific buttons.
    viewer->moveCaptionLabel()->setEnabled(view.moveCaptionEnabled);
    viewer->movePicture()->setEnabled(view.movePictureEnabled);
    viewer->replyCaptionLabel()->setText(view.replyCaption);
    viewer->replyCaptionLabel()->setEnabled(view.replyEnabled);

    // 5, 6: caption and current-box code.
    viewer->setWindowTitle(view.caption);
    viewer->setCurrentBoxCode(boxInfo(box).code);

    // The list's context menu offers the export of the box on show.
    offerBoxExport(viewer);

    // 7 to 9: the list, from the box file.
    viewer->fillList(box);
    return viewer;
}

} // namespace kiku
