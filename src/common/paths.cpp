#include "common/paths.h"

#include <cstdlib>

namespace paths {

std::string root() {
    const char* value = std::getenv("ONDEMAND_ROOT");
    return value != nullptr ? std::string(value) : std::string();
}

std::string at(const std::string& path) {
    std::string base = root();
    if (base.empty() || path.empty() || path[0] != '/') {
        return path;
    }
    while (!base.empty() && base.back() == '/') {
        base.pop_back();
    }
    return base + path;
}

} // namespace paths
