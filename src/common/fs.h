// Thin wrappers over the POSIX file-system calls. Paths are used as given:
// callers take absolute paths below the root with paths::at.
#pragma once

#include <dirent.h>
#include <functional>
#include <string>

namespace fs {

// 1 when stat succeeds on the path, whatever its type; else 0.
int is_valid_dir(const std::string& path);

// Creates the directory and its missing ancestors; 0 when it existed or the
// creation was attempted, -1 when a missing ancestor cannot be made.
int mk_dir(const std::string& path);

int rm_file(const std::string& path);

// Removes the whole tree at the path; 0 when the path does not exist. A plain
// file at the path is unlinked. A directory in the tree that cannot be opened
// or removed is reported on standard error (perror) and skipped, and the
// result is then -1: a stray entry must never stop the daemon.
int rm_dir(const std::string& path);

// The two passes of rm_dir: every non-directory at any depth, then the
// directories deepest first and the path itself. Each returns -1 when some
// directory could not be opened or removed.
int delete_file(const std::string& path);
int delete_dir(const std::string& path);

// Calls fn for every entry readdir returns, "." and ".." included; -1 when the
// directory cannot be opened.
int dir_foreach(const std::string& path, const std::function<void(dirent*)>& fn);

// Writes `text` to `path`.wk and renames it over `path`, so a reader sees the
// old or the new contents, never a part. -1 when the work file cannot be
// written (the published file is left as it was, no work file is left).
int write_file_atomic(const std::string& path, const std::string& text);

// The most read from one of the small files the daemon reads at fixed paths
// (settings, tokens, the base URL, the account, the session record).
constexpr size_t SMALL_FILE_MAX = 4096;

// The first SMALL_FILE_MAX bytes of a regular file. The file is opened
// without blocking and checked once open, so a FIFO, a device, a directory or
// a link to one counts as absent (-1) and can never hold the daemon up.
int read_small_file(const std::string& path, std::string& out);

// First line of a file, at most max_chars characters (a line end included
// when it fits), as fgets reads it; -1 when the file is absent or not a
// regular file. Read through read_small_file.
int read_first_line(const std::string& path, size_t max_chars, std::string& out);

// First white-space-separated word of a file; -1 when it is absent or not a
// regular file. A file without a word leaves `out` as it was.
int read_first_word(const std::string& path, std::string& out);

} // namespace fs
