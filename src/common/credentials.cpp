#include "common/common.h"

#include "common/fs.h"
#include "common/paths.h"
#include "common/str.h"

#include <cstdio>

namespace {

std::string token_;
std::string refresh_token_;
long long token_expires_ = 0;

// Tokens are at most 1023 characters: the first line as one fgets of a
// 1024-byte buffer reads it.
constexpr size_t TOKEN_MAX = 1023;

// White space is never part of a token: a file written with a line end, or
// emptied to one, would otherwise pass for a token that the service refuses.
const std::string& read_token(const char* path, std::string& cache) {
    cache.clear();
    fs::read_first_line(paths::at(path), TOKEN_MAX, cache);
    cache = str::trim(cache, " \t\r\n\v\f");
    return cache;
}

// The file is written in place, not replaced: the device's other software
// shares it and may keep it as a link to writable storage.
int write_token(const char* path, const std::string& token) {
    FILE* file = fopen(paths::at(path).c_str(), "we");
    if (file == nullptr) {
        return 0;
    }
    fwrite(token.data(), 1, token.size(), file);
    return fclose(file);
}

} // namespace

const std::string& get_token() {
    return read_token(paths::TOKEN_FILE, token_);
}

int set_token(const std::string& token) {
    return write_token(paths::TOKEN_FILE, token);
}

const std::string& get_refresh_token() {
    return read_token(paths::REFRESH_TOKEN_FILE, refresh_token_);
}

int set_refresh_token(const std::string& token) {
    return write_token(paths::REFRESH_TOKEN_FILE, token);
}

long long set_token_expires(long long ms) {
    token_expires_ = ms;
    return token_expires_;
}

long long set_token_expires() {
    return token_expires_;
}
