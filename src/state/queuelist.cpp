#include "state/queuelist.h"

namespace {

std::vector<Song> queuelist_;

} // namespace

std::vector<Song>& queuelist_get() {
    return queuelist_;
}

void queuelist_dump() {}

void init_qlist() {
    queuelist_.clear();
}
