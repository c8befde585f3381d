#include "player/ondemandPlayer.h"

#include "player/download.h"
#include "player/playback.h"
#include "player/progress.h"
#include "service/session.h"
#include "service/status.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/playlist.h"
#include "state/presetPlaylist.h"
#include "state/queuelist.h"
#include "state/recommendPlaylist.h"
#include "state/where.h"
#include "ui/dialog.h"
#include "ui/json.h"

namespace {

unsigned int m_ondemandStep = STEP_START;
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

bool isDownloadStep() {
    return m_ondemandStep == STEP_PLAY_URL || m_ondemandStep == STEP_PLAY_DOWNLOAD;
}

bool isNextDownloadStep() {
    return m_ondemandStep == STEP_NEXT_DOWNLOAD || m_ondemandStep == STEP_NEXT_DOWNLOADING;
}

bool isStepEnd() {
    return m_ondemandStep == STEP_END;
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
        list = it != presetSongs_get().end() ? &it->second : &none;
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
    do_stopApi(getOndemandPlayManager().playSong.id);
    initPlaySongStep();
    playSongCheck(category, index, playlistID);
}

void initPlaySongStep() {
    m_ondemandStep = STEP_START;
    stopped_progress_timer();
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
            m_ondemandStep = STEP_PLAY_URL;
            break;
        case STEP_PLAY_URL:
            m_ondemandStep = STEP_PLAY_DOWNLOAD;
            do_downloadurl(pm.playSong.id);
            return;
        case STEP_PLAY_DOWNLOAD:
            if (!isSongDownload(pm.playSong.id)) {
                show_preparing(DLG_MSG_CONNECTING);
                do_download(pm.playSong.id);
                return;
            }
            m_ondemandStep = isNextSong() ? STEP_NEXT_URL : STEP_EVICT;
            break;
        case STEP_NEXT_URL:
            m_ondemandStep = STEP_NEXT_DOWNLOAD;
            do_downloadurl(pm.nextSong.id);
            return;
        case STEP_NEXT_DOWNLOAD:
            m_ondemandStep = STEP_NEXT_DOWNLOADING;
            if (!isSongDownload(pm.nextSong.id)) {
                show_preparing(DLG_MSG_CONNECTING);
                do_download(pm.nextSong.id);
                return;
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
            do_load(pm.playSong.id);
            m_ondemandStep = STEP_END;
            playBackFlg = false;
            // A queue song leaves the queue once it is loaded.
            if (category == CATEGORY_QUEUE) {
                rmvSongToQueuelist(static_cast<int>(index));
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
        rmvSongToQueuelist(static_cast<int>(pm.playSongIndex));
        json_make_queuelist_json();
    }
    if (isNextSong()) {
        if (playBackFlg) {
            ondemandPlayBack(0);
        } else {
            ondemandPlayNext();
        }
        return;
    }
    do_setTime("0");
    initPlaySongStep();
    // Nothing is being prepared any more.
    stopped_progress_timer();
    ondemandInitManager();
    setRcsOndemandNoSong();
    json_make_playmanager_info();
    hide_dialog();
}

void checkPlayManagerPlaylistID(uint64_t id) {
    const PlayManager& pm = getOndemandPlayManager();
    if (pm.category == CATEGORY_USER && pm.playlistID == id) {
        ondemandInitManager();
        json_make_playmanager_info();
    }
}
