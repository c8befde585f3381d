// A service answer given to one answer handler of a group, as the request
// runner gives it. The input's first byte chooses the handler and the status
// it comes with; the rest is the answer's text. So each input's coverage is
// that of one handler, and every status the runner hands over is reached: a
// success, a failure, the refusals of an expired login (401) and of the
// region (403), and no answer at all (-1). FUZZ_ANSWERS names the group.
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
#include <iterator>
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

constexpr int STATUSES[] = {200, 500, 401, 403, -1};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup();
    const std::vector<Handler>& handlers = group().handlers;
    size_t choice = size > 0 ? data[0] : 0;
    Handler handler = handlers[choice % handlers.size()];
    int status = STATUSES[choice / handlers.size() % std::size(STATUSES)];
    std::string body = size > 0 ? fuzz_text(data + 1, size - 1) : std::string();
    handler(status, body, curl_user_of_id(7));
    fuzz_done();
    return 0;
}
