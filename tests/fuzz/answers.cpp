// A service answer given to every answer handler of one group, as the
// request runner gives it: once as a success and once as a failure status,
// so both the lists filled and the error read from the answer are reached.
// FUZZ_ANSWERS names the group.
#include "support.h"

#include "catalogue/playlists.h"
#include "catalogue/presets.h"
#include "catalogue/recommend.h"
#include "catalogue/search.h"
#include "net/curl.h"
#include "player/download.h"
#include "service/login.h"

#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

using Handler = void (*)(int status, const std::string& body, void* user);

struct Group {
    const char* name;
    std::vector<Handler> handlers;
};

const Group GROUPS[] = {
    {"search", {callback_search}},
    {"playlists",
     {callback_allplaylists, callback_playlist, callback_createPlaylist, callback_updatePlaylist,
      callback_addSongPlaylist, callback_deletePlaylist}},
    {"presets", {callback_presetPlaylist, callback_allPresetPlaylist, callback_gratisPlaylist}},
    {"recommend", {callback_recommendPlaylist, callback_recommend, callback_hisotry}},
    {"genres", {callback_genres}},
    {"downloadurl", {callback_downloadurl}},
    {"login", {callback_relogin, callback_refresh, callback_account_features, callback_api_list}},
};

const Group& group() {
    static const Group* chosen = [] {
        for (const Group& candidate : GROUPS) {
            if (strcmp(candidate.name, FUZZ_ANSWERS) == 0) {
                return &candidate;
            }
        }
        abort();
    }();
    return *chosen;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup();
    std::string body = fuzz_text(data, size);
    for (Handler handler : group().handlers) {
        for (int status : {200, 500}) {
            handler(status, body, curl_user_of_id(7));
        }
    }
    fuzz_done();
    return 0;
}
