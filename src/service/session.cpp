#include "service/session.h"

#include "state/service.h"
#include "state/session.h"

#include <cstdlib>

void createSessionInfo(unsigned long long) {}
void updateSessionInfo() {}
void deleteSessionInfo() {}

void set_seq_time(const char* time) {
    if (get_status() != 0 && time != nullptr) {
        session_note_position(strtoull(time, nullptr, 10));
    }
}

void checkSessionInfo() {}
void sendSessionInfo(unsigned long long, std::string, unsigned int) {}
void do_stopApi(unsigned long long) {}
void callback_stop(int, const std::string&, void*) {}
