#include "player/session.h"

#include "base/debug.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "net/webapi.h"
#include "state/playManager.h"
#include "state/service.h"
#include "state/session.h"
#include "xml/self.h"

#include <cstdlib>

namespace {

// The record is one short line; anything longer is not one of ours.
constexpr size_t SESSION_LINE_MAX = 255;

int (*dispatcher_)(const char*) = nullptr;

} // namespace

void session_set_dispatcher(int (*dispatch)(const char* text)) {
    dispatcher_ = dispatch;
}

void createSessionInfo(unsigned long long song_id) {
    // A play answer that arrives after the switch-off belongs to a session
    // already closed; a record of it would be reported at the next start.
    if (session_id().empty()) {
        return;
    }
    std::string text;
    str::format(text, "<sssn song_id=\"%lld\" session_id=\"%s\" sec=\"%ld\" />",
                static_cast<long long>(song_id), session_id().c_str(),
                static_cast<long>(max_time_sec()));
    fs::mk_dir(paths::at(paths::SESSION_DIR));
    // Without the file only the recovery after a power cut is lost; the
    // events are still sent.
    if (fs::write_file_atomic(paths::at(paths::SESSION_FILE), text) != 0) {
        debug_printf("session: cannot write %s\n", paths::at(paths::SESSION_FILE).c_str());
    }
}

void updateSessionInfo() {
    if (fs::is_valid_dir(paths::at(paths::SESSION_FILE))) {
        createSessionInfo(getOndemandPlayManager().playSong.id);
    }
}

void deleteSessionInfo() {
    fs::rm_file(paths::at(paths::SESSION_FILE));
}

void set_seq_time(const char* time) {
    if (get_status() == 0 || time == nullptr) {
        return;
    }
    int before = max_time_sec();
    session_note_position(strtoull(time, nullptr, 10));
    // Once per new whole second, never for a position behind the furthest.
    if (max_time_sec() > before) {
        updateSessionInfo();
    }
}

void checkSessionInfo() {
    std::string path = paths::at(paths::SESSION_FILE);
    std::string line;
    if (dispatcher_ == nullptr || !fs::is_valid_dir(path)) {
        return;
    }
    // Anything but a regular file there (a FIFO, a link to a device) is a
    // broken record: it goes, so the next start finds none.
    if (fs::read_first_line(path, SESSION_LINE_MAX, line) != 0) {
        fs::rm_file(path);
        return;
    }
    // Only a session record is handed on: any other command read from the
    // file would act unasked, and a start command would read the file again
    // without end.
    Self element;
    if (self_parse(line, element) == 0 && element.name != "sssn") {
        debug_printf("session: <%s> in %s is no session record\n", element.name.c_str(),
                     path.c_str());
        return;
    }
    // What does not parse is dropped by the dispatcher.
    dispatcher_(line.c_str());
}

void sendSessionInfo(unsigned long long song_id, std::string session_id, unsigned int sec) {
    webapi_ondemand_items_stop(song_id, session_id, sec, callback_stop, nullptr);
}

void do_stopApi(unsigned long long song_id) {
    if (!is_played_song() || session_id().empty() || isGratisMember() || is_session_reported()) {
        return;
    }
    // Ended now, whether or not the event can be sent.
    set_session_reported();
    webapi_ondemand_items_stop(song_id, session_id(), static_cast<unsigned int>(max_time_sec()),
                               callback_stop, nullptr);
}

// Stop events are fire-and-forget: the service's answer changes nothing and
// is shown to nobody.
void callback_stop(int, const std::string&, void*) {}
