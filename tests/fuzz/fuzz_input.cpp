// Feeds arbitrary bytes to the two parsers of outside input: messages from
// the control server and answers of the music service. Built with
// -DONDEMAND_FUZZ=ON, clang and -fsanitize=fuzzer-no-link,address in
// CMAKE_CXX_FLAGS; run as build-fuzz/tests/fuzz_input -max_total_time=60.
#include "catalogue/search.h"
#include "common/fs.h"
#include "core/dispatch.h"
#include "xml/xml.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static bool ready = [] {
        char pattern[] = "/tmp/od-fuzz-XXXXXX";
        const char* root = mkdtemp(pattern);
        setenv("ONDEMAND_ROOT", root != nullptr ? root : "/tmp", 1);
        fs::mk_dir(std::string(root != nullptr ? root : "/tmp") + "/usr/local/www/ctrl");
        return xml_init() == 0;
    }();
    if (!ready || size == 0) {
        return 0;
    }
    std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] & 1) {
        xml_parse(text.c_str());
    } else {
        callback_search(data[0] & 2 ? 200 : 500, text, nullptr);
    }
    return 0;
}
