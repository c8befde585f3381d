#include "net/curl.h"

#include "base/debug.h"
#include "base/log.h"
#include "base/rvx.h"
#include "common/common.h"
#include "common/deployment.h"
#include "common/paths.h"
#include "common/str.h"

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <malloc.h>
#include <memory>
#include <strings.h>

namespace {

struct RunningRequest {
    rvx_st_io* handle = nullptr;
    RequestCallback callback;
    std::string url;
    std::string output;
    std::string body;
    int status = -1;
    void* user = nullptr;
    std::unique_ptr<CurlStderrReader> stderr_reader;
    // The answer grew past CURL_MAX_BODY: the child was ended.
    bool too_long = false;
    // Fires once the child has run past the run limit.
    rvx_st_io* limit_timer = nullptr;
    bool ended_by_limit = false;
    // Withdrawn by its caller: the child is ended and nobody is answered.
    bool cancelled = false;
};

std::deque<WaitingRequest> wait_req_;
int count_ = 0;
// The children still running, for withdrawing them; a child leaves the list
// before its callback runs.
std::vector<RunningRequest*> running_;
// Children withdrawn and not yet reaped: they still hold a place but are no
// longer counted as requests under way.
int cancelled_ = 0;
CurlHooks hooks_;
CurlTransport transport_ = nullptr;
bool compressed_ = false;
int64_t run_limit_ms_ = CURL_RUN_LIMIT_MS;
std::string ca_file_ = deployment::CA_FILE;

// How long the start-up probe of curl's features may take.
constexpr int PROBE_TIMEOUT_MS = 5000;

// The start-up probe while it runs, and the timer that ends it.
rvx_st_io* probe_ = nullptr;
rvx_st_io* probe_timer_ = nullptr;

// A text this long without a line end is examined as it stands, so a
// misbehaving child cannot grow the buffer without limit.
constexpr size_t MAX_LINE = 8192;

bool contains_nocase(const std::string& text, const char* needle) {
    return strcasestr(text.c_str(), needle) != nullptr;
}

bool is_content_host_url(const std::string& url) {
    for (const char* host : {deployment::CONTENT_HOST, deployment::DEMO_CONTENT_HOST}) {
        if (host[0] != '\0' && url.find(host) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool accepts_encodings(const std::vector<std::string>& headers) {
    for (const std::string& header : headers) {
        if (strncasecmp(header.c_str(), "Accept-Encoding:", strlen("Accept-Encoding:")) == 0) {
            return true;
        }
    }
    return false;
}

// The path of a URL, without its query or fragment, ends with `path`.
bool path_ends_with(const std::string& url, const char* path) {
    std::string head = url.substr(0, url.find_first_of("?#"));
    size_t length = strlen(path);
    return head.size() >= length && head.compare(head.size() - length, length, path) == 0;
}

// A URL as the operator's log shows it: without user name and password,
// query or fragment, which may carry the account's secrets.
std::string url_for_log(const std::string& url) {
    std::string shown = url.substr(0, url.find_first_of("?#"));
    size_t host = shown.find("://");
    host = host == std::string::npos ? 0 : host + 3;
    size_t at = shown.find('@', host);
    if (at != std::string::npos && at < shown.find('/', host)) {
        shown.erase(host, at + 1 - host);
    }
    return shown;
}

// The answer is kept by length, every byte as it came (a NUL in it makes it
// unreadable, not shorter). Downloads are written to their file by curl
// itself; what it prints on standard output then is dropped.
int read_event(rvx_st_io* io) {
    auto* request = static_cast<RunningRequest*>(rvx_Get_Par(io));
    if (request == nullptr || !request->output.empty() || request->too_long) {
        char scratch[RVX_READ_MAX];
        rvx_ReadData(io, scratch);
        return 0;
    }
    if (rvx_ReadAppend(io, request->body, RVX_READ_PIECE) > 0 &&
        request->body.size() > CURL_MAX_BODY) {
        debug_printf("curl: an answer longer than %u bytes is dropped\n",
                     static_cast<unsigned>(CURL_MAX_BODY));
        log_warning("curl: the answer of %s is longer than %u bytes, dropped",
                    url_for_log(request->url).c_str(), static_cast<unsigned>(CURL_MAX_BODY));
        request->too_long = true;
        std::string().swap(request->body);
        rvx_Exec_Kill(request->handle, SIGKILL);
    }
    return 0;
}

int read_err_event(rvx_st_io* io) {
    auto* request = static_cast<RunningRequest*>(rvx_Get_Par(io));
    char buffer[RVX_READ_MAX + 4];
    int count = rvx_ReadData(io, buffer);
    if (count <= 0 || request == nullptr) {
        return 0;
    }
    request->stderr_reader->feed(buffer, static_cast<size_t>(count));
    return 0;
}

// Two GET requests for the same URL, data and output file ask for the same
// thing (the same song's address, the same file of a song); the header lines
// are not compared, since they carry the token and the time of the request.
bool same_operation(const WaitingRequest& a, const WaitingRequest& b) {
    return a.method == b.method && a.url == b.url && a.output == b.output && a.data == b.data &&
           a.forms == b.forms;
}

// Starts the oldest waiting request in the place of a child that has ended.
// When five children run again (a callback submitted requests), it goes back
// to the end of the queue. A waiting request that cannot be started is
// answered with -1, as a failed curl would be, so its caller is not left
// waiting for ever; the free place then goes to the next one.
void serve_waiting() {
    while (!wait_req_.empty()) {
        WaitingRequest next = std::move(wait_req_.front());
        wait_req_.pop_front();
        if (curl_exec(next.url, next.method, next.headers, next.forms, next.data, next.output,
                      next.callback, next.user) == 0) {
            return;
        }
        debug_printf("curl: a waiting request could not be started\n");
        if (next.callback) {
            next.callback(next.output.empty() ? -1 : CURL_DOWNLOAD_FAILED, next.output, next.user);
        }
        if (count_ >= CURL_MAX_RUNNING) {
            return;
        }
    }
}

int wait_event(rvx_st_io* io, int result) {
    auto* request = static_cast<RunningRequest*>(rvx_Get_Par(io));
    --count_;
    bool large = false;
    if (request != nullptr) {
        running_.erase(std::remove(running_.begin(), running_.end(), request), running_.end());
        if (request->cancelled) {
            --cancelled_;
        }
        request->stderr_reader->finish();
        rvx_Release_Rvx(request->limit_timer);
        large = request->too_long || request->body.size() >= CURL_LARGE_BODY;
        // An answer cut short, for its length or for running too long, is no
        // answer.
        if (request->too_long || request->ended_by_limit) {
            result = -1;
            request->body.clear();
        }
        if (request->callback) {
            bool download = !request->output.empty();
            int status = result == 0 ? request->status : download ? CURL_DOWNLOAD_FAILED : -1;
            request->callback(status, request->output.empty() ? request->body : request->output,
                              request->user);
        }
    }
    rvx_Exec_Release(io);
    delete request;
    // The memory a large answer and its tree took goes back to the system
    // rather than staying with the process for good.
    if (large) {
        malloc_trim(0);
    }

    serve_waiting();
    return 0;
}

int limit_event(rvx_st_io* timer) {
    auto* request = static_cast<RunningRequest*>(rvx_Get_Par(timer));
    rvx_Timer_Stop(timer);
    // A child that has ended already, its end not yet handled, keeps its
    // answer.
    if (request != nullptr && !request->ended_by_limit &&
        rvx_Exec_Kill(request->handle, SIGKILL) == 0) {
        debug_printf("curl: a request ran past %lld ms and is ended\n",
                     static_cast<long long>(run_limit_ms_));
        log_warning("curl: %s ran past its limit of %lld ms and was ended",
                    url_for_log(request->url).c_str(), static_cast<long long>(run_limit_ms_));
        request->ended_by_limit = true;
    }
    return 0;
}

// The header lines with the stored tokens in place of their markers.
std::vector<std::string> with_tokens(const std::vector<std::string>& headers) {
    std::vector<std::string> out;
    out.reserve(headers.size());
    for (const std::string& header : headers) {
        bool access = header == CURL_ACCESS_TOKEN_HEADER;
        if (!access && header != CURL_REFRESH_TOKEN_HEADER) {
            out.push_back(header);
            continue;
        }
        const std::string& token = access ? get_token() : get_refresh_token();
        // Up to a line end: anything after one would end the header block.
        std::string value = token.substr(0, token.find_first_of("\r\n"));
        if (!value.empty()) {
            out.push_back("token: " + value);
        }
    }
    return out;
}

std::unique_ptr<CurlStderrReader> make_stderr_reader(RunningRequest* request) {
    CurlStderrReader::Events events;
    events.timed_out = [] {
        if (hooks_.timed_out != nullptr) {
            hooks_.timed_out();
        }
    };
    events.status = [request](int status) { request->status = status; };
    events.progress = [request](const std::string& figure) {
        if (!request->output.empty() && hooks_.progress != nullptr) {
            hooks_.progress(request->output, curl_id_of_user(request->user), figure);
        }
    };
    return std::make_unique<CurlStderrReader>(std::move(events));
}

} // namespace

void CurlStderrReader::feed(const char* data, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        char c = data[i];
        if (c == '\n' || c == '\r') {
            complete_line();
        } else if (c != '\0') {
            pending_ += c;
            if (pending_.size() >= MAX_LINE) {
                complete_line();
            }
        }
    }
    // curl writes each progress piece as "\r", the bar and the figure with its
    // percent sign, and ends it only with the next piece. A piece that stands
    // complete at the end of a read is reported now rather than one step late;
    // its figure is not reported again when its line ends.
    if (!progress_reported_ && !pending_.empty() && pending_.back() == '%') {
        progress_reported_ = examine_progress(pending_);
    }
}

void CurlStderrReader::finish() {
    complete_line();
}

void CurlStderrReader::complete_line() {
    if (!pending_.empty()) {
        examine(pending_);
    }
    pending_.clear();
    progress_reported_ = false;
}

void CurlStderrReader::examine(const std::string& line) {
    if (contains_nocase(line, "timed out") && events_.timed_out) {
        events_.timed_out();
    }
    // A status line of any version: "< HTTP/1.0 403", "< HTTP/1.1 200 OK",
    // "< HTTP/2 500".
    const char* status = strcasestr(line.c_str(), "< HTTP/");
    if (status != nullptr && events_.status) {
        const char* version_end = status + strlen("< HTTP/");
        while (isdigit(static_cast<unsigned char>(*version_end)) || *version_end == '.') {
            ++version_end;
        }
        if (version_end > status + strlen("< HTTP/") &&
            (*version_end == ' ' || *version_end == '\t')) {
            events_.status(atoi(version_end));
        }
    }
    if (!progress_reported_) {
        examine_progress(line);
    }
}

bool CurlStderrReader::examine_progress(const std::string& line) {
    // Progress pieces of "-#": the figure is the five characters before the
    // percent sign. Verbose lines (headers, connection notes) are not.
    size_t percent = line.find('%');
    bool verbose = strchr("<>*{}", line[0]) != nullptr;
    if (percent == std::string::npos || percent == 0 || verbose || !events_.progress) {
        return false;
    }
    size_t start = percent >= 5 ? percent - 5 : 0;
    events_.progress(line.substr(start, percent - start));
    return true;
}

void curl_set_hooks(const CurlHooks& hooks) {
    hooks_ = hooks;
}

void curl_set_transport(CurlTransport transport) {
    transport_ = transport;
}

namespace {

int probe_ended(rvx_st_io* io, int result) {
    curl_set_compressed(result == 0);
    debug_printf("curl: compressed answers %s\n", compressed_ ? "decoded" : "not asked for");
    rvx_Exec_Release(io);
    rvx_Release_Rvx(probe_timer_);
    probe_ = nullptr;
    probe_timer_ = nullptr;
    return 0;
}

int probe_overdue(rvx_st_io* timer) {
    rvx_Timer_Stop(timer);
    rvx_Exec_Kill(probe_, SIGKILL);
    return 0;
}

} // namespace

void curl_configure() {
    const char* limit = getenv("ONDEMAND_CURL_LIMIT_MS");
    if (limit != nullptr && *limit != '\0') {
        char* end = nullptr;
        long long value = strtoll(limit, &end, 10);
        if (*end == '\0' && value > 0) {
            curl_set_run_limit(value);
        }
    }

    // The song budget is fixed from start-up on.
    song_budget_bytes();

    // The probe is a child of the loop like any request: start-up goes on at
    // once, and requests made before it answers run without "--compressed".
    if (probe_ != nullptr) {
        return;
    }
    std::string program = paths::at(paths::CURL);
    std::string compressed = "--compressed";
    std::string version = "--version";
    char* probe[] = {&program[0], &compressed[0], &version[0], nullptr};
    probe_ = rvx_Exec_WithStderr(probe);
    if (probe_ == nullptr) {
        debug_printf("curl: cannot start %s\n", program.c_str());
        return;
    }
    rvx_Exec_Set_WaitEvent(probe_, probe_ended);
    probe_timer_ = rvx_Timer(0);
    rvx_Timer_Set_ReadEvent(probe_timer_, probe_overdue);
    rvx_Timer_Start(probe_timer_, PROBE_TIMEOUT_MS);
}

void curl_set_compressed(bool compressed) {
    compressed_ = compressed;
}

void curl_set_run_limit(int64_t limit_ms) {
    if (limit_ms > 0) {
        run_limit_ms_ = limit_ms;
    }
}

void curl_set_ca_file(const std::string& path) {
    ca_file_ = path;
}

int curl_build_args(const WaitingRequest& request, std::vector<std::string>& args) {
    if (request.method != CURL_GET && request.method != CURL_POST) {
        return -1;
    }
    std::string url = request.url;
    str::replace(url, "&amp;", "&");
    // The URL is the one argument curl does not take as an option's value:
    // one that starts with "-" (say, a download address from an answer) would
    // be read as an option.
    if (!url.empty() && url[0] == '-') {
        return -1;
    }
    bool download = !request.output.empty();
    bool content_host = is_content_host_url(url);

    args = {paths::at(paths::CURL), "--request", request.method == CURL_GET ? "GET" : "POST", url};
    // The service's own requests are checked against the deployment's CA
    // file when there is one. Downloads and the content hosts keep their own
    // arrangement: the content hosts' CA comes with the client certificate.
    if (!ca_file_.empty() && !download && !content_host) {
        args.insert(args.end(), {"--cacert", paths::at(ca_file_)});
    } else {
        args.push_back("--insecure");
    }
    args.push_back("--verbose");
    // Logging in and refreshing the token are never cut short by curl; the
    // runner's own limit still ends them. Only the path counts: a search for
    // the word "login" carries it in its query.
    if (!path_ends_with(url, CURL_LOGIN_PATH) && !path_ends_with(url, CURL_REFRESH_PATH)) {
        args.insert(args.end(), {"--max-time", "60"});
    }
    args.push_back(download ? "-#" : "--silent");
    std::string cookies = paths::at(paths::COOKIE_FILE);
    args.insert(args.end(),
                {"--http1.1", "--location", "--cookie", cookies, "--cookie-jar", cookies});
    // Only the web, also after a redirect: an address from an answer must
    // never make curl read a local file or speak another protocol.
    args.insert(args.end(), {"--proto", CURL_PROTOCOLS, "--proto-redir", CURL_PROTOCOLS});
    // A download stops at the song budget; a cut file fails its run.
    if (download) {
        args.insert(args.end(), {"--max-filesize", std::to_string(song_budget_bytes())});
    }
    // A request that accepts compressed answers gets them decoded by curl;
    // its own Accept-Encoding line goes out as it is (a header given with
    // --header replaces curl's). Others, downloads among them, send no such
    // line and get none added.
    if (compressed_ && accepts_encodings(request.headers)) {
        args.push_back("--compressed");
    }
    if (content_host) {
        args.insert(args.end(), {"--key", paths::at(paths::CERT_KEY), "--cacert",
                                 paths::at(paths::CERT_CA), "--cert", paths::at(paths::CERT_CERT)});
    }
    if (!get_proxy().empty()) {
        args.insert(args.end(), {"--proxy", get_proxy()});
    }
    for (const std::string& header : request.headers) {
        args.insert(args.end(), {"--header", header});
    }
    for (const std::string& form : request.forms) {
        args.insert(args.end(), {"--form", form});
    }
    for (const std::string& field : request.data) {
        args.insert(args.end(), {"--data-urlencode", field});
    }
    if (download) {
        args.insert(args.end(), {"--output", request.output});
    }
    return 0;
}

int curl_exec(const std::string& url, int method, const std::vector<std::string>& headers,
              const std::vector<std::string>& forms, const std::vector<std::string>& data,
              const std::string& output, RequestCallback callback, void* user) {
    if (count_ >= CURL_MAX_RUNNING) {
        WaitingRequest waiting{url, method, headers, forms, data, output, std::move(callback),
                               user};
        auto same = std::find_if(
            wait_req_.begin(), wait_req_.end(),
            [&waiting](const WaitingRequest& queued) { return same_operation(queued, waiting); });
        if (method == CURL_GET && same != wait_req_.end()) {
            // One run answers both callers: each still gets its answer.
            debug_printf("curl: the same request waits already: %s\n", url.c_str());
            RequestCallback first = std::move(same->callback);
            RequestCallback second = std::move(waiting.callback);
            same->callback = [first, second, user](int status, const std::string& text,
                                                   void* first_user) {
                if (first) {
                    first(status, text, first_user);
                }
                if (second) {
                    second(status, text, user);
                }
            };
            return 0;
        }
        if (wait_req_.size() >= CURL_MAX_WAITING) {
            debug_printf("curl: %u requests wait already, refused: %s\n",
                         static_cast<unsigned>(wait_req_.size()), url.c_str());
            log_warning("curl: %u requests wait already, %s refused",
                        static_cast<unsigned>(wait_req_.size()), url_for_log(url).c_str());
            return -1;
        }
        wait_req_.push_back(std::move(waiting));
        return 0;
    }
    WaitingRequest request{url,  method, with_tokens(headers), forms,
                           data, output, RequestCallback(),    user};
    std::vector<std::string> args;
    if (curl_build_args(request, args) < 0) {
        return -1;
    }
    if (transport_ != nullptr) {
        transport_(request, args);
        return 0;
    }
    std::vector<char*> argv;
    argv.reserve(args.size() + 1);
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);

    rvx_st_io* handle = rvx_Exec_WithStderr(argv.data());
    if (handle == nullptr) {
        debug_printf("curl: cannot start %s\n", argv[0]);
        log_error("curl: cannot start %s", argv[0]);
        return -1;
    }
    rvx_Exec_Set_WaitEvent(handle, wait_event);
    rvx_Set_Type(handle, -1);
    rvx_Set_ReadEvent(handle, read_event);
    rvx_Exec_Set_StderrType(handle, -1);
    rvx_Exec_Set_StderrReadEvent(handle, read_err_event);

    auto* running = new RunningRequest;
    running->handle = handle;
    running->callback = std::move(callback);
    running->url = url;
    running->output = output;
    running->user = user;
    running->stderr_reader = make_stderr_reader(running);
    running->limit_timer = rvx_Timer(0);
    rvx_Set_Par(running->limit_timer, running);
    rvx_Timer_Set_ReadEvent(running->limit_timer, limit_event);
    rvx_Timer_Start(running->limit_timer, run_limit_ms_);
    rvx_Set_Par(handle, running);
    rvx_Exec_Set_StderrPar(handle, running);
    running_.push_back(running);
    ++count_;
    return 0;
}

int curl_num() {
    return count_ - cancelled_ + static_cast<int>(wait_req_.size());
}

int curl_cancel(
    const std::function<bool(const std::string& url, const std::string& output)>& match) {
    int cancelled = 0;
    for (auto it = wait_req_.begin(); it != wait_req_.end();) {
        if (match(it->url, it->output)) {
            it = wait_req_.erase(it);
            ++cancelled;
        } else {
            ++it;
        }
    }
    for (RunningRequest* request : running_) {
        if (request->cancelled || !match(request->url, request->output)) {
            continue;
        }
        // SIGKILL, so that nothing more is written to the output file once
        // this returns: a new download may take its place at once.
        request->cancelled = true;
        request->callback = nullptr;
        rvx_Exec_Kill(request->handle, SIGKILL);
        ++cancelled_;
        ++cancelled;
    }
    return cancelled;
}
