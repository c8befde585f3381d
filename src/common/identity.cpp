#include "common/common.h"

#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <openssl/evp.h>
#include <uuid/uuid.h>
#include <vector>

namespace {

std::string m_modelType = "PNM10";
std::string proxy_;
std::string useragent_;

} // namespace

int get_region(std::string& out) {
    return fs::read_first_word(paths::at(paths::REGION_FILE), out);
}

int get_tqr_version(std::string& out) {
    return fs::read_first_word(paths::at(paths::VERSION_FILE), out);
}

int get_tqrid(std::string& out) {
    return fs::read_first_word(paths::at(paths::HOSTNAME_FILE), out);
}

int get_deviceid(std::string& out) {
    std::string id;
    if (get_tqrid(id) < 0) {
        return -1;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_Digest(id.data(), id.size(), digest, &length, EVP_md5(), nullptr) != 1) {
        return -1;
    }
    for (unsigned int i = 0; i < length; ++i) {
        out += xtoc(static_cast<unsigned char>(digest[i] >> 4));
        out += xtoc(static_cast<unsigned char>(digest[i] & 0x0f));
    }
    return 0;
}

const std::string& get_useragent() {
    std::string region;
    get_region(region);
    const char* label = region == "Japan" ? "REGION_JAPAN" : "REGION_WORLDWIDE";

    std::string version;
    get_tqr_version(version);
    str::replace(version, "ver:", "");
    std::vector<std::string> pieces;
    str::split(version, pieces, ".");
    // A version word without "." (or no version file) has no minor part;
    // "0" keeps the agent in the form the service parses.
    std::string major = !pieces[0].empty() ? pieces[0] : "0";
    std::string minor = pieces.size() > 1 && !pieces[1].empty() ? pieces[1] : "0";

    str::format(useragent_, "%s/%s.%s (BR; %s)", m_modelType.c_str(), major.c_str(), minor.c_str(),
                label);
    return useragent_;
}

void set_useragent_model(const std::string& model) {
    m_modelType = model;
}

const std::string& get_proxy() {
    return proxy_;
}

void set_proxy(const std::string& proxy) {
    proxy_ = proxy;
}

std::string read_account_value(const std::string& key) {
    std::string value;
    std::string text;
    if (fs::read_small_file(paths::at(paths::USER_FILE), text) != 0) {
        return value;
    }
    size_t start = 0;
    for (int i = 0; i < 5 && start < text.size(); ++i) {
        size_t end = text.find('\n', start);
        size_t length = (end == std::string::npos ? text.size() : end + 1) - start;
        // A line is read as far as 255 characters (its line end counted) or
        // its first NUL, as fgets into the old 256-byte buffer did.
        std::string line = text.substr(start, std::min<size_t>(length, 255));
        start += line.size();
        line.resize(strnlen(line.c_str(), line.size()));
        // The key, one separator character of any kind, then the value; the
        // line end counts as a character here.
        if (line.compare(0, key.size(), key) == 0 && line.size() > key.size() + 1) {
            value = line.substr(key.size() + 1);
            if (!value.empty() && value.back() == '\n') {
                value.pop_back();
            }
        }
    }
    return value;
}

int isOndemandFlag() {
    return read_account_value("ondemand") == "true" ? 1 : 0;
}

void get_randomid(std::string& out) {
    uuid_t id;
    char text[37];
    uuid_generate(id);
    uuid_unparse(id, text);
    out = text;
}
