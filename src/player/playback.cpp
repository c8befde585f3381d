#include "player/playback.h"

#include "common/common.h"
#include "common/str.h"
#include "link/rcs_sock.h"
#include "net/webapi.h"
#include "player/ondemandPlayer.h"
#include "player/session.h"
#include "request/answer.h"
#include "state/contents.h"
#include "state/playManager.h"
#include "state/service.h"
#include "state/session.h"
#include "state/where.h"
#include "ui/json.h"

#include <cstdlib>

namespace {

const struct {
    const char* name;
    int category;
} CATEGORIES[] = {
    {"queuelist", CATEGORY_QUEUE},
    {"preset", CATEGORY_PRESET},
    {"recommendPlaylist", CATEGORY_RECOMMEND},
    {"userplaylist", CATEGORY_USER},
    // Gratis playlists are kept with the preset playlists.
    {"gratis", CATEGORY_PRESET},
};

const struct {
    const char* name;
    int repeat;
} REPEATS[] = {{"off", REPEAT_OFF}, {"one", REPEAT_ONE}, {"all", REPEAT_ALL}};

// The session is recorded once the service has taken the play event.
void on_play(Self&, void*) {
    createSessionInfo(getOndemandPlayManager().playSong.id);
}

// Only the status counts: a play event taken with an empty body is taken.
constexpr AnswerHandler PLAY_ANSWER = AnswerHandler()
                                          .with_success(on_play)
                                          .with_unreadable(Unreadable::ReadEmpty)
                                          .with_failure(Failure::RegionCheck);

} // namespace

void send_play_or_pause() {
    if (get_next_control_status() != 0) {
        rcssock_send("<set_seq status=\"pause\"/>\n");
    } else {
        rcssock_send("<set_seq status=\"play\"/>\n");
    }
}

void do_playSong(const char* category, const char* index, const char* playlistID) {
    if (get_status() == 0 || category == nullptr || category[0] == '\0') {
        return;
    }
    setWhereEvent(category);
    set_next_control_status(0);
    for (const auto& known : CATEGORIES) {
        if (str::iequals(category, known.name)) {
            uint64_t playlist = known.category == CATEGORY_QUEUE || playlistID == nullptr
                                    ? 0
                                    : strtoull(playlistID, nullptr, 10);
            int song = index != nullptr ? atoi(index) : 0;
            ondemandPlaySong(known.category, static_cast<uint32_t>(song), playlist);
            return;
        }
    }
}

void do_songCtrl(const char* control) {
    if (get_status() == 0 || !isStepEnd() || control == nullptr) {
        return;
    }
    // The song chosen next starts in the state the current one was in.
    if (get_seq_status() != SEQ_PLAY) {
        store_seq_status(SEQ_PAUSE);
        set_next_control_status(1);
    } else {
        set_next_control_status(0);
    }
    if (str::iequals(control, "back")) {
        ondemandPlayBack(seq_time_msec());
    } else if (str::iequals(control, "next") && isNextSong()) {
        ondemandPlayNext();
    }
}

void do_frsffsEnd(const char* ctrl) {
    if (ctrl != nullptr && str::iequals(ctrl, "ffs") && get_seq_status() != SEQ_FFS) {
        return;
    }
    send_play_or_pause();
}

void do_setRepeat(const char* type) {
    for (const auto& known : REPEATS) {
        if (type != nullptr && str::iequals(type, known.name)) {
            ondemandSetRepeatType(known.repeat);
        }
    }
    ondemandFollowList(false);
    json_make_playmanager_info();
}

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

int do_load(uint64_t id) {
    if (get_status() == 0 || !contents_is_valid_id(id)) {
        return 0;
    }
    const Contents& contents = contents_get().at(id);
    // A file name from an archive may hold any character: as attribute values
    // the paths can neither break the element nor add to it.
    std::string midi = str::xml_attribute(contents.midi_path);
    if (contents.audio_path.empty()) {
        return rcssock_send("<set_seq status=\"load\" midi_path=\"%s\"/>\n", midi.c_str());
    }
    std::string audio = str::xml_attribute(contents.audio_path);
    return rcssock_send("<set_seq status=\"load\" midi_path=\"%s\" audio_path=\"%s\"/>\n",
                        midi.c_str(), audio.c_str());
}

void do_play(uint64_t id) {
    // The file is for the session the service has taken: the previous one
    // is over, and this one is recorded only once its play event is taken.
    deleteSessionInfo();
    std::string session;
    get_randomid(session);
    session_start(session);
    if (!isGratisMember()) {
        webapi_ondemand_items_play(id, session, where_code(), getOndemandPlayManager().playlistID,
                                   callback_play, nullptr);
    }
    json_make_status_json();
}

void callback_play(int status, const std::string& body, void* user) {
    handle_answer(PLAY_ANSWER, status, body, user);
}
