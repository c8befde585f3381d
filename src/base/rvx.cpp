// The event loop: one poll() over every open descriptor plus a self-pipe that
// the SIGCHLD handler writes to. Each pass collects what is ready into a local
// list first and only then runs callbacks, so that a callback may create or
// release any object without disturbing the walk in progress.
#include "base/rvx.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

struct rvx_st_io {
    enum class Kind { Stream, Timer, Child, ChildStderr };

    Kind kind = Kind::Stream;
    int fd = -1;
    // Standard input is borrowed: releasing its handle must not free fd 0 for
    // the next socket or pipe.
    bool owns_fd = true;
    bool nonblocking = true;
    int type = 0;
    void* par = nullptr;
    rvx_event_fn read_fn = nullptr;
    rvx_event_fn close_fn = nullptr;
    bool released = false;
    // End of file or a hard error was seen; the descriptor is closed (and the
    // close callback run) by the loop once the read callback has returned.
    bool at_end = false;
    bool closed = false;
    std::string output;

    bool running = false;
    int64_t period_ms = 0;
    int64_t due_ms = 0;

    pid_t pid = -1;
    bool reaped = false;
    int result = 0;
    bool wait_queued = false;
    bool finished = false;
    rvx_wait_fn wait_fn = nullptr;
    rvx_st_io* err = nullptr;
    rvx_st_io* owner = nullptr;
};

namespace {

using Kind = rvx_st_io::Kind;

// A peer that stops reading may not make the daemon grow without bound.
constexpr size_t OUTPUT_LIMIT = 64 * 1024;
// Chunks a pipe or stream without read callback gives up per pass.
constexpr int DRAIN_CHUNKS = 64;

enum class Event { Read, End, Timer, Wait };

struct Ready {
    rvx_st_io* io;
    Event event;
    // POLLHUP without POLLIN: nothing is left to read, whether or not the
    // callback looks.
    bool hangup_only;
};

// Streams, timers and children in creation order; a child's stderr stream
// hangs off its child.
std::vector<rvx_st_io*> objects_;
// Released while callbacks ran; freed when the outermost dispatch ends.
std::vector<rvx_st_io*> doomed_;
// Children released before they were reaped.
std::vector<pid_t> orphans_;
int dispatch_depth_ = 0;
bool started_ = false;
int wake_read_ = -1;
volatile sig_atomic_t wake_write_ = -1;

void on_child_signal(int) {
    int saved = errno;
    if (wake_write_ >= 0) {
        char byte = 0;
        ssize_t ignored = write(wake_write_, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

bool start_loop() {
    if (started_) {
        return true;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
    wake_read_ = wake[0];
    wake_write_ = wake[1];
    // A peer that has gone away (the control server, a child's pipe, the
    // reader of the debug log) must show up as a failed write, not end the
    // process. Children get the default disposition back before exec.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
    struct sigaction action {};
    action.sa_handler = on_child_signal;
    sigemptyset(&action.sa_mask);
    // SA_RESTART keeps blocking calls elsewhere in the process from failing
    // with EINTR; poll() is woken by the self-pipe in any case.
    action.sa_flags = SA_RESTART | SA_NOCLDSTOP;
    if (sigaction(SIGCHLD, &action, nullptr) != 0) {
        wake_write_ = -1;
        close(wake[0]);
        close(wake[1]);
        wake_read_ = -1;
        return false;
    }
    started_ = true;
    return true;
}

int64_t now_ms() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

void close_if_open(int fd) {
    if (fd >= 0) {
        close(fd);
    }
}

rvx_st_io* make(Kind kind, int fd) {
    auto* io = new (std::nothrow) rvx_st_io;
    if (io == nullptr) {
        return nullptr;
    }
    io->kind = kind;
    io->fd = fd;
    return io;
}

void close_stream(rvx_st_io* io) {
    if (io->fd >= 0 && io->owns_fd) {
        close(io->fd);
    }
    io->fd = -1;
    io->closed = true;
    io->output.clear();
    io->output.shrink_to_fit();
}

void destroy(rvx_st_io* io) {
    delete io->err;
    delete io;
}

bool is_gone(const rvx_st_io* io) {
    return io->released || (io->owner != nullptr && io->owner->released);
}

bool is_complete(const rvx_st_io* child) {
    return child->reaped && child->closed && child->err->closed;
}

int result_of(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// True when the child is gone; *result then holds 0 for a clean exit.
bool reap(pid_t pid, int* result) {
    for (;;) {
        int status = 0;
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            *result = result_of(status);
            return true;
        }
        if (done == 0) {
            return false;
        }
        if (errno != EINTR) {
            // Someone else reaped it; its status is lost.
            *result = -1;
            return true;
        }
    }
}

void reap_children() {
    for (rvx_st_io* io : objects_) {
        if (io->kind == Kind::Child && !io->reaped) {
            io->reaped = reap(io->pid, &io->result);
        }
    }
    orphans_.erase(std::remove_if(orphans_.begin(), orphans_.end(),
                                  [](pid_t pid) {
                                      int ignored = 0;
                                      return reap(pid, &ignored);
                                  }),
                   orphans_.end());
}

// Sends what the socket takes now; the count sent, or -1 on a hard error.
ssize_t send_now(rvx_st_io* io, const char* data, size_t length) {
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = send(io->fd, data + sent, length - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == ENOTSOCK) {
            n = write(io->fd, data + sent, length - sent);
        }
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            return -1;
        }
    }
    return static_cast<ssize_t>(sent);
}

void flush(rvx_st_io* io) {
    ssize_t sent = send_now(io, io->output.data(), io->output.size());
    if (sent < 0) {
        // The peer is gone; its hangup reaches the read side.
        io->output.clear();
    } else {
        io->output.erase(0, static_cast<size_t>(sent));
    }
}

void drain(rvx_st_io* io) {
    char scratch[RVX_READ_MAX];
    for (int i = 0; i < DRAIN_CHUNKS && rvx_ReadData(io, scratch) > 0; ++i) {
    }
}

void release(rvx_st_io* io) {
    if (io == nullptr || io->released) {
        return;
    }
    if (io->kind == Kind::ChildStderr) {
        // The stderr stream lives as long as its child; releasing it only
        // stops reading it.
        close_stream(io);
        return;
    }
    io->released = true;
    objects_.erase(std::remove(objects_.begin(), objects_.end(), io), objects_.end());
    if (io->kind == Kind::Child) {
        if (!io->reaped) {
            orphans_.push_back(io->pid);
        }
        close_stream(io->err);
    }
    close_stream(io);
    if (dispatch_depth_ > 0) {
        doomed_.push_back(io);
    } else {
        destroy(io);
    }
}

bool has_pending_work() {
    for (const rvx_st_io* io : objects_) {
        if ((io->at_end && !io->closed) ||
            (io->kind == Kind::Child &&
             ((io->err->at_end && !io->err->closed) || (is_complete(io) && !io->wait_queued)))) {
            return true;
        }
    }
    return false;
}

// Milliseconds poll() may sleep: -1 without limit.
int poll_timeout(int64_t deadline) {
    if (has_pending_work()) {
        return 0;
    }
    int64_t now = now_ms();
    int64_t wait = deadline >= 0 ? std::max<int64_t>(0, deadline - now) : -1;
    for (const rvx_st_io* io : objects_) {
        if (io->kind == Kind::Timer && io->running) {
            int64_t until = std::max<int64_t>(0, io->due_ms - now);
            wait = wait < 0 ? until : std::min(wait, until);
        }
    }
    return wait < 0 ? -1 : static_cast<int>(std::min<int64_t>(wait, INT_MAX));
}

void watch(std::vector<pollfd>& fds, std::vector<rvx_st_io*>& owners, rvx_st_io* io) {
    if (io->fd < 0 || io->closed || io->at_end) {
        return;
    }
    short events = POLLIN;
    if (!io->output.empty()) {
        events |= POLLOUT;
    }
    fds.push_back(pollfd{io->fd, events, 0});
    owners.push_back(io);
}

void queue_wait_if_complete(rvx_st_io* child, std::vector<Ready>& ready) {
    if (!child->wait_queued && is_complete(child)) {
        child->wait_queued = true;
        ready.push_back(Ready{child, Event::Wait, false});
    }
}

// Phase one: everything that is ready, before any callback runs.
int collect(int64_t deadline, std::vector<Ready>& ready, int64_t& batch_now) {
    std::vector<pollfd> fds;
    std::vector<rvx_st_io*> owners;
    fds.push_back(pollfd{wake_read_, POLLIN, 0});
    owners.push_back(nullptr);
    for (rvx_st_io* io : objects_) {
        watch(fds, owners, io);
        if (io->kind == Kind::Child) {
            watch(fds, owners, io->err);
        }
    }
    int polled = poll(fds.data(), static_cast<nfds_t>(fds.size()), poll_timeout(deadline));
    if (polled < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (fds[0].revents != 0) {
        char scratch[64];
        while (read(wake_read_, scratch, sizeof scratch) > 0) {
        }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        short revents = fds[i].revents;
        rvx_st_io* io = owners[i];
        if (revents == 0) {
            continue;
        }
        if (revents & POLLOUT) {
            flush(io);
        }
        if (revents & POLLNVAL) {
            // Closed behind the loop's back: the number may belong to
            // someone else by now, so never close it.
            io->fd = -1;
            io->at_end = true;
        } else if (revents & (POLLIN | POLLHUP | POLLERR)) {
            bool hangup_only = (revents & POLLHUP) && !(revents & POLLIN);
            ready.push_back(Ready{io, Event::Read, hangup_only});
        }
    }
    reap_children();
    for (rvx_st_io* io : objects_) {
        if (io->at_end && !io->closed) {
            ready.push_back(Ready{io, Event::End, false});
        }
        if (io->kind == Kind::Child) {
            if (io->err->at_end && !io->err->closed) {
                ready.push_back(Ready{io->err, Event::End, false});
            }
            queue_wait_if_complete(io, ready);
        }
    }
    batch_now = now_ms();
    for (rvx_st_io* io : objects_) {
        if (io->kind == Kind::Timer && io->running && io->due_ms <= batch_now) {
            ready.push_back(Ready{io, Event::Timer, false});
        }
    }
    return 0;
}

void end_of_stream(rvx_st_io* io, std::vector<Ready>& ready, int& ran) {
    close_stream(io);
    if (io->kind == Kind::Stream) {
        if (io->close_fn != nullptr) {
            ++ran;
            io->close_fn(io);
        }
        return;
    }
    queue_wait_if_complete(io->owner != nullptr ? io->owner : io, ready);
}

void fire_timer(rvx_st_io* timer, int64_t batch_now, int& ran) {
    if (!timer->running || timer->due_ms > batch_now) {
        return;
    }
    // After a long stall the timer resumes its period from now instead of
    // firing once for every period missed.
    timer->due_ms += timer->period_ms;
    if (timer->due_ms <= batch_now) {
        timer->due_ms = batch_now + timer->period_ms;
    }
    if (timer->read_fn != nullptr) {
        ++ran;
        timer->read_fn(timer);
    }
}

// Phase two: run the callbacks, skipping whatever an earlier one released.
// The list may grow while it is walked (a pipe's end completes its child).
int dispatch(std::vector<Ready>& ready, int64_t batch_now) {
    int ran = 0;
    ++dispatch_depth_;
    for (size_t i = 0; i < ready.size(); ++i) {
        Ready item = ready[i];
        rvx_st_io* io = item.io;
        if (is_gone(io)) {
            continue;
        }
        switch (item.event) {
        case Event::Read:
            if (io->closed) {
                break;
            }
            if (io->read_fn != nullptr) {
                ++ran;
                io->read_fn(io);
            } else {
                drain(io);
            }
            if (is_gone(io) || io->closed) {
                break;
            }
            if (item.hangup_only) {
                io->at_end = true;
            }
            if (io->at_end) {
                end_of_stream(io, ready, ran);
            }
            break;
        case Event::End:
            if (!io->closed) {
                end_of_stream(io, ready, ran);
            }
            break;
        case Event::Timer:
            fire_timer(io, batch_now, ran);
            break;
        case Event::Wait:
            if (!io->finished) {
                io->finished = true;
                if (io->wait_fn != nullptr) {
                    ++ran;
                    io->wait_fn(io, io->result);
                }
            }
            break;
        }
    }
    if (--dispatch_depth_ == 0) {
        for (rvx_st_io* io : doomed_) {
            destroy(io);
        }
        doomed_.clear();
    }
    return ran;
}

bool set_nonblocking(int fd) {
    int flags = fcntl(fd, F_GETFL);
    return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

[[noreturn]] void run_child(char* const argv[], int in, int out, int err, int report) {
    // Lift every descriptor above 2 first so that placing one on 0, 1 or 2
    // cannot overwrite another; the lifted copies close on exec.
    int fds[4] = {in, out, err, report};
    for (int& fd : fds) {
        if (fd < 3) {
            fd = fcntl(fd, F_DUPFD_CLOEXEC, 3);
        }
    }
    report = fds[3];
    bool placed = fds[0] >= 3 && fds[1] >= 3 && fds[2] >= 3;
    for (int target = 0; placed && target < 3; ++target) {
        placed = dup2(fds[target], target) == target;
    }
    if (placed) {
        struct sigaction fallback {};
        fallback.sa_handler = SIG_DFL;
        sigemptyset(&fallback.sa_mask);
        sigaction(SIGPIPE, &fallback, nullptr);
        sigaction(SIGCHLD, &fallback, nullptr);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        execv(argv[0], argv);
    }
    int failure = errno;
    if (report >= 0) {
        ssize_t ignored = write(report, &failure, sizeof failure);
        (void)ignored;
    }
    _exit(127);
}

} // namespace

int rvx_Selects(int timeout_ms) {
    if (!start_loop()) {
        return -1;
    }
    int64_t deadline = timeout_ms >= 0 ? now_ms() + timeout_ms : -1;
    for (;;) {
        std::vector<Ready> ready;
        int64_t batch_now = 0;
        if (collect(deadline, ready, batch_now) < 0) {
            return -1;
        }
        int ran = dispatch(ready, batch_now);
        if (ran > 0) {
            return ran;
        }
        if (deadline >= 0 && now_ms() >= deadline) {
            return 0;
        }
    }
}

rvx_st_io* rvx_UnixClient(const char* path) {
    sockaddr_un address{};
    size_t length = path != nullptr ? strlen(path) : 0;
    if (length == 0 || length >= sizeof address.sun_path || !start_loop()) {
        return nullptr;
    }
    address.sun_family = AF_UNIX;
    memcpy(address.sun_path, path, length + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        return nullptr;
    }
    // A local connect does not wait for the server: it is queued or refused.
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return nullptr;
    }
    rvx_st_io* io = make(Kind::Stream, fd);
    if (io == nullptr) {
        close(fd);
        return nullptr;
    }
    objects_.push_back(io);
    return io;
}

rvx_st_io* rvx_Stdio() {
    int flags = fcntl(STDIN_FILENO, F_GETFL);
    if (flags < 0 || !start_loop()) {
        return nullptr;
    }
    rvx_st_io* io = make(Kind::Stream, STDIN_FILENO);
    if (io == nullptr) {
        return nullptr;
    }
    // Setting O_NONBLOCK would change the terminal or pipe shared with the
    // parent; rvx_ReadData asks poll() before each read instead.
    io->owns_fd = false;
    io->nonblocking = (flags & O_NONBLOCK) != 0;
    objects_.push_back(io);
    return io;
}

void rvx_Set_Type(rvx_st_io* io, int type) {
    if (io != nullptr) {
        io->type = type;
    }
}

void rvx_Set_ReadEvent(rvx_st_io* io, rvx_event_fn fn) {
    if (io != nullptr) {
        io->read_fn = fn;
    }
}

void rvx_Set_CloseEvent(rvx_st_io* io, rvx_event_fn fn) {
    if (io != nullptr) {
        io->close_fn = fn;
    }
}

int rvx_ReadData(rvx_st_io* io, char* buffer) {
    if (io == nullptr || buffer == nullptr || io->kind == Kind::Timer || is_gone(io)) {
        return -1;
    }
    if (io->fd < 0 || io->closed || io->at_end) {
        return 0;
    }
    if (!io->nonblocking) {
        pollfd probe{io->fd, POLLIN, 0};
        int ready = 0;
        do {
            ready = poll(&probe, 1, 0);
        } while (ready < 0 && errno == EINTR);
        if (ready == 0) {
            return 0;
        }
    }
    for (;;) {
        ssize_t n = read(io->fd, buffer, RVX_READ_MAX);
        if (n > 0) {
            return static_cast<int>(n);
        }
        if (n == 0) {
            io->at_end = true;
            return 0;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            return 0;
        }
        io->at_end = true;
        return -1;
    }
}

int rvx_WriteData(rvx_st_io* io, const char* data, size_t length) {
    if (io == nullptr || io->kind != Kind::Stream || io->released || io->closed || io->fd < 0) {
        return -1;
    }
    if (length == 0) {
        return 0;
    }
    if (data == nullptr || length > static_cast<size_t>(INT_MAX) ||
        io->output.size() + length > OUTPUT_LIMIT) {
        return -1;
    }
    size_t sent = 0;
    // Anything already waiting goes first, or the bytes would be reordered.
    if (io->output.empty()) {
        ssize_t now = send_now(io, data, length);
        if (now < 0) {
            return -1;
        }
        sent = static_cast<size_t>(now);
    }
    io->output.append(data + sent, length - sent);
    return static_cast<int>(length);
}

void rvx_Set_Par(rvx_st_io* io, void* par) {
    if (io != nullptr) {
        io->par = par;
    }
}

void* rvx_Get_Par(rvx_st_io* io) {
    return io != nullptr ? io->par : nullptr;
}

int rvx_Get_InUse(rvx_st_io* io) {
    if (io == nullptr || is_gone(io)) {
        return 0;
    }
    switch (io->kind) {
    case Kind::Timer:
        return io->running ? 1 : 0;
    case Kind::Child:
        return io->finished ? 0 : 1;
    default:
        return io->closed ? 0 : 1;
    }
}

void rvx_Release_Rvx(rvx_st_io* io) {
    release(io);
}

rvx_st_io* rvx_Timer(int kind) {
    if (!start_loop()) {
        return nullptr;
    }
    rvx_st_io* timer = make(Kind::Timer, -1);
    if (timer == nullptr) {
        return nullptr;
    }
    timer->type = kind;
    objects_.push_back(timer);
    return timer;
}

void rvx_Timer_Set_ReadEvent(rvx_st_io* timer, rvx_event_fn fn) {
    if (timer != nullptr && timer->kind == Kind::Timer) {
        timer->read_fn = fn;
    }
}

int rvx_Timer_Start(rvx_st_io* timer, int64_t period_ms) {
    if (timer == nullptr || timer->kind != Kind::Timer || timer->released || period_ms <= 0) {
        return -1;
    }
    int64_t now = now_ms();
    timer->period_ms = period_ms;
    timer->due_ms = period_ms > INT64_MAX - now ? INT64_MAX : now + period_ms;
    timer->running = true;
    return 0;
}

int rvx_Timer_Stop(rvx_st_io* timer) {
    if (timer == nullptr || timer->kind != Kind::Timer || timer->released) {
        return -1;
    }
    timer->running = false;
    return 0;
}

rvx_st_io* rvx_Exec_WithStderr(char* const argv[]) {
    if (argv == nullptr || argv[0] == nullptr || !start_loop()) {
        return nullptr;
    }
    int out[2] = {-1, -1};
    int err[2] = {-1, -1};
    int report[2] = {-1, -1};
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 ||
        pipe2(report, O_CLOEXEC) != 0 || !set_nonblocking(out[0]) || !set_nonblocking(err[0])) {
        for (int fd : {in, out[0], out[1], err[0], err[1], report[0], report[1]}) {
            close_if_open(fd);
        }
        return nullptr;
    }
    rvx_st_io* child = make(Kind::Child, out[0]);
    rvx_st_io* stderr_stream = make(Kind::ChildStderr, err[0]);

    // Blocked until the child has reset its handlers, so that no signal runs
    // the parent's handler in the child.
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &saved);
    pid_t pid = child != nullptr && stderr_stream != nullptr ? fork() : -1;
    if (pid == 0) {
        run_child(argv, in, out[1], err[1], report[1]);
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    for (int fd : {in, out[1], err[1], report[1]}) {
        close_if_open(fd);
    }

    int failure = 0;
    if (pid > 0) {
        // The report pipe closes on a successful exec and carries errno
        // otherwise.
        ssize_t n = 0;
        do {
            n = read(report[0], &failure, sizeof failure);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            pid = -1;
        } else {
            failure = 0;
        }
    }
    close_if_open(report[0]);
    if (pid < 0) {
        close_if_open(out[0]);
        close_if_open(err[0]);
        delete child;
        delete stderr_stream;
        if (failure != 0) {
            errno = failure;
        }
        return nullptr;
    }
    child->pid = pid;
    child->err = stderr_stream;
    stderr_stream->owner = child;
    objects_.push_back(child);
    return child;
}

void rvx_Exec_Set_WaitEvent(rvx_st_io* child, rvx_wait_fn fn) {
    if (child != nullptr && child->kind == Kind::Child) {
        child->wait_fn = fn;
    }
}

void rvx_Exec_Set_StderrType(rvx_st_io* child, int type) {
    if (child != nullptr && child->kind == Kind::Child) {
        child->err->type = type;
    }
}

void rvx_Exec_Set_StderrReadEvent(rvx_st_io* child, rvx_event_fn fn) {
    if (child != nullptr && child->kind == Kind::Child) {
        child->err->read_fn = fn;
    }
}

void rvx_Exec_Set_StderrPar(rvx_st_io* child, void* par) {
    if (child != nullptr && child->kind == Kind::Child) {
        child->err->par = par;
    }
}

void rvx_Exec_Release(rvx_st_io* child) {
    release(child);
}

int rvx_Count() {
    return static_cast<int>(objects_.size());
}
