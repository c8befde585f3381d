#include "common/common.h"
#include "common/deployment.h"

#include <cstdlib>

namespace {

long long budget_ = 0;

long long configured_budget() {
    const char* text = getenv("ONDEMAND_SONG_BUDGET_BYTES");
    if (text != nullptr && *text != '\0') {
        char* end = nullptr;
        long long value = strtoll(text, &end, 10);
        if (*end == '\0' && value > 0) {
            return value;
        }
    }
    return static_cast<long long>(deployment::SONG_BUDGET_MB) * 1024 * 1024;
}

} // namespace

long long song_budget_bytes() {
    if (budget_ == 0) {
        budget_ = configured_budget();
    }
    return budget_;
}

void song_budget_set(long long bytes) {
    budget_ = bytes > 0 ? bytes : 0;
}
