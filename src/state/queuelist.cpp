#include "state/queuelist.h"

#include "common/common.h"
#include "state/song_list.h"

namespace {

std::vector<Song> queuelist_;

// Adds that skip the limit (a quick play) still stop here, so a peer that
// quick-plays without end cannot grow the queue without end. The oldest entry
// at the bottom makes room, so the song asked for is still the one on top.
constexpr size_t QUEUE_HARD_MAX = 2 * QUEUE_MAX;

// The song-list record as a new queue entry; -1 when it may not be added,
// 1 when it is refused without failure (not playable).
int new_entry(uint64_t id, Song& song) {
    if (getSongInfo(id, song) < 0) {
        return -1;
    }
    if (song.isPlayOk == "false") {
        return 1;
    }
    get_randomid(song.uid);
    return 0;
}

} // namespace

std::vector<Song>& queuelist_get() {
    return queuelist_;
}

// The queue has no lines of its own in the debug log.
void queuelist_dump() {}

void init_qlist() {
    queuelist_.clear();
}

int getSongInfo(uint64_t id, Song& song) {
    return songlist_find(id, song) ? 0 : -1;
}

int addSongToQueuelistBtm(uint64_t id) {
    if (isMaxSize_Queue()) {
        return -1;
    }
    Song song;
    int made = new_entry(id, song);
    if (made != 0) {
        return made < 0 ? -1 : 0;
    }
    queuelist_.push_back(song);
    updateDisplayOrders();
    return 0;
}

int addSongToQueuelistTop(uint64_t id, bool checkMax) {
    if (checkMax && isMaxSize_Queue()) {
        return -1;
    }
    Song song;
    int made = new_entry(id, song);
    if (made != 0) {
        return made < 0 ? -1 : 0;
    }
    if (queuelist_.size() >= QUEUE_HARD_MAX) {
        queuelist_.resize(QUEUE_HARD_MAX - 1);
    }
    queuelist_.insert(queuelist_.begin(), song);
    updateDisplayOrders();
    return 0;
}

int rmvSongToQueuelist(int index) {
    if (index < 0 || static_cast<size_t>(index) >= queuelist_.size()) {
        return -1;
    }
    queuelist_.erase(queuelist_.begin() + index);
    updateDisplayOrders();
    return 0;
}

void sortQueuelist(int from, int to) {
    size_t size = queuelist_.size();
    if (from < 0 || to < 0 || static_cast<size_t>(from) >= size ||
        static_cast<size_t>(to) >= size) {
        return;
    }
    Song moved = queuelist_[static_cast<size_t>(from)];
    queuelist_.erase(queuelist_.begin() + from);
    queuelist_.insert(queuelist_.begin() + to, moved);
    updateDisplayOrders();
}

void updateDisplayOrders() {
    for (size_t i = 0; i < queuelist_.size(); ++i) {
        queuelist_[i].display_order = static_cast<uint32_t>(i);
    }
}

bool isMaxSize_Queue() {
    return queuelist_.size() >= QUEUE_MAX;
}
