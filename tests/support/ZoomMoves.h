#pragma once
// The moves of a recorded zoom track: the entries without those that hold a resting zoom until
// just before a move (which the recorder adds after every rest, so their number depends on how
// the moves were timed).

#include "ZoomTrack.h"

namespace testsupport {

inline ZoomTrack movesOf(const ZoomTrack& track) {
    ZoomTrack moves;
    moves.orient = track.orient;
    for (qsizetype i = 0; i < track.size(); ++i) {
        const bool hold = i > 0 && i + 1 < track.size() && track[i].zoom == track[i - 1].zoom &&
                          track[i + 1].atTime - track[i].atTime < 0.01;
        if (!hold) moves.entries.push_back(track[i]);
    }
    return moves;
}

}  // namespace testsupport
