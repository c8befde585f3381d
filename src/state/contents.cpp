#include "state/contents.h"

#include "base/debug.h"
#include "base/rvx.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"

#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// Shortens the wait for unzip; for tests.

namespace {

// The daemon's only thread waits for unzip: an archive that takes longer than
// this is given up rather than stopping the daemon.
constexpr int UNZIP_TIMEOUT_MS = 30 * 1000;

std::map<uint64_t, Contents> contents_;
int unzip_timeout_ms_ = UNZIP_TIMEOUT_MS;

bool is_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Names in the directory other than "." and "..".
std::vector<std::string> entries(const std::string& dir) {
    std::vector<std::string> names;
    fs::dir_foreach(dir, [&names](dirent* entry) {
        if (!is_dot(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    });
    return names;
}

// Removes every symbolic link in the tree below dir, never following one: an
// archive can carry links that point out of the song's directory.
void remove_links(const std::string& dir) {
    std::vector<std::string> pending{dir};
    while (!pending.empty()) {
        std::string current = pending.back();
        pending.pop_back();
        for (const std::string& name : entries(current)) {
            std::string path = current + "/" + name;
            struct stat st;
            if (lstat(path.c_str(), &st) != 0) {
                continue;
            }
            if (S_ISLNK(st.st_mode)) {
                unlink(path.c_str());
            } else if (S_ISDIR(st.st_mode)) {
                pending.push_back(path);
            }
        }
    }
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

// Unpacks the archive into dir without a shell, so no path is ever read as a
// command; unzip's own rules keep "../" and absolute entries inside dir. 0
// once unzip has run to its end (its warnings are not failures), -1 when it
// could not be started or ran out of time.
int unpack(const std::string& dir, const std::string& archive) {
    std::string program = paths::at(paths::UNZIP);
    std::string line;
    str::format(line, "%s -o -d '%s' %s", program.c_str(), dir.c_str(), archive.c_str());
    debug_printf("$ %s\n", line.c_str());
    std::string o = "-o";
    std::string d = "-d";
    std::string target = dir;
    std::string source = archive;
    char* const argv[] = {&program[0], &o[0], &d[0], &target[0], &source[0], nullptr};
    int status = rvx_Exec_Wait(argv, unzip_timeout_ms_);
    if (status < 0) {
        debug_printf("unzip: not run to its end: %s\n", archive.c_str());
    }
    return status < 0 ? -1 : 0;
}

int set_from_archive(uint64_t id, const std::string& dir, const std::string& archive) {
    int unpacked = unpack(dir, archive);
    fs::rm_file(archive);
    remove_links(dir);
    if (unpacked < 0) {
        return -1;
    }
    Contents& contents = contents_[id];
    for (const std::string& name : entries(dir)) {
        size_t dot = name.rfind('.');
        if (dot == std::string::npos) {
            continue;
        }
        std::string extension = name.substr(dot + 1);
        str::tolower(extension);
        std::string path = dir + "/" + name;
        if ((extension == "mid" || extension == "mp3") && is_regular_file(path)) {
            (extension == "mid" ? contents.midi_path : contents.audio_path) = path;
        }
    }
    contents.time = get_systime();
    return 0;
}

} // namespace

void contents_set_unzip_timeout_ms(int ms) {
    unzip_timeout_ms_ = ms > 0 ? ms : UNZIP_TIMEOUT_MS;
}

int contents_set(uint64_t id, const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        return -1;
    }
    std::string name = path.substr(slash + 1);
    if (name == "image") {
        contents_[id].image_path = path;
        return 1;
    }
    if (name == "midi") {
        Contents& contents = contents_[id];
        contents.midi_path = path;
        contents.time = get_systime();
        return 0;
    }
    if (name == "audio.mp3") {
        contents_[id].audio_path = path;
        return 2;
    }
    if (name == "zip") {
        return set_from_archive(id, path.substr(0, slash), path);
    }
    return -1;
}

bool contents_is_valid_id(uint64_t id) {
    auto it = contents_.find(id);
    return it != contents_.end() && !it->second.midi_path.empty();
}

const std::map<uint64_t, Contents>& contents_get() {
    return contents_;
}

bool isImageFile(const std::string& path) {
    size_t slash = path.rfind('/');
    return path.compare(slash == std::string::npos ? 0 : slash + 1, std::string::npos, "image") ==
           0;
}

void contents_forget(uint64_t id) {
    contents_.erase(id);
}
