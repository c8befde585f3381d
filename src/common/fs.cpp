#include "common/fs.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace fs {

namespace {

bool is_directory(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool is_dot(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// Names of the entries of a directory other than "." and "..".
int list_entries(const std::string& path, std::vector<std::string>& names) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        perror(path.c_str());
        return -1;
    }
    while (dirent* entry = readdir(dir)) {
        if (!is_dot(entry->d_name)) {
            names.emplace_back(entry->d_name);
        }
    }
    closedir(dir);
    return 0;
}

} // namespace

int is_valid_dir(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 ? 1 : 0;
}

int mk_dir(const std::string& path) {
    if (is_valid_dir(path)) {
        return 0;
    }
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return -1;
    }
    // The file-system root always exists, so "/x" needs no ancestor made.
    if (slash > 0 && mk_dir(path.substr(0, slash)) < 0) {
        return -1;
    }
    mkdir(path.c_str(), 0777);
    return 0;
}

int rm_file(const std::string& path) {
    return unlink(path.c_str());
}

int delete_file(const std::string& path) {
    if (path.empty()) {
        return 0;
    }
    std::vector<std::string> names;
    if (list_entries(path, names) < 0) {
        return -1;
    }
    int result = 0;
    for (const std::string& name : names) {
        std::string child = path + "/" + name;
        if (is_directory(child)) {
            if (delete_file(child) < 0) {
                result = -1;
            }
        } else {
            unlink(child.c_str());
        }
    }
    return result;
}

int delete_dir(const std::string& path) {
    if (path.empty()) {
        return 0;
    }
    std::vector<std::string> names;
    int result = list_entries(path, names);
    for (const std::string& name : names) {
        std::string child = path + "/" + name;
        if (is_directory(child) && rmdir(child.c_str()) != 0 && delete_dir(child) < 0) {
            result = -1;
        }
    }
    if (rmdir(path.c_str()) != 0) {
        perror(path.c_str());
        return -1;
    }
    return result;
}

int rm_dir(const std::string& path) {
    if (!is_valid_dir(path)) {
        return 0;
    }
    if (!is_directory(path)) {
        return unlink(path.c_str()) == 0 ? 0 : -1;
    }
    int result = delete_file(path);
    if (delete_dir(path) < 0) {
        result = -1;
    }
    return result;
}

int dir_foreach(const std::string& path, const std::function<void(dirent*)>& fn) {
    DIR* dir = opendir(path.c_str());
    if (dir == nullptr) {
        return -1;
    }
    while (dirent* entry = readdir(dir)) {
        fn(entry);
    }
    closedir(dir);
    return 0;
}

int write_file_atomic(const std::string& path, const std::string& text) {
    std::string work = path + ".wk";
    // Written with plain system calls: the text is whole in memory already,
    // and the files are written often.
    int fd = open(work.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        return -1;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0 || done != text.size()) {
        unlink(work.c_str());
        return -1;
    }
    if (rename(work.c_str(), path.c_str()) != 0) {
        unlink(work.c_str());
        return -1;
    }
    return 0;
}

int read_small_file(const std::string& path, std::string& out) {
    int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return -1;
    }
    // Read on the stack: tokens and settings are read at every use, and a
    // heap block of the bound for each read would cost more than the read.
    char buffer[SMALL_FILE_MAX];
    size_t done = 0;
    while (done < SMALL_FILE_MAX) {
        ssize_t n = read(fd, buffer + done, SMALL_FILE_MAX - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            break;
        }
        done += static_cast<size_t>(n);
    }
    close(fd);
    out.assign(buffer, done);
    return 0;
}

int read_first_line(const std::string& path, size_t max_chars, std::string& out) {
    std::string text;
    if (read_small_file(path, text) != 0) {
        return -1;
    }
    // As fgets: up to the first line end (kept) or max_chars, and a NUL ends
    // the text.
    size_t line_end = text.find('\n');
    size_t end = std::min(line_end == std::string::npos ? text.size() : line_end + 1, max_chars);
    out.assign(text.c_str(), strnlen(text.c_str(), end));
    return 0;
}

int read_first_word(const std::string& path, std::string& out) {
    std::string text;
    if (read_small_file(path, text) != 0) {
        return -1;
    }
    size_t start = 0;
    while (start < text.size() && isspace(static_cast<unsigned char>(text[start]))) {
        ++start;
    }
    size_t end = start;
    while (end < text.size() && !isspace(static_cast<unsigned char>(text[end]))) {
        ++end;
    }
    if (end > start) {
        out = text.substr(start, end - start);
    }
    return 0;
}

} // namespace fs
