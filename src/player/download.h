// Fetching a song: first its download addresses, then its files into the
// song's directory. The answers update the registry and the contents,
// republish the lists that show download flags, and move the play manager on
// when they are for the song it waits for.
#pragma once

#include <cstdint>
#include <string>

// Who asked for a song's addresses or files: the play manager for one of its
// plays (the play's number), or the user by hand (play 0). Only an answer for
// the song the play manager's current step waits for moves it on.
struct SongTicket {
    uint64_t id = 0;
    uint32_t play = 0;
};

// Asks for the addresses of song `id`; 0 asks for those of every song of the
// search list. By hand: the answers never move the play manager.
void do_downloadurl(uint64_t id);
// The command form: the id as a decimal number; anything else does nothing.
void do_downloadurl(const char* id);
// The answer to a request made by hand.
void callback_downloadurl(int status, const std::string& body, void* user);
// Downloads every file whose address is registered for song `id`, by hand.
void do_download(uint64_t id);
void do_download(const char* id);
void callback_download(int status, const std::string& path, void* user);

// The play manager's own requests. 0 when the request is under way; -1 when
// nothing could be sent (no token, no curl, an id the service cannot take,
// no address registered); for files, 1 when the service gave the song no
// file to play. The error dialog's text is then in `why`.
int fetch_song_addresses(const SongTicket& ticket, std::string& why);
int fetch_song_files(const SongTicket& ticket, std::string& why);
// Their answers.
void answer_downloadurl(const SongTicket& ticket, int status, const std::string& body);
void answer_download(const SongTicket& ticket, int status, const std::string& path);

// Forgets the downloads under way; their requests have been withdrawn.
void forget_downloads();
