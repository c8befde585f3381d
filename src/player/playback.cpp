#include "player/playback.h"

#include "common/str.h"
#include "link/rcs_sock.h"

#include <cstdlib>

namespace {

std::string m_where;

const struct {
    const char* name;
    const char* code;
} WHERE[] = {
    {"queuelist", "others"},   {"preset", "pp"},      {"recommendPlaylist", "rp"},
    {"userplaylist", "up"},    {"search", "qsearch"}, {"recent", "qrecent"},
    {"recommended", "qrecmd"}, {"gratis", "gratis"},
};

} // namespace

void setWhereEvent(const std::string& name) {
    for (const auto& where : WHERE) {
        if (str::iequals(name, where.name)) {
            m_where = where.code;
            return;
        }
    }
}

std::string strWhereLong() {
    for (const auto& where : WHERE) {
        if (m_where == where.code) {
            return where.name;
        }
    }
    return "";
}

std::string& getWhereCode() {
    return m_where;
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
