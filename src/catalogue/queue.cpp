#include "catalogue/queue.h"

#include "common/str.h"
#include "player/ondemandPlayer.h"
#include "state/playManager.h"
#include "state/queuelist.h"
#include "state/service.h"
#include "state/where.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <cstdlib>

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

// The play manager takes its next song from the changed queue.
void follow_the_queue(const char* message) {
    updatePlayManager();
    json_make_playmanager_info();
    if (message != nullptr) {
        json_make_dlg_message("Message", message);
    }
}

bool is_word(const char* value, const char* word) {
    return str::iequals(value, word);
}

uint64_t id_of(const char* songId) {
    return static_cast<uint64_t>(strtoll(songId, nullptr, 10));
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
            follow_the_queue(DLG_MSG_SET_QUEUE);
        } else if (!top && isStepEnd() && !isQueuelistEmpty && playing_the_queue()) {
            follow_the_queue(DLG_MSG_ADD_QUEUE);
        } else {
            play_queue_from_start();
        }
        isQueuelistEmpty = false;
    } else if (top) {
        addSongToQueuelistTop(id_of(songId), true);
    } else {
        // A refused song (full queue, unknown id, not playable) is skipped.
        addSongToQueuelistBtm(id_of(songId));
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
            follow_the_queue(nullptr);
        }
        hide_wait_dialog();
    } else {
        // Within a batch each index refers to the queue as already shortened.
        rmvSongToQueuelist(atoi(display_order));
    }
}

void sortQueue(const char* before, const char* after) {
    if (get_status() == 0) {
        return;
    }
    sortQueuelist(before != nullptr ? atoi(before) : 0, after != nullptr ? atoi(after) : 0);
    json_make_queuelist_json();
}

void quickPlayQueueSong(const char* category, const char* songId) {
    if (get_status() == 0 || songId == nullptr) {
        return;
    }
    setWhereEvent(category != nullptr ? category : "");
    addSongToQueuelistTop(id_of(songId), false);
    set_next_control_status(0);
    ondemandPlaySong(CATEGORY_QUEUE, 0, 0);
}
