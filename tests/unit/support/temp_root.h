// A fresh directory used as ONDEMAND_ROOT for one test, removed afterwards.
#pragma once

#include "common/fs.h"

#include <cstdio>
#include <cstdlib>
#include <string>

class TempRoot {
  public:
    TempRoot() {
        char pattern[] = "/tmp/od-unit-XXXXXX";
        const char* made = mkdtemp(pattern);
        path_ = made != nullptr ? made : "";
        setenv("ONDEMAND_ROOT", path_.c_str(), 1);
    }
    ~TempRoot() {
        unsetenv("ONDEMAND_ROOT");
        fs::rm_dir(path_);
    }
    TempRoot(const TempRoot&) = delete;
    TempRoot& operator=(const TempRoot&) = delete;

    const std::string& path() const { return path_; }

    // Writes `text` to the absolute device path below the root, making its
    // directories.
    void write(const std::string& device_path, const std::string& text) const {
        std::string full = path_ + device_path;
        fs::mk_dir(full.substr(0, full.rfind('/')));
        FILE* file = fopen(full.c_str(), "w");
        if (file != nullptr) {
            fwrite(text.data(), 1, text.size(), file);
            fclose(file);
        }
    }

    std::string read(const std::string& device_path) const {
        std::string text;
        FILE* file = fopen((path_ + device_path).c_str(), "r");
        if (file == nullptr) {
            return "<missing>";
        }
        char buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) {
            text.append(buffer, n);
        }
        fclose(file);
        return text;
    }

    bool exists(const std::string& device_path) const {
        return fs::is_valid_dir(path_ + device_path) == 1;
    }

  private:
    std::string path_;
};
