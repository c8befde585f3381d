// The request runner: every web request and download is one run of the
// curl program; at most five run at once, the rest wait in order.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// status: the last HTTP status read, or -1 when curl failed or no answer was
// seen (a failed download: CURL_DOWNLOAD_FAILED); text: the body, or the
// output path of a download.
using RequestCallback = std::function<void(int status, const std::string& text, void* user)>;

constexpr int CURL_GET = 0;
constexpr int CURL_POST = 1;
constexpr int CURL_MAX_RUNNING = 5;
// The status of a download whose run failed (curl ended with an error, for
// example when the connection was cut mid-file, or it could not be started
// when its turn came). Never -1, which counts as success: a partial file must
// not be taken for a whole one.
constexpr int CURL_DOWNLOAD_FAILED = 0;

// An answer longer than this ends its child and is answered as a failed run
// (status -1, no body): on the controller a runaway answer would otherwise
// end with the out-of-memory killer. The longest list answers are a few MB.
constexpr size_t CURL_MAX_BODY = 16 * 1024 * 1024;
// After an answer this long the freed memory is given back to the system.
constexpr size_t CURL_LARGE_BODY = 1024 * 1024;

// The two operations whose curl runs without "--max-time": logging in and
// refreshing the token. A URL is one of them when its path, up to any query,
// ends with the text.
constexpr const char* CURL_LOGIN_PATH = "/auth/login";
constexpr const char* CURL_REFRESH_PATH = "/auth/refresh";

// A child still running this long after its start is ended and its request
// answered as failed, whatever curl's own time limit: logging in and
// refreshing have none, and a service that stalls must not hold a place for
// ever.
constexpr int64_t CURL_RUN_LIMIT_MS = 180000;

// Header lines that stand for a stored token: when the request's child
// starts, each is replaced by "token: " and that token as it is then, or left
// out when none is stored. A request that waited in the queue so goes out
// with the token current at its start, not with one replaced meanwhile.
constexpr const char* CURL_ACCESS_TOKEN_HEADER = "token: (access token)";
constexpr const char* CURL_REFRESH_TOKEN_HEADER = "token: (refresh token)";

struct WaitingRequest {
    std::string url;
    int method = CURL_GET;
    std::vector<std::string> headers;
    std::vector<std::string> forms;
    std::vector<std::string> data;
    std::string output;
    RequestCallback callback;
    void* user = nullptr;
};

// The most requests that wait for a place.
constexpr size_t CURL_MAX_WAITING = 2000;
// The protocols curl may use, for a request and for any redirect it follows.
constexpr const char* CURL_PROTOCOLS = "=https,http";

// 0 when the request was started or queued; -1 for an unknown method, a URL
// starting with "-", a child that cannot be started or a full waiting queue
// (CURL_MAX_WAITING): the callback is then never called. A GET request that
// is the same as one already waiting (same URL, data and output file: the
// same song's address, the same file of a song) is not queued again: it
// gives 0 and its callback is never called, the waiting one answers for
// both. A queued request that cannot be started when its turn comes is
// answered with status -1.
int curl_exec(const std::string& url, int method, const std::vector<std::string>& headers,
              const std::vector<std::string>& forms, const std::vector<std::string>& data,
              const std::string& output, RequestCallback callback, void* user);

// A song id carried as a request's user value, and back. Ids read from answers
// are 32-bit values widened with their sign, so sign-extending the pointer
// gives them back whole on a 32-bit target too ("-1" is all 64 bits set).
inline void* curl_user_of_id(uint64_t id) {
    return reinterpret_cast<void*>(static_cast<intptr_t>(static_cast<int64_t>(id)));
}
inline uint64_t curl_id_of_user(void* user) {
    return static_cast<uint64_t>(static_cast<int64_t>(reinterpret_cast<intptr_t>(user)));
}

// What a run tells beyond its own answer: a time-out reported by curl, and
// the progress figure of a download (the five characters before "%") with its
// output path and the song id its user value carries. The daemon connects
// them at start-up; the runner itself knows nothing of dialogs or songs.
struct CurlHooks {
    void (*timed_out)() = nullptr;
    void (*progress)(const std::string& output, uint64_t song_id,
                     const std::string& figure) = nullptr;
};
void curl_set_hooks(const CurlHooks& hooks);

// A stand-in for the child, for programs that must not start any (the fuzz
// programs, which run a handler millions of times). When set, a request whose
// turn has come is handed to it, its token headers filled in and its argument
// vector built, instead of starting curl; curl_exec gives 0 and the request
// is done with at once: it never counts in curl_num(), holds no place, and
// its callback is never called, as for a withdrawn request. Null, the
// default: children are started.
using CurlTransport = void (*)(const WaitingRequest& request, const std::vector<std::string>& args);
void curl_set_transport(CurlTransport transport);

// Reads the settings of the runner once, at start-up: the run limit from the
// environment value ONDEMAND_CURL_LIMIT_MS when that is a positive number of
// milliseconds (tests shorten it so), and whether the installed curl can
// decode compressed answers: it is asked with "--compressed --version", which
// a curl built without compression support refuses. The probe is a child of
// the loop and this returns at once; requests started before it has answered
// go without "--compressed".
void curl_configure();
// For tests and curl_configure: answers are asked for "--compressed" or not;
// children started from now on are ended after `limit_ms` (> 0).
void curl_set_compressed(bool compressed);
void curl_set_run_limit(int64_t limit_ms);
// The CA file that replaces "--insecure" on the service's own requests; the
// deployment value ONDEMAND_CA_FILE unless a test sets another. Empty: none.
void curl_set_ca_file(const std::string& path);

// Requests submitted and not yet answered: running plus waiting.
int curl_num();

// Withdraws the requests whose URL and output path (empty for a request that
// is not a download) match: waiting ones are dropped, running children are
// killed. None of their callbacks is ever called. Returns how many there were.
int curl_cancel(
    const std::function<bool(const std::string& url, const std::string& output)>& match);

// The argument vector of one request, program path first; -1 for an
// unknown method or a URL that curl would take for an option.
int curl_build_args(const WaitingRequest& request, std::vector<std::string>& args);

// Reads curl's verbose standard error line by line; a line may arrive split
// over several reads.
class CurlStderrReader {
  public:
    struct Events {
        std::function<void()> timed_out;
        std::function<void(int)> status;
        std::function<void(const std::string&)> progress;
    };
    explicit CurlStderrReader(Events events) : events_(std::move(events)) {}

    void feed(const char* data, size_t length);
    // The text after the last line end, at the child's end.
    void finish();

  private:
    void complete_line();
    void examine(const std::string& line);
    bool examine_progress(const std::string& line);

    Events events_;
    std::string pending_;
    // The unfinished line's progress figure has already been reported.
    bool progress_reported_ = false;
};
