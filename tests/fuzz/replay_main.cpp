// Runs a fuzz target over the inputs it is given, without libFuzzer: each
// argument is a file or a folder of files (read in name order). Files whose
// name begins with "unmended-" reproduce a fault not mended yet and are
// skipped. A fault in the target ends the process (a sanitizer's report, or
// a crash); otherwise it prints how many inputs ran and exits 0.
#include "support.h"

#include <algorithm>
#include <cstdio>
#include <dirent.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

bool is_dir(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

void add_inputs(const std::string& path, std::vector<std::string>& inputs) {
    if (!is_dir(path)) {
        inputs.push_back(path);
        return;
    }
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return;
    }
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && name.rfind("unmended-", 0) != 0) {
            names.push_back(name);
        }
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    for (const std::string& name : names) {
        inputs.push_back(path + "/" + name);
    }
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> inputs;
    for (int i = 1; i < argc; ++i) {
        add_inputs(argv[i], inputs);
    }
    for (const std::string& input : inputs) {
        std::ifstream file(input, std::ios::binary);
        if (!file) {
            fprintf(stderr, "cannot read %s\n", input.c_str());
            return 1;
        }
        std::string data((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(data.data()), data.size());
    }
    printf("replayed %zu inputs\n", inputs.size());
    // An empty corpus replays nothing: a missing folder must not pass.
    return inputs.empty() ? 1 : 0;
}
