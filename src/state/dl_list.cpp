#include "state/dl_list.h"

#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"
#include "state/contents.h"
#include "state/playManager.h"

#include <algorithm>

namespace {

std::map<uint64_t, dlSongInfo> dlList;
// Registration order, oldest first; survives initDLlist so that the
// directories of the ids still listed go with the next eviction.
std::vector<uint64_t> idList;

bool flag(uint64_t id, bool dlSongInfo::*field) {
    auto it = dlList.find(id);
    return it != dlList.end() && it->second.*field;
}

void set_flag(uint64_t id, bool dlSongInfo::*field, bool value) {
    auto it = dlList.find(id);
    if (it != dlList.end()) {
        it->second.*field = value;
    }
}

// Moves the id to the end of the order, when it is listed.
void move_to_end(uint64_t id) {
    auto it = std::find(idList.begin(), idList.end(), id);
    if (it != idList.end()) {
        idList.erase(it);
        idList.push_back(id);
    }
}

// Removes the directory and the record of the id at that position; the
// caller takes it out of the order.
void removedDlInfo(size_t position) {
    uint64_t id = idList[position];
    contents_forget(id);
    fs::rm_dir(song_dir(id));
    dlList.erase(id);
}

} // namespace

std::string song_dir(uint64_t id) {
    std::string dir;
    return str::format(dir, "%s/%llu", paths::at(paths::DOWNLOAD_DIR).c_str(),
                       static_cast<unsigned long long>(id));
}

bool dlListCheck_id(uint64_t id) {
    return dlList.count(id) != 0;
}

const dlSongInfo& getDlSong_from_id(uint64_t id) {
    // An unregistered id reads as a new record rather than ending the daemon.
    static const dlSongInfo unknown;
    auto it = dlList.find(id);
    return it != dlList.end() ? it->second : unknown;
}

const std::map<uint64_t, dlSongInfo>& getDlList() {
    return dlList;
}

const std::vector<uint64_t>& dl_id_list() {
    return idList;
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

void setDlInfoToSong(uint64_t id, bool done) {
    set_flag(id, &dlSongInfo::isSong, done);
}

void setDlInfoToSong_audio(uint64_t id, bool done) {
    set_flag(id, &dlSongInfo::isSongAudio, done);
}

void setDlInfoToImage(uint64_t id, bool done) {
    set_flag(id, &dlSongInfo::isImage, done);
}

void setDlInfoToURL(uint64_t id, const Self& answer) {
    dlSongInfo info;
    auto known = dlList.find(id);
    if (known != dlList.end()) {
        info = known->second;
    } else {
        // An id left in the order by initDLlist is registered anew, once.
        idList.erase(std::remove(idList.begin(), idList.end(), id), idList.end());
        idList.push_back(id);
    }
    self_foreach(answer, [&info](const Self& node) {
        if (node.name == "image") {
            info.urls["image"] = node.contents;
        } else if (node.name == "midi") {
            info.urls["midi"] = node.contents;
            info.isUrl = true;
        } else if (node.name == "zip") {
            info.urls["zip"] = node.contents;
            info.isUrl = true;
        } else if (node.name == "mp3") {
            info.urls["audio"] = node.contents;
            info.isUrlAudio = true;
        }
        return 0;
    });
    dlList[id] = info;
}

void removedOldFile(size_t maxNum) {
    const PlayManager& manager = getOndemandPlayManager();
    uint64_t play = manager.playSong.id;
    uint64_t next = manager.nextSong.id;
    move_to_end(play);
    move_to_end(next);
    size_t i = 0;
    while (i < idList.size() && !(maxNum != 0 && idList.size() <= maxNum)) {
        if (idList[i] == play || idList[i] == next) {
            ++i;
            continue;
        }
        removedDlInfo(i);
        idList.erase(idList.begin() + static_cast<std::ptrdiff_t>(i));
    }
}

void removeFileToMaxNum() {
    removedOldFile(10);
}

void initDLlist() {
    dlList.clear();
}
