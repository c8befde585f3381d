// json_escape must give a valid JSON string body for any bytes: no raw
// quote, backslash or control character, and only the escapes JSON knows.
#include "support.h"

#include "ui/json.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace {

bool valid_string_body(const std::string& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c == '"') {
            return false;
        }
        if (c != '\\') {
            continue;
        }
        if (++i == text.size() || strchr("\"\\/bfnrtu", text[i]) == nullptr) {
            return false;
        }
        if (text[i] == 'u') {
            for (int digit = 0; digit < 4; ++digit) {
                if (++i == text.size() || !isxdigit(static_cast<unsigned char>(text[i]))) {
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string text = fuzz_text(data, size);
    if (!valid_string_body(json_escape(text))) {
        abort();
    }
    return 0;
}
