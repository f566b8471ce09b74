// The time bytes take on a serial line: at a pace, each byte takes ten bit times and bytes queue behind
// each other, one direction at a time.
#pragma once

#include <algorithm>

namespace sim {

struct LinePace {
    long long byteUs = 0; // 0: no pace
    long long freeAt = 0;
    // The time (microseconds) the last bit of a byte that is ready at `ready` arrives.
    long long Take(long long ready) {
        freeAt = std::max(ready, freeAt) + byteUs;
        return freeAt;
    }
};

} // namespace sim
