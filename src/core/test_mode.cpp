#include "core/test_mode.h"

#include "catalogue/song_list.h"
#include "common/common.h"
#include "common/str.h"
#include "core/debug.h"
#include "core/rvx.h"
#include "net/webapi.h"
#include "xml/self.h"
#include "xml/xml.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace {

rvx_st_io* stdin_ = nullptr;

constexpr const char* WORD_TRIM = " \t\v\r\n";

void login_callback(int, const std::string& body, void*) {
    Self answer;
    if (self_parse(body, answer) != 0) {
        return;
    }
    self_dump(answer);
    self_foreach(answer, [](Self& node) {
        if (node.name == "token") {
            set_token(node.contents);
            auto expires = node.attributes.find("expires");
            long long seconds = expires != node.attributes.end()
                                    ? strtoll(expires->second.c_str(), nullptr, 10)
                                    : 0;
            set_token_expires(seconds * 1000);
        } else if (node.name == "refreshtoken") {
            set_refresh_token(node.contents);
        }
        return 0;
    });
}

void search_callback(int, const std::string& body, void*) {
    Self answer;
    if (self_parse(body, answer) != 0) {
        return;
    }
    self_dump(answer);
    songlist_fill(answer, SONGLIST_SEARCH);
    songlist_dump();
}

void get_url_callback(int, const std::string& body, void*) {
    Self answer;
    if (self_parse(body, answer) == 0) {
        self_dump(answer);
    }
}

void run_command(const std::string& line) {
    std::vector<std::string> words;
    str::split(line, words, " ");
    for (std::string& word : words) {
        word = str::trim(word, WORD_TRIM);
    }
    const std::string& command = words[0];
    if (command == "login" && words.size() >= 3) {
        webapi_account_login(words[1], words[2], login_callback, nullptr);
    } else if (command == "search" && words.size() >= 2) {
        webapi_ondemand_items("", "8", words[1], "", "", "", search_callback, nullptr);
    } else if (command == "get_url" && words.size() >= 2) {
        auto id = static_cast<unsigned int>(strtoul(words[1].c_str(), nullptr, 10));
        webapi_ondemand_items_downloadurl(id, get_url_callback, nullptr);
    } else if (command == "do_song_list") {
        debug_printf("*************************\n");
        songlist_dump();
    }
}

// Commands typed quickly or piped in may share one read: each line is one
// command.
int read_event(rvx_st_io* io) {
    char buffer[RVX_READ_MAX + 1];
    int count = rvx_ReadData(io, buffer);
    if (count <= 0) {
        return 0;
    }
    buffer[count] = '\0';
    std::vector<std::string> lines;
    str::split(buffer, lines, "\n");
    for (const std::string& line : lines) {
        if (!line.empty()) {
            run_command(line);
        }
    }
    return 0;
}

int close_event(rvx_st_io* io) {
    rvx_Release_Rvx(io);
    stdin_ = nullptr;
    return 0;
}

} // namespace

int do_test() {
    xml_init();
    stdin_ = rvx_Stdio();
    if (stdin_ == nullptr) {
        return -1;
    }
    rvx_Set_Type(stdin_, -1);
    rvx_Set_ReadEvent(stdin_, read_event);
    rvx_Set_CloseEvent(stdin_, close_event);
    while (stdin_ != nullptr && rvx_Get_InUse(stdin_)) {
        rvx_Selects(-1);
    }
    return 0;
}
