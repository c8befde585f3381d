// The search-word encoder: whatever the word, the result holds only ASCII
// letters, digits and "%XX" escapes, and decodes back to the word.
#include "support.h"

#include "net/webapi.h"

#include <cctype>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string word = fuzz_text(data, size);
    std::string encoded;
    url_encode_utf8(word, encoded);
    std::string decoded;
    for (size_t i = 0; i < encoded.size(); ++i) {
        auto c = static_cast<unsigned char>(encoded[i]);
        if (isalnum(c) && c < 0x80) {
            decoded += static_cast<char>(c);
            continue;
        }
        if (c != '%' || i + 2 >= encoded.size() ||
            !isxdigit(static_cast<unsigned char>(encoded[i + 1])) ||
            !isxdigit(static_cast<unsigned char>(encoded[i + 2])) ||
            islower(static_cast<unsigned char>(encoded[i + 1])) ||
            islower(static_cast<unsigned char>(encoded[i + 2]))) {
            abort();
        }
        decoded += static_cast<char>(strtol(encoded.substr(i + 1, 2).c_str(), nullptr, 16));
        i += 2;
    }
    if (decoded != word) {
        abort();
    }
    return 0;
}
