// A stand-in service under the test root: the tokens, the base URL
// "https://s", and a curl that notes each request as "METHOD ADDRESS" (the
// base left out) and answers nothing. Tests deliver the answers by calling
// the answer handlers, and look at the notes without running the loop, so no
// empty answer of the stand-in arrives meanwhile.
#pragma once

#include "support/temp_root.h"
#include "support/wait.h"

#include <chrono>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <vector>

inline void install_stand_in_service(const TempRoot& root) {
    root.write("/usr/bin/curl",
               "#!/bin/sh\necho \"$2 ${3#https://s}\" >> \"$ONDEMAND_ROOT/sent\"\n");
    chmod((root.path() + "/usr/bin/curl").c_str(), 0755);
    root.write("/usr/local/olc/api_token.txt", "access");
    root.write("/usr/local/olc/api_refresh_token.txt", "refresh");
    root.write("/usr/local/olc/ondemand_base_url", "https://s");
}

// The requests noted so far, once `count` are there or the scaled time is up.
// The children note themselves in the order they run, not the order they
// were started in.
inline std::vector<std::string> noted_requests(const TempRoot& root, size_t count) {
    std::vector<std::string> lines;
    auto deadline = std::chrono::steady_clock::now() +
                    std::chrono::milliseconds(static_cast<int>(5000 * test_scale()));
    for (;;) {
        lines.clear();
        std::string text = root.read("/sent");
        for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
            lines.push_back(text.substr(at, end - at));
        }
        if (lines.size() >= count || std::chrono::steady_clock::now() >= deadline) {
            return lines;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
