// Fetching a song: first its download addresses, then its files into the
// song's directory. The answers update the registry and the contents,
// republish the lists that show download flags, and move the play manager on.
#pragma once

#include <cstdint>
#include <string>

// Asks for the addresses of song `id`; 0 asks for those of every song of the
// search list.
void do_downloadurl(uint64_t id);
// The command form: the id as decimal text; absent, nothing happens.
void do_downloadurl(const char* id);
void callback_downloadurl(int status, const std::string& body, void* user);
// Downloads every file whose address is registered for song `id`.
void do_download(uint64_t id);
void do_download(const char* id);
void callback_download(int status, const std::string& path, void* user);
