#include "player/download.h"

#include "common/fs.h"
#include "common/str.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "player/ondemandPlayer.h"
#include "service/answer.h"
#include "service/status.h"
#include "state/contents.h"
#include "state/dl_list.h"
#include "state/playManager.h"
#include "state/song_list.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <cstdlib>
#include <strings.h>

namespace {

// The lists that show a song's download flags, in the order they are shown.
void publish_download_flags() {
    json_make_songlist_json();
    json_make_queuelist_json();
    json_make_playlist_json();
    json_make_presetPlaylist_json();
    json_make_recommendPlaylist_json();
}

// The play song could not be fetched. Only a machine that waits for it moves
// on; a request made by hand leaves the play manager alone.
void play_song_failed() {
    if (isDownloadStep()) {
        playManagerDownloadError();
    }
}

// An address answer that cannot be used.
void downloadurl_failed(int status, const Self* answer) {
    if (isNextDownloadStep()) {
        skipNextSongStep();
        json_make_status_json();
        return;
    }
    play_song_failed();
    if (answer == nullptr) {
        json_make_dlg_error("Error", "downloadUrl");
    } else {
        report_failed_answer(status, "downloadUrl", *answer);
    }
}

int request_downloadurl(uint64_t id, bool gratis) {
    auto item = static_cast<unsigned int>(id);
    void* user = curl_user_of_id(id);
    return gratis ? webapi_ondemand_gratis_downloadurl(item, callback_downloadurl, user)
                  : webapi_ondemand_items_downloadurl(item, callback_downloadurl, user);
}

// A download precondition that fails before any file is asked for.
void download_refused(const char* message) {
    if (isNextDownloadStep()) {
        skipNextSongStep();
        return;
    }
    if (getOndemandPlayManager().category == CATEGORY_QUEUE) {
        playManagerDownloadError();
    }
    json_make_dlg_error("Error", message);
}

// The output file of one address kind.
std::string output_for(const std::string& dir, const std::string& kind) {
    std::string path;
    if (kind == "audio") {
        return str::format(path, "%s/%s.%s", dir.c_str(), kind.c_str(), "mp3");
    }
    return str::format(path, "%s/%s", dir.c_str(), kind.c_str());
}

// A file that did not arrive whole (a failed status, a cut transfer, an
// archive that would not unpack) is never recorded: its partial or error
// text is no song. The image and the next song are optional; the play song
// is not.
void download_failed(int status, uint64_t id, const std::string& path) {
    fs::rm_file(path);
    regionsErrorCheck(status, false);
    if (isImageFile(path)) {
        return;
    }
    if (isNextDownloadStep() && id == getOndemandPlayManager().nextSong.id) {
        skipNextSongStep();
    } else {
        play_song_failed();
        json_make_dlg_error("Error", server_error_text(status, "download"));
    }
    publish_download_flags();
}

void record_contents(int status, uint64_t id, const std::string& path, int kind);

// One file of a song has arrived, or failed.
void record_download(int status, uint64_t id, const std::string& path) {
    if (!is_success_status(status)) {
        download_failed(status, id, path);
        return;
    }
    // An archive is unpacked by a child of the loop: the song goes on when
    // it has ended.
    contents_set(id, path,
                 [status, id, path](int kind) { record_contents(status, id, path, kind); });
}

// What the file turned out to be.
void record_contents(int status, uint64_t id, const std::string& path, int kind) {
    if (kind == 1) {
        setDlInfoToImage(id, true);
        json_make_playmanager_info();
        return;
    }
    if (kind == 0 && !contents_is_valid_id(id)) {
        kind = -1; // an archive without a MIDI file cannot be played
    }
    if (kind < 0) {
        download_failed(status, id, path);
        return;
    }
    if (kind == 0) {
        setDlInfoToSong(id, true);
    } else {
        setDlInfoToSong_audio(id, true);
    }
    // The song moves on when the last of its needed files has arrived.
    if (isUrlDownload_audio(id) && (!isSongDownload(id) || !isSongDownload_audio(id))) {
        return;
    }
    if (isDownloadStep() || isNextDownloadStep()) {
        ondemandNextStep();
    }
    publish_download_flags();
}

} // namespace

void do_downloadurl(uint64_t id) {
    if (get_status() != 0) {
        int sent = 0;
        if (id != 0) {
            sent = request_downloadurl(id, isGratisMember());
        } else {
            const SongStore& songs = songlist_get();
            for (size_t i = 0; i < songs.size(); ++i) {
                request_downloadurl(songs.id(i), false);
            }
        }
        // A request that cannot be sent gets no answer to move the play
        // manager on: it counts as an unreadable one.
        if (sent != 0) {
            downloadurl_failed(-1, nullptr);
        }
    }
    json_make_status_json();
}

void do_downloadurl(const char* id) {
    if (id != nullptr) {
        do_downloadurl(static_cast<uint64_t>(strtoll(id, nullptr, 10)));
    }
}

void callback_downloadurl(int status, const std::string& body, void* user) {
    uint64_t id = curl_id_of_user(user);
    Self answer;
    if (self_parse(body, answer) != 0) {
        downloadurl_failed(status, nullptr);
        return;
    }
    if (!is_success_status(status)) {
        downloadurl_failed(status, &answer);
        return;
    }
    setDlInfoToURL(id, answer);
    publish_download_flags();
    if (isDownloadStep() || isNextDownloadStep()) {
        ondemandNextStep();
    }
    json_make_status_json();
}

void do_download(uint64_t id) {
    if (get_status() == 0) {
        return;
    }
    if (!dlListCheck_id(id)) {
        download_refused("Download Error ( URL is not registered. )");
        return;
    }
    dlSongInfo info = getDlSong_from_id(id);
    if (info.urls.empty()) {
        download_refused("Download Error ( URL is not retrieved. )");
        return;
    }
    // A song's files are always fetched as a set, into an empty directory.
    std::string dir = song_dir(id);
    fs::rm_dir(dir);
    fs::mk_dir(dir);
    contents_forget(id);
    for (const auto& url : info.urls) {
        std::string output = output_for(dir, url.first);
        if (strcasecmp(url.first.c_str(), "image") == 0) {
            output = dir + "/image";
            setDlInfoToImage(id, false);
            json_make_playmanager_info();
        }
        if (webapi_ondemand_items_download(url.second, url.first, id, output, callback_download,
                                           curl_user_of_id(id)) != 0) {
            // Never started: it fails now, as a cut transfer would later,
            // and the rest of the set is not worth fetching.
            callback_download(CURL_DOWNLOAD_FAILED, output, curl_user_of_id(id));
            break;
        }
    }
    json_make_status_json();
}

void do_download(const char* id) {
    if (id != nullptr) {
        do_download(static_cast<uint64_t>(strtoll(id, nullptr, 10)));
        json_make_status_json();
    }
}

void callback_download(int status, const std::string& path, void* user) {
    record_download(status, curl_id_of_user(user), path);
    // The status file counts the requests under way, one fewer now.
    json_make_status_json();
}
