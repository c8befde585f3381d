#include "state/where.h"

#include "common/str.h"

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

const std::string& where_code() {
    return m_where;
}

void clear_where() {
    m_where.clear();
}
