#include "core/hearts.h"

#include <cmath>

namespace kiku::hearts {

Growth growth(qint64 ownCount, qint64 receivedCount, qint64 sentCount) {
    if (ownCount <= 1)
        return {0, false};
    if (ownCount > 900) {
        const bool merged = receivedCount >= kMergeCount && sentCount >= kMergeCount;
        return {0, merged};
    }
    // 2..100 -> 1, 101..200 -> 1.25, ..., 801..900 -> 3
    const qint64 hundreds = (ownCount - 1) / 100; // 0 for 2..100, 8 for 801..900
    return {1.0 + 0.25 * double(hundreds), false};
}

bool balanceLost(qint64 receivedCount, qint64 sentCount) {
    return receivedCount - sentCount > kBalanceLimit || sentCount - receivedCount > kBalanceLimit;
}

QSize beatSize(double factor) {
    return {int(std::lround(260 * factor)), int(std::lround(200 * factor))};
}

QList<int> sentFlight() {
    QList<int> xs;
    for (int x = 7110; x > 4639; x -= 400)
        xs << x;
    return xs;
}

QList<int> receivedFlight() {
    QList<int> xs;
    for (int x = 970; x <= 3600; x += 400)
        xs << x;
    return xs;
}

} // namespace kiku::hearts
