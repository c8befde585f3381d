#include "state/contents.h"

#include "base/debug.h"
#include "base/rvx.h"
#include "common/common.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// An archive that takes longer than this to unpack is given up.
constexpr int UNZIP_TIMEOUT_MS = 30 * 1000;
// The most of unzip's listing that is read: a thousand entries with long
// names fit well below it.
constexpr size_t LISTING_MAX = 1024 * 1024;
// What is taken from an archive: the MIDI files and audio tracks at its top
// level, matched without regard to case ("-C"), "*" never matching a "/"
// ("-W").
const char* const WANTED_EXTENSIONS[] = {"mid", "mp3"};

std::map<uint64_t, Contents> contents_;
int unzip_timeout_ms_ = UNZIP_TIMEOUT_MS;

// One archive being unpacked: first listed, then extracted, each by an unzip
// child of the loop, under one time limit.
struct Unpack {
    uint64_t id = 0;
    std::string dir;
    std::string archive;
    ContentsDone done;
    rvx_st_io* child = nullptr;
    rvx_st_io* timer = nullptr;
    std::string listing;
    bool listing_too_long = false;
    bool extracting = false;
    bool timed_out = false;
};

std::map<uint64_t, Unpack*> unpacks_;

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

// The size of a regular file, -1 for anything else.
long long regular_size(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? static_cast<long long>(st.st_size)
                                                                : -1;
}

std::string extension_of(const std::string& name) {
    size_t dot = name.rfind('.');
    std::string extension = dot == std::string::npos ? std::string() : name.substr(dot + 1);
    str::tolower(extension);
    return extension;
}

// An entry unzip's patterns select: a top-level name with a wanted extension.
bool is_wanted(const std::string& name) {
    if (name.find('/') != std::string::npos) {
        return false;
    }
    std::string extension = extension_of(name);
    for (const char* wanted : WANTED_EXTENSIONS) {
        if (extension == wanted) {
            return true;
        }
    }
    return false;
}

struct Listing {
    size_t entries = 0;
    unsigned long long wanted_bytes = 0;
    // The wanted extensions met: unzip fails for a pattern that matches
    // nothing, so only these are asked for.
    std::vector<std::string> extensions;
};

// Reads "unzip -l": a head, a line of dashes, one line per entry (its
// length, date, time, three blanks and its name), another line of dashes
// and the totals.
Listing read_listing(const std::string& text) {
    Listing listing;
    bool in_entries = false;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            end = text.size();
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        if (line.compare(0, 4, "----") == 0) {
            if (in_entries) {
                break;
            }
            in_entries = true;
            continue;
        }
        if (!in_entries) {
            continue;
        }
        ++listing.entries;
        const char* p = line.c_str();
        char* after = nullptr;
        unsigned long long length = strtoull(p, &after, 10);
        p = after;
        for (int field = 0; field < 2; ++field) {
            while (*p == ' ') {
                ++p;
            }
            while (*p != '\0' && *p != ' ') {
                ++p;
            }
        }
        for (int blank = 0; blank < 3 && *p == ' '; ++blank) {
            ++p;
        }
        std::string name = p;
        if (is_wanted(name)) {
            listing.wanted_bytes += length;
            std::string extension = extension_of(name);
            if (std::find(listing.extensions.begin(), listing.extensions.end(), extension) ==
                listing.extensions.end()) {
                listing.extensions.push_back(extension);
            }
        }
    }
    return listing;
}

int unpack_ended(rvx_st_io* io, int result);

int listing_read(rvx_st_io* io) {
    auto* unpack = static_cast<Unpack*>(rvx_Get_Par(io));
    if (unpack == nullptr || unpack->listing_too_long) {
        char scratch[RVX_READ_MAX];
        rvx_ReadData(io, scratch);
        return 0;
    }
    rvx_ReadAppend(io, unpack->listing, LISTING_MAX + 1 - unpack->listing.size());
    if (unpack->listing.size() > LISTING_MAX) {
        unpack->listing_too_long = true;
        std::string().swap(unpack->listing);
        rvx_Exec_Kill(io, SIGKILL);
    }
    return 0;
}

int unpack_overdue(rvx_st_io* timer) {
    auto* unpack = static_cast<Unpack*>(rvx_Get_Par(timer));
    rvx_Timer_Stop(timer);
    if (unpack != nullptr && rvx_Exec_Kill(unpack->child, SIGKILL) == 0) {
        unpack->timed_out = true;
    }
    return 0;
}

// Starts unzip with these arguments after the program's path; no shell ever
// reads a path.
bool start_unzip(Unpack* unpack, std::vector<std::string> args) {
    args.insert(args.begin(), paths::at(paths::UNZIP));
    std::string line = "$";
    for (const std::string& arg : args) {
        line += " " + arg;
    }
    debug_printf("%s\n", line.c_str());
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    unpack->child = rvx_Exec_WithStderr(argv.data());
    if (unpack->child == nullptr) {
        debug_printf("unzip: cannot start %s\n", argv[0]);
        return false;
    }
    rvx_Set_Par(unpack->child, unpack);
    rvx_Exec_Set_WaitEvent(unpack->child, unpack_ended);
    if (!unpack->extracting) {
        rvx_Set_ReadEvent(unpack->child, listing_read);
    }
    return true;
}

// Ends an unpack without a word to its caller.
void drop(Unpack* unpack) {
    unpacks_.erase(unpack->id);
    if (unpack->child != nullptr) {
        rvx_Set_Par(unpack->child, nullptr);
        rvx_Exec_Kill(unpack->child, SIGKILL);
        rvx_Exec_Release(unpack->child);
    }
    rvx_Release_Rvx(unpack->timer);
    delete unpack;
}

// The caller hears last: its callback may start the next unpack at once.
void finish(Unpack* unpack, int kind) {
    ContentsDone done = std::move(unpack->done);
    uint64_t id = unpack->id;
    std::string dir = unpack->dir;
    drop(unpack);
    if (kind < 0) {
        fs::rm_dir(dir);
        contents_.erase(id);
    }
    if (done) {
        done(kind);
    }
}

void fail(Unpack* unpack, const char* why) {
    debug_printf("unzip: %s: %s, the song's files are removed\n", unpack->archive.c_str(), why);
    finish(unpack, -1);
}

// Records what the archive gave; -1 when it holds no MIDI file after all or
// came out larger than its listing said.
int record_unpacked(Unpack* unpack) {
    fs::rm_file(unpack->archive);
    remove_links(unpack->dir);
    Contents found;
    unsigned long long total = 0;
    for (const std::string& name : entries(unpack->dir)) {
        std::string path = unpack->dir + "/" + name;
        long long size = regular_size(path);
        if (size < 0 || !is_wanted(name)) {
            continue;
        }
        total += static_cast<unsigned long long>(size);
        (extension_of(name) == "mid" ? found.midi_path : found.audio_path) = path;
    }
    if (total > static_cast<unsigned long long>(song_budget_bytes()) || found.midi_path.empty()) {
        return -1;
    }
    Contents& contents = contents_[unpack->id];
    contents.midi_path = found.midi_path;
    if (!found.audio_path.empty()) {
        contents.audio_path = found.audio_path;
    }
    contents.time = get_systime();
    return 0;
}

int unpack_ended(rvx_st_io* io, int result) {
    auto* unpack = static_cast<Unpack*>(rvx_Get_Par(io));
    rvx_Exec_Release(io);
    if (unpack == nullptr) {
        return 0;
    }
    unpack->child = nullptr;
    if (unpack->timed_out) {
        fail(unpack, "not unpacked in time");
    } else if (result != 0) {
        debug_printf("unzip: ended with %d\n", result);
        fail(unpack, unpack->extracting ? "not unpacked" : "not listed");
    } else if (unpack->extracting) {
        if (record_unpacked(unpack) < 0) {
            fail(unpack, "no MIDI file, or larger than the song budget");
        } else {
            finish(unpack, 0);
        }
    } else if (unpack->listing_too_long) {
        fail(unpack, "listing too long");
    } else {
        Listing listing = read_listing(unpack->listing);
        std::string().swap(unpack->listing);
        if (listing.entries > CONTENTS_MAX_ENTRIES) {
            fail(unpack, "too many entries");
        } else if (listing.wanted_bytes > static_cast<unsigned long long>(song_budget_bytes())) {
            fail(unpack, "larger than the song budget");
        } else if (std::find(listing.extensions.begin(), listing.extensions.end(), "mid") ==
                   listing.extensions.end()) {
            fail(unpack, "no MIDI file");
        } else {
            unpack->extracting = true;
            std::vector<std::string> args = {"-o", "-C", "-W", "-d", unpack->dir, unpack->archive};
            for (const std::string& extension : listing.extensions) {
                args.push_back("*." + extension);
            }
            if (!start_unzip(unpack, args)) {
                fail(unpack, "not unpacked");
            }
        }
    }
    return 0;
}

void start_unpack(uint64_t id, const std::string& dir, const std::string& archive,
                  ContentsDone done) {
    auto pending = unpacks_.find(id);
    if (pending != unpacks_.end()) {
        drop(pending->second);
    }
    auto* unpack = new Unpack;
    unpack->id = id;
    unpack->dir = dir;
    unpack->archive = archive;
    unpack->done = std::move(done);
    unpacks_[id] = unpack;
    unpack->timer = rvx_Timer(0);
    rvx_Set_Par(unpack->timer, unpack);
    rvx_Timer_Set_ReadEvent(unpack->timer, unpack_overdue);
    rvx_Timer_Start(unpack->timer, unzip_timeout_ms_);
    if (!start_unzip(unpack, {"-l", archive})) {
        fail(unpack, "not listed");
    }
}

} // namespace

void contents_set_unzip_timeout_ms(int ms) {
    unzip_timeout_ms_ = ms > 0 ? ms : UNZIP_TIMEOUT_MS;
}

void contents_set(uint64_t id, const std::string& path, ContentsDone done) {
    size_t slash = path.rfind('/');
    std::string name = slash == std::string::npos ? std::string() : path.substr(slash + 1);
    int kind = -1;
    if (name == "image") {
        contents_[id].image_path = path;
        kind = 1;
    } else if (name == "midi") {
        Contents& contents = contents_[id];
        contents.midi_path = path;
        contents.time = get_systime();
        kind = 0;
    } else if (name == "audio.mp3") {
        contents_[id].audio_path = path;
        kind = 2;
    } else if (name == "zip") {
        start_unpack(id, path.substr(0, slash), path, std::move(done));
        return;
    }
    if (done) {
        done(kind);
    }
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
    auto it = unpacks_.find(id);
    if (it != unpacks_.end()) {
        drop(it->second);
    }
    contents_.erase(id);
}

void contents_clear() {
    while (!unpacks_.empty()) {
        drop(unpacks_.begin()->second);
    }
    contents_.clear();
}

int contents_unpacking() {
    return static_cast<int>(unpacks_.size());
}
