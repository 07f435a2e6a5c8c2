#include "core/hearttick.h"

#include "base/paths.h"
#include "base/prompter.h"
#include "base/text.h"
#include "core/hearts.h"
#include "settings/profile.h"

namespace kiku {

namespace {
constexpr int kStepMs = 150;
using Picture = HeartBoard::Picture;
} // namespace

QString HeartTick::balanceMessage() {
    return QStringLiteral("送受信のバランスが崩れました。リセットします。");
}

bool HeartTick::run() {
    if (m_running)
        return false;
    m_running = true;
    checkBalance();
    const qint64 received = leadingCount(m_board.receivedCountText());
    const qint64 sent = leadingCount(m_board.sentCountText());
    if (m_side == Side::Received)
        runReceived(received, sent);
    else
        runSent(received, sent);
    m_running = false;
    return true;
}

void HeartTick::checkBalance() {
    const qint64 received = leadingCount(m_board.receivedCountText());
    const qint64 sent = leadingCount(m_board.sentCountText());
    if (!hearts::balanceLost(received, sent))
        return;
    Prompter::current().notify(balanceMessage());
    WriteSetting(paths::kCounterFile, QStringLiteral("NAME"), QStringLiteral("0"));
    WriteSetting(paths::kCounterFile, QStringLiteral("NAME2"), QStringLiteral("0"));
    m_board.setCountTexts(QStringLiteral("0"), QStringLiteral("0"));
}

void HeartTick::runSent(qint64 received, qint64 sent) {
    m_board.setVisible(Picture::SentLanding, false);
    const hearts::Growth growth = hearts::growth(sent, received, sent);
    if (!growth.merged) {
        m_board.setScaleFlying(false);
        beat(Picture::SentHeart, growth.factor);
        fly(Picture::SentFlyer);
        m_board.setVisible(Picture::SentLanding, true);
        return;
    }
    // The merged heart: a flight, the beat of the big heart at its place, a second flight.
    fly(Picture::SentFlyer);
    m_board.setVisible(Picture::SentLanding, true);
    m_board.setVisible(Picture::ReceivedHeart, false);
    m_board.setTop(Picture::SentHeart, hearts::kMergedTop);
    beatMerged();
    fly(Picture::SentFlyer, true);
    m_board.setVisible(Picture::SentLanding, true);
}

void HeartTick::runReceived(qint64 received, qint64 sent) {
    const hearts::Growth growth = hearts::growth(received, received, sent);
    m_board.setVisible(Picture::ReceivedLanding, false);
    if (!growth.merged) {
        m_board.setScaleFlying(false);
        beat(Picture::ReceivedHeart, growth.factor);
    } else {
        m_board.setVisible(Picture::ReceivedHeart, false);
        beatMerged();
    }
    fly(Picture::ReceivedFlyer);
    m_board.setVisible(Picture::ReceivedLanding, true);
}

void HeartTick::beat(Picture heart, double factor) {
    m_board.setSize(heart, hearts::beatSize(factor));
    m_board.pause(kStepMs);
    m_board.setSize(heart, hearts::kRestingSize);
}

void HeartTick::beatMerged() {
    m_board.setSize(Picture::SentHeart, hearts::kMergedBeatSize);
    m_board.pause(kStepMs);
    m_board.setSize(Picture::SentHeart, hearts::kMergedRestingSize);
}

void HeartTick::fly(Picture flyer, bool hideLandingEachStep) {
    const bool sent = flyer == Picture::SentFlyer;
    for (int left : sent ? hearts::sentFlight() : hearts::receivedFlight()) {
        if (hideLandingEachStep)
            m_board.setVisible(Picture::SentLanding, false);
        m_board.setLeft(flyer, left);
        m_board.pause(kStepMs);
        m_board.setScaleFlying(true);
    }
}

} // namespace kiku
