#include "support.h"

#include "base/debug.h"
#include "common/fs.h"
#include "common/paths.h"
#include "core/hooks.h"
#include "xml/xml.h"

#include <cstdio>
#include <cstdlib>

namespace {

std::string root_;

void remove_root() {
    if (!root_.empty()) {
        fs::rm_dir(root_);
    }
}

} // namespace

void fuzz_setup() {
    static bool ready = [] {
        const char* tmp = getenv("TMPDIR");
        std::string pattern =
            std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/od-fuzz-XXXXXX";
        if (mkdtemp(&pattern[0]) == nullptr) {
            perror("mkdtemp");
            abort();
        }
        root_ = pattern;
        atexit(remove_root);
        setenv("ONDEMAND_ROOT", root_.c_str(), 1);
        for (const char* dir : {paths::WWW_CTRL_DIR, paths::SESSION_DIR, "/usr/local/olc"}) {
            fs::mk_dir(paths::at(dir));
        }
        debug_set(0);
        connect_hooks();
        return xml_init() == 0;
    }();
    if (!ready) {
        abort();
    }
}

const std::string& fuzz_root() {
    return root_;
}
