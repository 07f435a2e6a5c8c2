#pragma once

#include <QList>
#include <QSize>

namespace kiku::hearts {

// The arithmetic of the two hearts on the main window. Sizes and positions are in twips.

// The size a heart rests at between beats, and the merged heart's two sizes.
inline constexpr QSize kRestingSize{240, 160};
inline constexpr QSize kMergedBeatSize{1800, 1400};
inline constexpr QSize kMergedRestingSize{1890, 1470};
inline constexpr int kMergedTop = 2000;
inline constexpr int kMergeCount = 1000;
inline constexpr int kBalanceLimit = 100;

struct Growth {
    double factor = 0; // the beat is 260 x 200 twips times this
    bool merged = false;
};

// Growth of one heart from its own count: 0 up to 1, then 1 to 3 in steps of 0.25 per
// hundred messages (ranges closed at the top: 100 is 1, 101 is 1.25). Above 900 the hearts
// are merged when both counts have reached 1000; otherwise the heart beats to nothing.
Growth growth(qint64 ownCount, qint64 receivedCount, qint64 sentCount);

// True when the two counts are more than 100 apart (100 apart is still balanced).
bool balanceLost(qint64 receivedCount, qint64 sentCount);

// The size a heart beats to for a growth factor (width 260 x g, height 200 x g).
QSize beatSize(double factor);

// Left positions of one flight: the sent side flies leftwards from 7110 in steps of 400
// while x > 4639; the received side rightwards from 970 in steps of 400 while x <= 3600.
QList<int> sentFlight();
QList<int> receivedFlight();

} // namespace kiku::hearts
