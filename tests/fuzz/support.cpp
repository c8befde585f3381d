#include "support.h"

#include "base/debug.h"
#include "common/fs.h"
#include "common/paths.h"
#include "core/hooks.h"
#include "net/curl.h"
#include "request/answer.h"
#include "ui/json.h"
#include "xml/xml.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

std::string root_;

// The requests of the input being run, for a look at a finding in a
// debugger; cleared at its end, so memory stays bounded.
constexpr size_t MAX_RECORDED = 64;
std::vector<std::vector<std::string>> requests_;

void remove_root() {
    if (!root_.empty()) {
        fs::rm_dir(root_);
    }
}

void record_request(const WaitingRequest&, const std::vector<std::string>& args) {
    if (requests_.size() < MAX_RECORDED) {
        requests_.push_back(args);
    }
}

// The text was rendered, which is what is fuzzed; nobody reads it.
void drop_published(const char*, const std::string&) {}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    curl_set_transport(record_request);
    json_set_publisher(drop_published);
    // As in the daemon's loop: an input marks files, fuzz_done renders them.
    json_defer(true);
    return 0;
}

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

void fuzz_done() {
    json_flush();
    // What the input left waiting goes with it: the recorded requests and
    // the answers they wait for. An input that kept memory into the next
    // would look like a leak to the fuzzer, which then runs it again.
    requests_.clear();
    answers_new_session();
}

const std::string& fuzz_root() {
    return root_;
}
