#include "catalogue/queue.h"

#include "base/debug.h"
#include "common/str.h"
#include "player/ondemandPlayer.h"
#include "state/playManager.h"
#include "state/queuelist.h"
#include "state/service.h"
#include "state/where.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <climits>
#include <cstdint>

namespace {

// Whether the queue counted as empty when the current add batch began.
bool isQueuelistEmpty = true;

bool playing_the_queue() {
    return getOndemandPlayManager().category == CATEGORY_QUEUE;
}

void checkEmptyToQueuelist() {
    if (get_seq_status() == SEQ_PLAY && playing_the_queue()) {
        isQueuelistEmpty = false;
    } else {
        isQueuelistEmpty = queuelist_get().empty();
    }
}

void play_queue_from_start() {
    set_next_control_status(0);
    setWhereEvent("queuelist");
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
}

void show_batch(const char* message) {
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, message, true, false);
}

void end_batch() {
    json_make_queuelist_json();
    hide_wait_dialog();
}

// The play manager takes its next song from the changed queue; a song being
// prepared is looked for where the edit moved it unless the edit chose the
// index itself.
void follow_the_queue(const char* message, bool relocate) {
    ondemandFollowList(relocate);
    json_make_playmanager_info();
    if (message != nullptr) {
        json_make_dlg_message("Message", message);
    }
}

bool is_word(const char* value, const char* word) {
    return str::iequals(value, word);
}

// Ids and display orders are whole numbers; any other text is refused.
bool id_of(const char* songId, uint64_t& id) {
    unsigned long long value = 0;
    if (!str::parse_number(songId, UINT64_MAX, value)) {
        debug_printf("queue: \"%s\" is no song id\n", songId);
        return false;
    }
    id = value;
    return true;
}

bool index_of(const char* display_order, int& index) {
    unsigned long long value = 0;
    if (!str::parse_number(display_order, INT_MAX, value)) {
        debug_printf("queue: \"%s\" is no display order\n",
                     display_order != nullptr ? display_order : "");
        return false;
    }
    index = static_cast<int>(value);
    return true;
}

// One song of an add batch, or its "start" or "end". At the end a queue that
// was empty, or is not being played, plays from its first entry; otherwise
// the play manager takes its next song from the changed queue.
void add_to_queue(const char* songId, bool top) {
    if (get_status() == 0 || songId == nullptr) {
        return;
    }
    if (is_word(songId, "start")) {
        show_batch(DLG_MSG_ADD_QU);
        checkEmptyToQueuelist();
    } else if (is_word(songId, "end")) {
        end_batch();
        if (top && !isQueuelistEmpty && playing_the_queue()) {
            setPlaySongIndex(0);
            follow_the_queue(DLG_MSG_SET_QUEUE, false);
        } else if (!top && isStepEnd() && !isQueuelistEmpty && playing_the_queue()) {
            follow_the_queue(DLG_MSG_ADD_QUEUE, true);
        } else {
            play_queue_from_start();
        }
        isQueuelistEmpty = false;
    } else if (uint64_t id = 0; !id_of(songId, id)) {
        // Not a song: skipped like a refused one.
    } else if (top) {
        addSongToQueuelistTop(id, true);
    } else {
        // A refused song (full queue, unknown id, not playable) is skipped.
        addSongToQueuelistBtm(id);
    }
}

} // namespace

void setting_queuelist() {
    json_make_queuelist_json();
}

void addSongToQueueBtm(const char* songId) {
    add_to_queue(songId, false);
}

void addSongToQueueTop(const char* songId) {
    add_to_queue(songId, true);
}

void rmvSongToQueue(const char* display_order) {
    if (get_status() == 0 || display_order == nullptr) {
        return;
    }
    if (is_word(display_order, "start")) {
        show_batch(DLG_MSG_DELETE);
    } else if (is_word(display_order, "end")) {
        json_make_queuelist_json();
        if (playing_the_queue()) {
            follow_the_queue(nullptr, true);
        }
        hide_wait_dialog();
    } else if (int index = 0; index_of(display_order, index)) {
        // Within a batch each index refers to the queue as already shortened.
        rmvSongToQueuelist(index);
    }
}

void sortQueue(const char* before, const char* after) {
    if (get_status() == 0) {
        return;
    }
    int from = 0;
    int to = 0;
    if (!index_of(before, from) || !index_of(after, to)) {
        return;
    }
    sortQueuelist(from, to);
    json_make_queuelist_json();
    // A song being prepared keeps its place in the play.
    if (playing_the_queue() && !isStepEnd()) {
        ondemandFollowList(true);
        json_make_playmanager_info();
    }
}

void quickPlayQueueSong(const char* category, const char* songId) {
    if (get_status() == 0 || songId == nullptr) {
        return;
    }
    uint64_t id = 0;
    const std::vector<Song>& queue = queuelist_get();
    std::string front = queue.empty() ? std::string() : queue.front().uid;
    // A song the list does not hold, or may not play, is not played, nor
    // anything in its place.
    if (!id_of(songId, id) || addSongToQueuelistTop(id, false) != 0 || queue.empty() ||
        queue.front().uid == front) {
        return;
    }
    setWhereEvent(category != nullptr ? category : "");
    set_next_control_status(0);
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
}
