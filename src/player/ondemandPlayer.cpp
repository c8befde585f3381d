#include "player/ondemandPlayer.h"

#include "base/log.h"
#include "net/curl.h"
#include "player/download.h"
#include "player/playback.h"
#include "player/progress.h"
#include "player/sequencer.h"
#include "player/session.h"
#include "request/answer.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/presetPlaylist.h"
#include "state/queuelist.h"
#include "state/recommendPlaylist.h"
#include "state/where.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <set>

namespace {

unsigned int m_ondemandStep = STEP_START;
// The number of the current play. Every request of the machine carries it,
// so an answer for a play given up since moves nothing; 0 is never used, it
// marks requests made by hand.
uint32_t m_play = 0;
// The indices of the list tried since the user's last action: a song that
// fails moves on to the next, but one action tries each song at most once,
// so repeat "all" or "one" over failing songs ends instead of looping.
std::set<uint32_t> m_tried;
// The machine is moving on after a failure, not following the user.
bool m_movingOn = false;
// The next eviction keeps only the play and the next song.
bool isRemovedFile = false;
// The last move was backwards, so a failing song moves on backwards too.
bool playBackFlg = false;

bool is_playable(const Song& song) {
    return song.isPlayOk != "false";
}

void show_preparing(const char* message) {
    json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, message, true, true);
}

// The machine waits for nothing more: the progress timer stops with it, so
// an idle daemon does not wake up.
void end_steps() {
    m_ondemandStep = STEP_END;
    stopped_progress_timer();
}

void hide_dialog() {
    json_make_dlg_wait_modal("", "", false, false);
}

// Back to the start with nothing under way: answers still coming belong to
// a play that is over.
void reset_steps() {
    m_ondemandStep = STEP_START;
    if (++m_play == 0) {
        m_play = 1;
    }
    stopped_progress_timer();
}

// Nothing more can be tried: the sequencer goes back to the start, the
// record is cleared and the control server hears that no song is loaded.
void give_up() {
    do_setTime("0");
    reset_steps();
    ondemandInitManager();
    setRcsOndemandNoSong();
    json_make_playmanager_info();
    hide_dialog();
}

// Nothing could even be sent for the play song (no token, no curl, no
// address): every other song would fail the same way, so the attempt ends
// here with the reason.
void end_attempt(const std::string& why) {
    log_warning("song %llu failed: %s",
                static_cast<unsigned long long>(getOndemandPlayManager().playSong.id), why.c_str());
    give_up();
    json_make_dlg_error("Error", why);
}

SongTicket ticket_for(const Song& song) {
    return SongTicket{song.id, m_play};
}

// A queue song leaves the queue once it is loaded or has failed; it is found
// by its entry, since edits may have moved it.
void remove_from_queue(const Song& song, uint32_t index) {
    const std::vector<Song>& queue = queuelist_get();
    for (size_t at = 0; at < queue.size(); ++at) {
        if (!song.uid.empty() && queue[at].uid == song.uid) {
            rmvSongToQueuelist(static_cast<int>(at));
            return;
        }
    }
    if (song.uid.empty()) {
        rmvSongToQueuelist(static_cast<int>(index));
    }
}

// The song's music data is there to load: flagged and recorded. The flag
// alone is not enough: the files of a song evicted or fetched anew meanwhile
// are gone until they arrive again.
bool has_music(uint64_t id) {
    return isSongDownload(id) && contents_is_valid_id(id);
}

// The machine waits for answers of the play song or of the next song.
bool is_preparing() {
    return isDownloadStep() || isNextDownloadStep();
}

// The first playable song after `play`, wrapping to the front when `wrap`;
// the end of the list when there is none.
size_t next_playable(const std::vector<Song>& list, size_t play, bool wrap) {
    for (size_t step = 1; step < list.size(); ++step) {
        size_t at = play + step;
        if (at >= list.size()) {
            if (!wrap) {
                break;
            }
            at -= list.size();
        }
        if (is_playable(list[at])) {
            return at;
        }
    }
    return list.size();
}

// The play and next song of a user playlist, which skips unplayable songs.
bool choose_in_user_playlist(const std::vector<Song>& list, uint32_t index, int repeat) {
    size_t play = index;
    while (play < list.size() && !is_playable(list[play])) {
        ++play;
    }
    if (play >= list.size()) {
        return false;
    }
    Song next;
    if (repeat == REPEAT_ONE) {
        next = list[play];
    } else {
        size_t at = next_playable(list, play, repeat == REPEAT_ALL);
        if (at < list.size()) {
            next = list[at];
        } else if (repeat == REPEAT_ALL) {
            next = list[play];
        }
    }
    setPlaySongIndex(static_cast<uint32_t>(play));
    setPlayManagerSongs(list[play], next);
    return true;
}

} // namespace

unsigned int ondemand_step() {
    return m_ondemandStep;
}

uint32_t ondemand_play() {
    return m_play;
}

bool isDownloadStep() {
    return m_ondemandStep == STEP_PLAY_URL || m_ondemandStep == STEP_PLAY_DOWNLOAD;
}

bool isNextDownloadStep() {
    return m_ondemandStep == STEP_NEXT_DOWNLOAD || m_ondemandStep == STEP_NEXT_DOWNLOADING;
}

bool isStepEnd() {
    return m_ondemandStep == STEP_END;
}

bool isAwaitedSong(const SongTicket& ticket) {
    if (ticket.play == 0 || ticket.play != m_play) {
        return false;
    }
    const PlayManager& pm = getOndemandPlayManager();
    if (isDownloadStep()) {
        return ticket.id == pm.playSong.id;
    }
    return isNextDownloadStep() && ticket.id == pm.nextSong.id;
}

bool ondemandGetList(int category, uint32_t index, uint64_t playlistID, std::vector<Song>& out) {
    const std::vector<Song>* list = nullptr;
    static const std::vector<Song> none;
    switch (category) {
    case CATEGORY_QUEUE:
        list = &queuelist_get();
        break;
    case CATEGORY_PRESET: {
        auto it = presetSongs_get().find(playlistID);
        list = it != presetSongs_get().end() && it->second != nullptr ? it->second.get() : &none;
        break;
    }
    case CATEGORY_RECOMMEND:
        list = &none;
        for (const Playlist& playlist : recommendPlaylists_get()) {
            if (playlist.id == playlistID) {
                list = &playlist.songs;
            }
        }
        break;
    case CATEGORY_USER: {
        auto it = playlistSongs_get().find(playlistID);
        list = it != playlistSongs_get().end() ? &it->second : &none;
        break;
    }
    default:
        return false;
    }
    if (index >= list->size()) {
        return false;
    }
    out = *list;
    return true;
}

bool updatePlayManager() {
    const PlayManager& pm = getOndemandPlayManager();
    std::vector<Song> list;
    if (!ondemandGetList(pm.category, pm.playSongIndex, pm.playlistID, list)) {
        setPlayManagerSongs(pm.category == CATEGORY_QUEUE ? pm.playSong : Song(), Song());
        return false;
    }
    uint32_t index = pm.playSongIndex;
    switch (pm.category) {
    case CATEGORY_QUEUE:
        // A loaded queue song has already left the queue: the entry now at
        // its index is the one after it.
        if (m_ondemandStep == STEP_END) {
            setPlayManagerSongs(pm.playSong, list[index]);
        } else {
            setPlayManagerSongs(list[index], index + 1 < list.size() ? list[index + 1] : Song());
        }
        return true;
    case CATEGORY_USER:
        return choose_in_user_playlist(list, index, pm.repeat);
    default: {
        Song next;
        if (pm.repeat == REPEAT_ONE) {
            next = list[index];
        } else if (index + 1 < list.size()) {
            next = list[index + 1];
        } else if (pm.repeat == REPEAT_ALL) {
            next = list[0];
        }
        setPlayManagerSongs(list[index], next);
        return true;
    }
    }
}

void ondemandPlaySong(int category, uint32_t index, uint64_t playlistID) {
    if (!m_movingOn) {
        m_tried.clear();
    }
    do_stopApi(getOndemandPlayManager().playSong.id);
    initPlaySongStep();
    playSongCheck(category, index, playlistID);
}

void initPlaySongStep() {
    reset_steps();
    started_progress_timer();
    progress_put("0.0");
}

void playSongCheck(int category, uint32_t index, uint64_t playlistID) {
    if (m_ondemandStep == STEP_END) {
        return;
    }
    do_pause();
    std::vector<Song> list;
    if (!ondemandGetList(category, index, playlistID, list)) {
        end_steps();
        hide_dialog();
        return;
    }
    const PlayManager& pm = getOndemandPlayManager();
    std::string why;
    for (;;) {
        switch (m_ondemandStep) {
        case STEP_START:
            show_preparing(DLG_MSG_LOADING);
            if (category == CATEGORY_QUEUE || category != pm.category ||
                playlistID != pm.playlistID) {
                isRemovedFile = true;
            }
            setPlayManagerSource(category, index, playlistID);
            m_ondemandStep = STEP_CHOOSE;
            break;
        case STEP_CHOOSE:
            if (!updatePlayManager()) {
                stopped_progress_timer();
                json_make_dlg_error("Error", "update song data error");
                return;
            }
            // The queue drops each song that fails, so it always moves on.
            if (category != CATEGORY_QUEUE && !m_tried.insert(pm.playSongIndex).second) {
                log_warning("play stopped: every song of the list failed");
                give_up();
                return;
            }
            m_ondemandStep = STEP_PLAY_URL;
            break;
        case STEP_PLAY_URL:
            m_ondemandStep = STEP_PLAY_DOWNLOAD;
            if (fetch_song_addresses(ticket_for(pm.playSong), why) != 0) {
                end_attempt(why);
            }
            return;
        case STEP_PLAY_DOWNLOAD:
            if (!has_music(pm.playSong.id)) {
                show_preparing(DLG_MSG_CONNECTING);
                int started = fetch_song_files(ticket_for(pm.playSong), why);
                if (started < 0) {
                    end_attempt(why);
                } else if (started > 0) {
                    // A song of its own the service has no file for.
                    playManagerDownloadError();
                    json_make_dlg_error("Error", why);
                }
                return;
            }
            m_ondemandStep = isNextSong() ? STEP_NEXT_URL : STEP_EVICT;
            break;
        case STEP_NEXT_URL:
            // The next song is optional: without its addresses the play
            // song loads on its own.
            m_ondemandStep = STEP_NEXT_DOWNLOAD;
            if (fetch_song_addresses(ticket_for(pm.nextSong), why) == 0) {
                return;
            }
            m_ondemandStep = STEP_EVICT;
            break;
        case STEP_NEXT_DOWNLOAD:
            m_ondemandStep = STEP_NEXT_DOWNLOADING;
            if (!has_music(pm.nextSong.id)) {
                show_preparing(DLG_MSG_CONNECTING);
                if (fetch_song_files(ticket_for(pm.nextSong), why) == 0) {
                    return;
                }
                m_ondemandStep = STEP_EVICT;
            }
            break;
        case STEP_NEXT_DOWNLOADING:
            m_ondemandStep = STEP_EVICT;
            break;
        case STEP_EVICT:
            show_preparing(DLG_MSG_LOADING);
            if (isRemovedFile) {
                removedOldFile(0);
                if (category != CATEGORY_QUEUE) {
                    isRemovedFile = false;
                }
            } else {
                removeFileToMaxNum();
            }
            m_ondemandStep = STEP_LOAD;
            break;
        case STEP_LOAD:
            if (do_load(pm.playSong.id) != 0) {
                // A song the sequencer cannot be told to load fails as one
                // that could not be downloaded.
                playManagerDownloadError();
                json_make_dlg_error("Error", server_error_text(CURL_DOWNLOAD_FAILED, "download"));
                return;
            }
            m_ondemandStep = STEP_END;
            playBackFlg = false;
            // A queue song leaves the queue once it is loaded.
            if (category == CATEGORY_QUEUE) {
                remove_from_queue(pm.playSong, index);
                json_make_queuelist_json();
            }
            json_make_playmanager_info();
            setDialogProg("100.0");
            json_make_dlg_wait_modal("", "", false, true);
            stopped_progress_timer();
            return;
        default:
            return;
        }
    }
}

void ondemandNextStep() {
    const PlayManager& pm = getOndemandPlayManager();
    playSongCheck(pm.category, pm.playSongIndex, pm.playlistID);
}

void skipNextSongStep() {
    if (isNextDownloadStep()) {
        m_ondemandStep = STEP_EVICT;
    }
    ondemandNextStep();
}

void ondemandPlayNext() {
    const PlayManager& pm = getOndemandPlayManager();
    if (pm.category == CATEGORY_QUEUE) {
        setWhereEvent("queuelist");
        ondemandPlaySong(pm.category, pm.playSongIndex, pm.playlistID);
        return;
    }
    std::vector<Song> list;
    if (pm.category < CATEGORY_PRESET || pm.category > CATEGORY_USER ||
        !ondemandGetList(pm.category, pm.playSongIndex, pm.playlistID, list)) {
        return;
    }
    uint32_t index = pm.playSongIndex;
    bool last = index + 1 >= list.size();
    if (last && pm.repeat != REPEAT_ALL) {
        return;
    }
    ondemandPlaySong(pm.category, last ? 0 : index + 1, pm.playlistID);
}

void ondemandPlayBack(uint64_t msec) {
    const PlayManager& pm = getOndemandPlayManager();
    if (msec >= 6001 || pm.category == CATEGORY_QUEUE) {
        do_setTime("0");
        return;
    }
    uint32_t index = pm.playSongIndex;
    std::vector<Song> list;
    switch (pm.category) {
    case CATEGORY_USER: {
        if (!ondemandGetList(pm.category, index, pm.playlistID, list)) {
            return;
        }
        uint32_t at = index;
        for (;;) {
            if (at == 0) {
                if (pm.repeat != REPEAT_ALL) {
                    break;
                }
                at = static_cast<uint32_t>(list.size() - 1);
            } else {
                --at;
            }
            if (at == index || is_playable(list[at])) {
                break;
            }
        }
        index = at;
        break;
    }
    case CATEGORY_PRESET:
    case CATEGORY_RECOMMEND:
        if (pm.repeat != REPEAT_ALL) {
            index = index > 0 ? index - 1 : 0;
        } else {
            if (!ondemandGetList(pm.category, index, pm.playlistID, list)) {
                return;
            }
            index = index > 0 ? index - 1 : static_cast<uint32_t>(list.size() - 1);
        }
        break;
    default:
        return;
    }
    playBackFlg = true;
    ondemandPlaySong(pm.category, index, pm.playlistID);
}

void ondemandPlaySongSetup() {
    const PlayManager& pm = getOndemandPlayManager();
    if (pm.category == CATEGORY_QUEUE) {
        setWhereEvent("queuelist");
        ondemandPlaySong(pm.category, pm.playSongIndex, pm.playlistID);
    } else if (pm.category >= CATEGORY_PRESET && pm.category <= CATEGORY_USER && isNextSong()) {
        // The lists keep each song's position in its display order.
        setPlaySongIndex(pm.nextSong.display_order);
        ondemandPlaySong(pm.category, pm.playSongIndex, pm.playlistID);
    }
}

void ondemandSetLastSong() {
    do_stopApi(getOndemandPlayManager().playSong.id);
    do_load(getOndemandPlayManager().playSong.id);
}

void playManagerDownloadError() {
    const PlayManager& pm = getOndemandPlayManager();
    if (pm.category == CATEGORY_QUEUE) {
        remove_from_queue(pm.playSong, pm.playSongIndex);
        json_make_queuelist_json();
    }
    if (isNextSong()) {
        uint32_t play = m_play;
        m_movingOn = true;
        if (playBackFlg) {
            ondemandPlayBack(0);
        } else {
            ondemandPlayNext();
        }
        m_movingOn = false;
        // At the end of a list without repeat there is nowhere to move on to.
        if (m_play != play) {
            return;
        }
    }
    give_up();
}

void checkPlayManagerPlaylistID(uint64_t id) {
    const PlayManager& pm = getOndemandPlayManager();
    if (pm.category == CATEGORY_USER && pm.playlistID == id) {
        // A song of it being prepared is no longer wanted either.
        if (is_preparing()) {
            reset_steps();
        }
        ondemandInitManager();
        json_make_playmanager_info();
    }
}

void ondemandFollowList(bool relocate) {
    const PlayManager& pm = getOndemandPlayManager();
    if (!is_preparing()) {
        updatePlayManager();
        return;
    }
    // The song being prepared may have moved in the queue, or left it.
    bool kept = true;
    if (relocate && pm.category == CATEGORY_QUEUE) {
        const std::vector<Song>& queue = queuelist_get();
        kept = false;
        for (size_t at = 0; at < queue.size() && !kept; ++at) {
            if (queue[at].uid == pm.playSong.uid) {
                setPlaySongIndex(static_cast<uint32_t>(at));
                kept = true;
            }
        }
    }
    Song play = pm.playSong;
    Song next = pm.nextSong;
    updatePlayManager();
    // What the machine waits for is no longer what the user wants: the new
    // choice is prepared from its start.
    if (!kept || pm.playSong.id != play.id || pm.playSong.uid != play.uid ||
        pm.nextSong.id != next.id || pm.nextSong.uid != next.uid) {
        ondemandPlaySong(pm.category, pm.playSongIndex, pm.playlistID);
    }
}

void ondemandStopPlayer() {
    reset_steps();
    m_tried.clear();
    forget_downloads();
}
