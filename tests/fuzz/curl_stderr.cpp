// curl's standard error as the request runner reads it: the first byte
// chooses the size of the reads the rest arrives in.
#include "support.h"

#include "net/curl.h"

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    size_t chunk = data[0] % 64 + 1;
    CurlStderrReader::Events events;
    events.timed_out = [] {};
    events.status = [](int) {};
    // The figure is the text before the percent sign, at most five characters.
    events.progress = [](const std::string& figure) {
        if (figure.size() > 5) {
            abort();
        }
    };
    CurlStderrReader reader(std::move(events));
    for (size_t at = 1; at < size; at += chunk) {
        reader.feed(reinterpret_cast<const char*>(data) + at, std::min(chunk, size - at));
    }
    reader.finish();
    return 0;
}
