#include "state/dl_list.h"

namespace {

std::map<uint64_t, dlSongInfo> dlList;

bool flag(uint64_t id, bool dlSongInfo::*field) {
    auto it = dlList.find(id);
    return it != dlList.end() && it->second.*field;
}

} // namespace

bool dlListCheck_id(uint64_t id) {
    return dlList.count(id) != 0;
}

const std::map<uint64_t, dlSongInfo>& getDlList() {
    return dlList;
}

bool isUrlDownload(uint64_t id) {
    return flag(id, &dlSongInfo::isUrl);
}

bool isUrlDownload_audio(uint64_t id) {
    return flag(id, &dlSongInfo::isUrlAudio);
}

bool isSongDownload(uint64_t id) {
    return flag(id, &dlSongInfo::isSong);
}

bool isSongDownload_audio(uint64_t id) {
    return flag(id, &dlSongInfo::isSongAudio);
}

bool isImageDownload(uint64_t id) {
    return flag(id, &dlSongInfo::isImage);
}

void initDLlist() {
    dlList.clear();
}
