#include "player/playback.h"

#include "link/rcs_sock.h"

#include <cstdlib>

void do_pause() {
    rcssock_send("<set_seq status=\"pause\" />\n");
}

void do_setTime(const char* time) {
    // Without a position there is nowhere to seek to; rewinding instead
    // would lose the listener's place.
    if (time == nullptr) {
        return;
    }
    unsigned long long seconds = strtoull(time, nullptr, 10);
    rcssock_send("<set_seq time=\"%lld\" />\n", static_cast<long long>(seconds * 1000ULL));
}
