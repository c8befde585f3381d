#include "core/dispatch.h"

#include "catalogue/playlists.h"
#include "catalogue/presets.h"
#include "catalogue/queue.h"
#include "catalogue/recommend.h"
#include "catalogue/search.h"
#include "common/common.h"
#include "common/str.h"
#include "player/download.h"
#include "player/playback.h"
#include "player/sequencer.h"
#include "player/session.h"
#include "service/login.h"
#include "service/status.h"
#include "xml/xml.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Attribute values in the order the command lists them; null when absent.
using Args = const char* const*;
using Handler = void (*)(Args);

struct Command {
    const char* cmd;
    std::vector<const char*> attributes;
    // A command accepted and deliberately ignored has `ignore`.
    Handler handler;
};

// First matching row wins; the value is compared without regard to case.
const struct {
    const char* value;
    const char* alias;
    const char* code;
} MODELS[] = {
    {"mdla", "PNM20", "PNM20"},
    {"mdlb", "PNM30", "PNM30"},
    {"upgrade", "PNC90", "PNC90"},
    {"normal", "PNM10", "PNM10"},
};

void set_model(Args a) {
    if (a[0] == nullptr) {
        return;
    }
    for (const auto& model : MODELS) {
        if (str::iequals(a[0], model.value) || str::iequals(a[0], model.alias)) {
            set_useragent_model(model.code);
            return;
        }
    }
}

// Accepted and deliberately ignored.
void ignore(Args) {}

void set_option(Args a) {
    if (a[0] != nullptr) {
        set_refreshTimer_state(a[0]);
    }
    if (a[1] != nullptr) {
        setGratis(a[1]);
    }
}

const std::vector<Command> COMMANDS = {
    {"login", {}, [](Args) { do_login(); }},
    {"relogin", {"username", "password"}, [](Args a) { do_reLogin(a[0], a[1]); }},
    {"startup", {"pfix", "id"}, [](Args a) { do_ondemandStart(a[0], a[1]); }},
    {"search",
     {"page", "page_size", "title", "artist", "composer", "genre"},
     [](Args a) { do_search(a[0], a[1], a[2], a[3], a[4], a[5]); }},
    {"getSongListOldSearch", {}, [](Args) { do_getSongListOldSearch(); }},
    {"genres", {}, [](Args) { do_genres(); }},
    {"downloadurl", {"id"}, [](Args a) { do_downloadurl(a[0]); }},
    {"download", {"id"}, [](Args a) { do_download(a[0]); }},
    {"playlists", {}, [](Args) { do_allplaylists(); }},
    {"playlist", {"id"}, [](Args a) { do_playlist(a[0]); }},
    {"addPreparePlaylist", {"id"}, [](Args a) { do_addPreparePlaylist(a[0]); }},
    {"createPlaylist", {"name", "items"}, [](Args a) { do_createPlaylist(a[0], a[1]); }},
    {"copyPlaylist", {"name", "items"}, [](Args a) { do_copyPlaylist(a[0], a[1]); }},
    {"deletePlaylist", {"id"}, [](Args a) { do_deletePlaylist(a[0]); }},
    {"updatePlaylist",
     {"id", "name", "items", "sort", "ctrl"},
     [](Args a) { do_updatePlaylist(a[0], a[1], a[2], a[3], a[4]); }},
    {"addToPlaylist", {"id", "item_id"}, [](Args a) { do_addSongPlaylist(a[0], a[1]); }},
    {"rmvFromPlaylist", {}, ignore},
    {"queueList", {}, [](Args) { setting_queuelist(); }},
    {"quickPlayQueue", {"category", "songId"}, [](Args a) { quickPlayQueueSong(a[0], a[1]); }},
    {"addQueueTop", {"songId"}, [](Args a) { addSongToQueueTop(a[0]); }},
    {"addQueueBtm", {"songId"}, [](Args a) { addSongToQueueBtm(a[0]); }},
    {"rmvQueueSong", {"display_order"}, [](Args a) { rmvSongToQueue(a[0]); }},
    {"sortQueue", {"beforeIndex", "afterIndex"}, [](Args a) { sortQueue(a[0], a[1]); }},
    {"presetPlaylist", {"playlistID"}, [](Args a) { do_presetPlaylist(a[0]); }},
    {"historySongs", {}, [](Args) { do_history(); }},
    {"recommendSong", {}, [](Args) { do_recommend(); }},
    {"recommendPlaylist", {}, [](Args) { do_recommendPlaylists(); }},
    {"clearSonglist", {}, [](Args) { do_clearSonglist(); }},
    {"ondemandPlaySong",
     {"category", "playSongIndex", "playlistID"},
     [](Args a) { do_playSong(a[0], a[1], a[2]); }},
    {"ondemandSongCtrl", {"control"}, [](Args a) { do_songCtrl(a[0]); }},
    {"play", {}, ignore},
    {"pause", {}, [](Args) { do_pause(); }},
    {"frsffsEnd", {"ctrl"}, [](Args a) { do_frsffsEnd(a[0]); }},
    {"setTime", {"time"}, [](Args a) { do_setTime(a[0]); }},
    {"setRepeat", {"type"}, [](Args a) { do_setRepeat(a[0]); }},
    {"dlgConfirmed", {}, [](Args) { do_dlgConfirmed(); }},
    {"ondemandStart", {"pfix", "id"}, [](Args a) { do_ondemandStart(a[0], a[1]); }},
    {"ondemandStop", {"usb_status"}, [](Args a) { do_ondemandStop(a[0]); }},
    {"ondemandCancel", {}, [](Args) { setOndemandCancel(); }},
    {"setModel", {"model"}, set_model},
    {"setOption", {"refreshTimer", "gratis"}, set_option},
};

void dispatch_command(const xml_element* element, const char* cmd) {
    for (const Command& command : COMMANDS) {
        if (!str::iequals(cmd, command.cmd)) {
            continue;
        }
        std::vector<const char*> args;
        args.reserve(command.attributes.size() + 1);
        for (const char* name : command.attributes) {
            args.push_back(xml_attr(element, name));
        }
        args.push_back(nullptr);
        command.handler(args.data());
        return;
    }
}

void on_set_ondemand_status(const xml_element* element) {
    const char* status = xml_attr(element, "status");
    if (status != nullptr) {
        set_status(status, "set_ondemand status");
    }
}

void on_set_ondemand(const xml_element* element) {
    // The status goes first, so one message can switch on and start.
    on_set_ondemand_status(element);
    const char* cmd = xml_attr(element, "cmd");
    if (cmd != nullptr) {
        dispatch_command(element, cmd);
    }
}

void on_network_ifsetting(const xml_element* element) {
    const char* proxy = xml_attr(element, "proxy");
    const char* port = xml_attr(element, "proxy_port");
    if (proxy != nullptr && port != nullptr) {
        std::string value;
        set_proxy(str::format(value, "%s:%s", proxy, port));
    }
}

void on_seq(const xml_element* element) {
    set_seq_status(xml_attr(element, "status"));
    set_seq_time(xml_attr(element, "time"));
}

void on_rcs(const xml_element* element) {
    const char* status = xml_attr(element, "status");
    if (status != nullptr && str::iequals(status, "to_standby") && get_status() != 0) {
        set_status("off", "standby");
    }
}

// A play session saved before a power cut. One that lacks a value cannot be
// reported and is ignored.
void on_sssn(const xml_element* element) {
    const char* song = xml_attr(element, "song_id");
    const char* session = xml_attr(element, "session_id");
    const char* sec = xml_attr(element, "sec");
    if (song != nullptr && session != nullptr && sec != nullptr) {
        sendSessionInfo(strtoull(song, nullptr, 10), session,
                        static_cast<unsigned int>(strtoul(sec, nullptr, 10)));
    }
}

const struct {
    const char* name;
    void (*handle)(const xml_element*);
} ELEMENTS[] = {
    {"set_ondemand", on_set_ondemand},
    {"seq", on_seq},
    {"network_ifsetting", on_network_ifsetting},
    {"rcs", on_rcs},
    {"sssn", on_sssn},
};

int dispatch_element(const char*, xml_element* root) {
    if (root->name.empty()) {
        return 0;
    }
    for (const auto& element : ELEMENTS) {
        if (str::iequals(root->name, element.name)) {
            if (element.handle != nullptr) {
                element.handle(root);
            }
            break;
        }
    }
    return 0;
}

} // namespace

int xml_parse(const char* text) {
    return xml_parse(text, dispatch_element);
}
