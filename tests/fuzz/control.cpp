// One read from the control socket, handed to the dispatcher as the link
// does: at most one read's bytes, ending at the first NUL.
#include "support.h"

#include "base/rvx.h"
#include "core/dispatch.h"

#include <algorithm>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup();
    char buffer[RVX_READ_MAX + 1];
    size_t count = std::min(size, static_cast<size_t>(RVX_READ_MAX));
    memcpy(buffer, data, count);
    buffer[count] = '\0';
    xml_parse(buffer);
    fuzz_done();
    return 0;
}
