#include "core/heartboard.h"

#include "base/pause.h"
#include "base/twips.h"
#include "core/mainform.h"

#include <QLabel>
#include <QLineEdit>

namespace kiku {

QLabel* MainFormHeartBoard::control(Picture picture) const {
    if (!m_main)
        return nullptr;
    const char* name = "";
    switch (picture) {
    case Picture::SentHeart:
        name = "Image3";
        break;
    case Picture::ReceivedHeart:
        name = "Image4";
        break;
    case Picture::SentFlyer:
        name = "Image6";
        break;
    case Picture::ReceivedFlyer:
        name = "Image5";
        break;
    case Picture::SentLanding:
        name = "Image8";
        break;
    case Picture::ReceivedLanding:
        name = "Image9";
        break;
    }
    return m_main->boardControl(QLatin1String(name));
}

QString MainFormHeartBoard::receivedCountText() const {
    return m_main ? m_main->receivedCountBox()->text() : QString();
}

QString MainFormHeartBoard::sentCountText() const {
    return m_main ? m_main->sentCountBox()->text() : QString();
}

void MainFormHeartBoard::setCountTexts(const QString& received, const QString& sent) {
    if (!m_main)
        return;
    m_main->receivedCountBox()->setText(received);
    m_main->sentCountBox()->setText(sent);
}

void MainFormHeartBoard::setVisible(Picture picture, bool visible) {
    if (QLabel* label = control(picture))
        label->setVisible(visible);
}

void MainFormHeartBoard::setSize(Picture picture, QSize size) {
    if (QLabel* label = control(picture))
        label->resize(twipsToPixels(size.width()), twipsToPixels(size.height()));
}

void MainFormHeartBoard::setLeft(Picture picture, int left) {
    if (QLabel* label = control(picture))
        label->move(twipsToPixels(left), label->y());
}

void MainFormHeartBoard::setTop(Picture picture, int top) {
    if (QLabel* label = control(picture))
        label->move(label->x(), twipsToPixels(top));
}

void MainFormHeartBoard::setScaleFlying(bool flying) {
    if (!m_main)
        return;
    QLabel* scale = m_main->boardControl(QStringLiteral("Label3"));
    QFont font = scale->font();
    font.setPointSize(flying ? 14 : 10);
    font.setItalic(flying);
    scale->setFont(font);
}

void MainFormHeartBoard::pause(int milliseconds) {
    if (m_main)
        Pause::wait(milliseconds);
}

} // namespace kiku
