#include "core/test_mode.h"

#include "base/debug.h"
#include "base/rvx.h"
#include "common/str.h"
#include "core/hooks.h"
#include "core/shutdown.h"
#include "net/curl.h"
#include "net/webapi.h"
#include "request/answer.h"
#include "service/login.h"
#include "state/song_list.h"
#include "ui/json.h"
#include "xml/self.h"
#include "xml/xml.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

rvx_st_io* stdin_ = nullptr;

constexpr const char* WORD_TRIM = " \t\v\r\n";

void on_login(Self& answer, void*) {
    self_dump(answer);
    // By hand there is no refresh to keep up.
    store_tokens(answer, false);
}

void on_search(Self& answer, void*) {
    self_dump(answer);
    songlist_fill(answer, SONGLIST_SEARCH);
    songlist_dump();
}

void on_get_url(Self& answer, void*) {
    self_dump(answer);
}

// The console dumps what it gets and looks at no status; an unreadable
// answer shows only the parser's own line.
constexpr AnswerHandler LOGIN_ANSWER = AnswerHandler()
                                           .with_success(on_login)
                                           .with_unreadable(Unreadable::Ignore)
                                           .with_failure(Failure::Ignore);
constexpr AnswerHandler SEARCH_ANSWER = AnswerHandler()
                                            .with_success(on_search)
                                            .with_unreadable(Unreadable::Ignore)
                                            .with_failure(Failure::Ignore);
constexpr AnswerHandler GET_URL_ANSWER = AnswerHandler()
                                             .with_success(on_get_url)
                                             .with_unreadable(Unreadable::Ignore)
                                             .with_failure(Failure::Ignore);

void login_callback(int status, const std::string& body, void* user) {
    handle_answer(LOGIN_ANSWER, status, body, user);
}

void search_callback(int status, const std::string& body, void* user) {
    handle_answer(SEARCH_ANSWER, status, body, user);
}

void get_url_callback(int status, const std::string& body, void* user) {
    handle_answer(GET_URL_ANSWER, status, body, user);
}

void run_command(const std::string& line) {
    std::vector<std::string> pieces;
    str::split(line, pieces, " ");
    // A word that trims to nothing (a stray tab or carriage return between
    // or after the blanks) is no word: "login NAME \r" lacks its password.
    std::vector<std::string> words;
    for (const std::string& piece : pieces) {
        std::string word = str::trim(piece, WORD_TRIM);
        if (!word.empty()) {
            words.push_back(word);
        }
    }
    if (words.empty()) {
        return;
    }
    const std::string& command = words[0];
    if (command == "login" && words.size() >= 3) {
        webapi_account_login(words[1], words[2], login_callback, nullptr);
    } else if (command == "search" && words.size() >= 2) {
        webapi_ondemand_items("", "8", words[1], "", "", "", search_callback, nullptr);
    } else if (command == "get_url" && words.size() >= 2) {
        // The service operation takes a 32-bit id; read the word the same way
        // on 32- and 64-bit builds.
        auto id = static_cast<unsigned int>(strtoull(words[1].c_str(), nullptr, 10));
        webapi_ondemand_items_downloadurl(id, get_url_callback, nullptr);
    } else if (command == "do_song_list") {
        debug_printf("*************************\n");
        songlist_dump();
    }
}

// Text of a line whose end has not been read yet.
std::string pending_;
// A line longer than this is no command; it is dropped up to its line end
// instead of being kept growing.
constexpr size_t LINE_LIMIT = 64 * 1024;
bool overlong_ = false;

// Commands typed quickly or piped in may share one read, and a long line may
// be split between reads: each complete line is one command.
int read_event(rvx_st_io* io) {
    char buffer[RVX_READ_MAX + 1];
    int count = rvx_ReadData(io, buffer);
    if (count <= 0) {
        return 0;
    }
    pending_.append(buffer, static_cast<size_t>(count));
    size_t start = 0;
    for (size_t end = pending_.find('\n'); end != std::string::npos;
         end = pending_.find('\n', start)) {
        std::string line = pending_.substr(start, end - start);
        start = end + 1;
        if (overlong_) {
            overlong_ = false;
        } else {
            run_command(line);
        }
    }
    pending_.erase(0, start);
    if (pending_.size() > LINE_LIMIT) {
        pending_.clear();
        overlong_ = true;
    }
    return 0;
}

int close_event(rvx_st_io* io) {
    rvx_Release_Rvx(io);
    stdin_ = nullptr;
    // The last line may end without a line end.
    std::string last;
    last.swap(pending_);
    if (!overlong_) {
        run_command(last);
    }
    overlong_ = false;
    return 0;
}

} // namespace

int do_test() {
    shutdown_watch();
    json_defer(true);
    xml_init();
    connect_hooks();
    curl_configure();
    stdin_ = rvx_Stdio();
    if (stdin_ == nullptr) {
        return -1;
    }
    rvx_Set_Type(stdin_, -1);
    rvx_Set_ReadEvent(stdin_, read_event);
    rvx_Set_CloseEvent(stdin_, close_event);
    // At the end of input the requests already sent (the last line's too)
    // are still answered and dumped before the console ends.
    while (((stdin_ != nullptr && rvx_Get_InUse(stdin_)) || curl_num() > 0) &&
           !shutdown_requested()) {
        rvx_Selects(-1);
        json_flush();
    }
    shutdown_children();
    json_flush();
    return 0;
}
