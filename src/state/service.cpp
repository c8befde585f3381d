#include "state/service.h"

#include "common/deployment.h"
#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"

#include <string>

namespace {

int status_ = 0;
int seq_status_ = 0;
int next_control_status_ = 0;
bool gratis_ = true;
bool isEnableOA_ = false;

constexpr size_t BASE_URL_MAX = 1023;

} // namespace

int get_status() {
    return status_;
}

void store_service_on(bool on) {
    status_ = on ? 1 : 0;
}

int get_seq_status() {
    return seq_status_;
}

void store_seq_status(int state) {
    seq_status_ = state;
}

int get_next_control_status() {
    return next_control_status_;
}

void set_next_control_status(int value) {
    next_control_status_ = value;
}

void setGratis(const char* value) {
    if (value == nullptr) {
        return;
    }
    if (str::iequals(value, "true")) {
        gratis_ = true;
    } else if (str::iequals(value, "false")) {
        gratis_ = false;
    }
}

bool isGratisMember() {
    return gratis_;
}

bool isOriginalArtist() {
    return isEnableOA_;
}

void setOriginalArtist(bool enabled) {
    isEnableOA_ = enabled;
}

bool isTestServer() {
    std::string url;
    if (fs::read_first_line(paths::at(paths::BASE_URL_FILE), BASE_URL_MAX, url) != 0 ||
        url.empty()) {
        return false;
    }
    return url == deployment::STAGING_BASE_URL || url == deployment::PRODUCTION_BASE_URL;
}
