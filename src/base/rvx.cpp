// The event loop: one poll() over every open descriptor plus a self-pipe that
// the SIGCHLD handler and the handlers of watched signals write to. Each pass collects what is
// ready into a local list first and only then runs callbacks, so that a callback may create or
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
#include <utility>
#include <vector>

// A stream, a timer, a child (whose own stream is its standard output) or the
// standard-error stream embedded in a child.
struct rvx_st_io {
    enum class Kind { Stream, Timer, Child, ChildStderr };
    // At end: a read met end of file or a hard error. The loop closes the
    // stream once the read callback has returned.
    enum class State { Open, AtEnd, Closed };

    rvx_st_io(Kind k, int descriptor) : kind(k), fd(descriptor) {}
    // Children are freed through this type.
    virtual ~rvx_st_io() = default;

    Kind kind;
    int fd;
    State state = State::Open;
    // Standard input: never closed, so that fd 0 cannot go to the next socket
    // or pipe, and never made non-blocking, since the parent shares it.
    bool borrowed = false;
    bool released = false;
    int type = 0;
    void* par = nullptr;
    rvx_event_fn read_fn = nullptr;
    rvx_event_fn close_fn = nullptr;
    std::string output;

    // Timers.
    bool running = false;
    int64_t period_ms = 0;
    int64_t due_ms = 0;
};

namespace {

using Kind = rvx_st_io::Kind;
using State = rvx_st_io::State;

struct Child : rvx_st_io {
    // Finished: the wait callback has run.
    enum class Phase { Running, Reaped, Finished };

    Child(int out, int err_fd) : rvx_st_io(Kind::Child, out), err(Kind::ChildStderr, err_fd) {}

    // Its address is the handle the standard-error callback receives.
    rvx_st_io err;
    pid_t pid = -1;
    Phase phase = Phase::Running;
    int result = 0;
    rvx_wait_fn wait_fn = nullptr;
};

using Phase = Child::Phase;

// A peer that stops reading may not make the daemon grow without bound.
constexpr size_t OUTPUT_LIMIT = 64 * 1024;
// Chunks a stream without read callback gives up per pass.
constexpr int DRAIN_CHUNKS = 64;

enum class Event { Read, Timer, Wait };

struct Ready {
    rvx_st_io* io;
    // The child a pipe or a wait belongs to; null otherwise.
    Child* child;
    Event event;
    // Hangup or error without data: nothing is left to read, whether or not
    // the callback looks.
    bool hangup;
};

// Streams, timers and children in creation order. The list lives as long as
// the process (it is never destroyed), so an object still open at exit, such
// as the handle of a child ended by rvx_End_Children and whatever its owner
// hung on it, stays reachable instead of being lost with the list.
std::vector<rvx_st_io*>& objects_ = *new std::vector<rvx_st_io*>();
// Released while callbacks run; freed when the dispatch ends.
std::vector<rvx_st_io*> doomed_;
bool dispatching_ = false;
// Children released before they were reaped.
std::vector<pid_t> orphans_;
bool started_ = false;
int wake_read_ = -1;
volatile sig_atomic_t wake_write_ = -1;

// Watched signals: the handler only sets the flag; the loop runs the callback.
constexpr int SIGNAL_SLOTS = 65;
volatile sig_atomic_t signal_pending_[SIGNAL_SLOTS] = {};
void (*signal_fns_[SIGNAL_SLOTS])(int) = {};

void wake_loop() {
    int saved = errno;
    if (wake_write_ >= 0) {
        char byte = 0;
        ssize_t ignored = write(wake_write_, &byte, 1);
        (void)ignored;
    }
    errno = saved;
}

void on_child_signal(int) {
    wake_loop();
}

void on_watched_signal(int signo) {
    if (signo > 0 && signo < SIGNAL_SLOTS) {
        signal_pending_[signo] = 1;
    }
    wake_loop();
}

// Runs the callbacks of the watched signals that came since the last pass.
void run_signals(int& ran) {
    for (int signo = 1; signo < SIGNAL_SLOTS; ++signo) {
        if (signal_pending_[signo] != 0 && signal_fns_[signo] != nullptr) {
            signal_pending_[signo] = 0;
            ++ran;
            signal_fns_[signo](signo);
        }
    }
}

bool start_loop() {
    if (started_) {
        return true;
    }
    int wake[2];
    if (pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        return false;
    }
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
    wake_read_ = wake[0];
    wake_write_ = wake[1];
    sigaction(SIGCHLD, &action, nullptr);
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

Child* as_child(rvx_st_io* io) {
    return io != nullptr && io->kind == Kind::Child ? static_cast<Child*>(io) : nullptr;
}

void close_stream(rvx_st_io* io) {
    if (!io->borrowed) {
        close_if_open(io->fd);
    }
    io->fd = -1;
    io->state = State::Closed;
    std::string().swap(io->output);
}

// 0 for a clean exit, else the exit status, or 128 plus the signal number.
int exit_result(int status) {
    return WIFEXITED(status)     ? WEXITSTATUS(status)
           : WIFSIGNALED(status) ? 128 + WTERMSIG(status)
                                 : -1;
}

// True when the child is gone, with *result as the wait callback receives it.
bool reap(pid_t pid, int* result) {
    int status = 0;
    pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == 0) {
        return false;
    }
    // Not ours (done < 0): another waitpid() in the process took the status.
    *result = done < 0 ? -1 : exit_result(status);
    return true;
}

void reap_children() {
    for (rvx_st_io* io : objects_) {
        Child* child = as_child(io);
        if (child != nullptr && child->phase == Phase::Running &&
            reap(child->pid, &child->result)) {
            child->phase = Phase::Reaped;
        }
    }
    orphans_.erase(std::remove_if(orphans_.begin(), orphans_.end(),
                                  [](pid_t pid) {
                                      int ignored = 0;
                                      return reap(pid, &ignored);
                                  }),
                   orphans_.end());
}

// Reaped, and both pipes have reached their end: the read callbacks have seen
// the whole output.
bool is_complete(const Child* child) {
    return child->phase == Phase::Reaped && child->state == State::Closed &&
           child->err.state == State::Closed;
}

void finish_if_complete(Child* child, int& ran) {
    if (child->released || !is_complete(child)) {
        return;
    }
    child->phase = Phase::Finished;
    if (child->wait_fn != nullptr) {
        ++ran;
        child->wait_fn(child, child->result);
    }
}

// Sends what the socket takes now. On a hard error the kept bytes are dropped
// and false returned; the peer's hangup reaches the read side.
bool flush(rvx_st_io* io) {
    size_t sent = 0;
    while (sent < io->output.size()) {
        ssize_t n =
            send(io->fd, &io->output[sent], io->output.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            break;
        } else {
            io->output.clear();
            return false;
        }
    }
    io->output.erase(0, sent);
    return true;
}

void drain(rvx_st_io* io) {
    char scratch[RVX_READ_MAX];
    for (int i = 0; i < DRAIN_CHUNKS && rvx_ReadData(io, scratch) > 0; ++i) {
    }
}

// Milliseconds poll() may sleep: -1 without limit.
int poll_timeout(int64_t deadline) {
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

// A stream at its end stays watched: end of file and errors keep it readable,
// so the pass that closes it comes without a timeout of zero.
void watch(std::vector<pollfd>& fds, std::vector<Ready>& streams, rvx_st_io* io, Child* child) {
    if (io->fd < 0 || io->state == State::Closed) {
        return;
    }
    short events = POLLIN;
    if (!io->output.empty()) {
        events |= POLLOUT;
    }
    fds.push_back(pollfd{io->fd, events, 0});
    streams.push_back(Ready{io, child, Event::Read, false});
}

// Phase one: everything that is ready, before any callback runs.
int collect(int64_t deadline, std::vector<Ready>& ready, int64_t& batch_now) {
    std::vector<pollfd> fds{pollfd{wake_read_, POLLIN, 0}};
    std::vector<Ready> streams{Ready{nullptr, nullptr, Event::Read, false}};
    for (rvx_st_io* io : objects_) {
        Child* child = as_child(io);
        watch(fds, streams, io, child);
        if (child != nullptr) {
            watch(fds, streams, &child->err, child);
        }
    }
    if (poll(fds.data(), static_cast<nfds_t>(fds.size()), poll_timeout(deadline)) < 0) {
        return errno == EINTR ? 0 : -1;
    }
    if (fds[0].revents != 0) {
        char scratch[64];
        while (read(wake_read_, scratch, sizeof scratch) > 0) {
        }
    }
    for (size_t i = 1; i < fds.size(); ++i) {
        short revents = fds[i].revents;
        rvx_st_io* io = streams[i].io;
        if (revents & POLLOUT) {
            flush(io);
        }
        if (revents & POLLNVAL) {
            // Closed behind the loop's back: the number may belong to
            // someone else by now, so it is never closed.
            io->fd = -1;
            io->state = State::AtEnd;
        }
        if (revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) {
            ready.push_back(streams[i]);
            ready.back().hangup = !(revents & POLLIN);
        }
    }
    reap_children();
    batch_now = now_ms();
    for (rvx_st_io* io : objects_) {
        Child* child = as_child(io);
        if (child != nullptr && is_complete(child)) {
            ready.push_back(Ready{child, child, Event::Wait, false});
        } else if (io->kind == Kind::Timer && io->running && io->due_ms <= batch_now) {
            ready.push_back(Ready{io, nullptr, Event::Timer, false});
        }
    }
    return 0;
}

void on_readable(const Ready& item, int& ran) {
    rvx_st_io* io = item.io;
    if (io->state == State::Open) {
        if (io->read_fn != nullptr) {
            ++ran;
            io->read_fn(io);
        } else {
            drain(io);
        }
        if (io->released) {
            return;
        }
        if (item.hangup) {
            io->state = State::AtEnd;
        }
    }
    if (io->state != State::AtEnd) {
        return;
    }
    close_stream(io);
    if (item.child != nullptr) {
        finish_if_complete(item.child, ran);
    } else if (io->close_fn != nullptr) {
        ++ran;
        io->close_fn(io);
    }
}

void fire_timer(rvx_st_io* timer, int64_t batch_now, int& ran) {
    // Stopped or restarted by an earlier callback of this pass.
    if (!timer->running || timer->due_ms > batch_now) {
        return;
    }
    // After a stall the timer resumes its period from now instead of firing
    // once for every period missed.
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
int dispatch(const std::vector<Ready>& ready, int64_t batch_now) {
    int ran = 0;
    dispatching_ = true;
    run_signals(ran);
    for (const Ready& item : ready) {
        if (item.io->released) {
            continue;
        }
        switch (item.event) {
        case Event::Read:
            on_readable(item, ran);
            break;
        case Event::Timer:
            fire_timer(item.io, batch_now, ran);
            break;
        case Event::Wait:
            finish_if_complete(item.child, ran);
            break;
        }
    }
    dispatching_ = false;
    for (rvx_st_io* io : doomed_) {
        delete io;
    }
    doomed_.clear();
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
        for (int signo = 1; signo < SIGNAL_SLOTS; ++signo) {
            if (signal_fns_[signo] != nullptr) {
                sigaction(signo, &fallback, nullptr);
            }
        }
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

// Starts the program with standard input from /dev/null and `out` and `err`
// as its standard output and error (the caller closes its copies). With
// `own_group` the child leads a process group of its own, so that a kill can
// reach whatever it starts. The pid, or -1 when it could not be started;
// errno then tells why.
pid_t spawn(char* const argv[], int out, int err, bool own_group) {
    int report[2] = {-1, -1};
    int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (in < 0 || pipe2(report, O_CLOEXEC) != 0) {
        close_if_open(in);
        return -1;
    }
    // Blocked until the child has reset its handlers, so that no signal runs
    // the parent's handler in the child.
    sigset_t all;
    sigset_t saved;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &saved);
    pid_t pid = fork();
    if (pid == 0) {
        if (own_group) {
            setpgid(0, 0);
        }
        run_child(argv, in, out, err, report[1]);
    }
    // Both sides set the group: whichever runs first wins.
    if (pid > 0 && own_group) {
        setpgid(pid, pid);
    }
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    close(in);
    close(report[1]);

    // The report pipe closes on a successful exec and carries errno otherwise.
    int failure = 0;
    if (pid > 0) {
        ssize_t n = 0;
        do {
            n = read(report[0], &failure, sizeof failure);
        } while (n < 0 && errno == EINTR);
        if (n > 0) {
            while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
            }
            pid = -1;
            errno = failure;
        }
    }
    close(report[0]);
    return pid;
}

} // namespace

int rvx_Selects(int timeout_ms) {
    // From a callback, the inner dispatch would free what the outer one still
    // walks.
    if (dispatching_ || !start_loop()) {
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
    rvx_st_io* io = nullptr;
    if (connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        (io = new (std::nothrow) rvx_st_io(Kind::Stream, fd)) == nullptr) {
        close(fd);
        return nullptr;
    }
    objects_.push_back(io);
    return io;
}

rvx_st_io* rvx_Stdio() {
    if (fcntl(STDIN_FILENO, F_GETFL) < 0 || !start_loop()) {
        return nullptr;
    }
    auto* io = new (std::nothrow) rvx_st_io(Kind::Stream, STDIN_FILENO);
    if (io == nullptr) {
        return nullptr;
    }
    io->borrowed = true;
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

namespace {

ssize_t read_some(rvx_st_io* io, char* buffer, size_t size) {
    if (io == nullptr || buffer == nullptr || io->kind == Kind::Timer || io->released) {
        return -1;
    }
    if (io->state != State::Open) {
        return 0;
    }
    if (io->borrowed) {
        // Standard input may block: read only what poll() reports.
        pollfd probe{io->fd, POLLIN, 0};
        int ready = 0;
        do {
            ready = poll(&probe, 1, 0);
        } while (ready < 0 && errno == EINTR);
        if (ready <= 0) {
            return 0;
        }
    }
    ssize_t n = 0;
    do {
        n = read(io->fd, buffer, size);
    } while (n < 0 && errno == EINTR);
    if (n > 0 || (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))) {
        return n > 0 ? n : 0;
    }
    io->state = State::AtEnd;
    return n < 0 ? -1 : 0;
}

} // namespace

int rvx_ReadData(rvx_st_io* io, char* buffer) {
    return static_cast<int>(read_some(io, buffer, RVX_READ_MAX));
}

int rvx_ReadAppend(rvx_st_io* io, std::string& out, size_t max) {
    // Read into a fixed buffer and appended, so the string grows only by what
    // arrived and not by a whole piece for each read.
    static char piece[RVX_READ_PIECE];
    ssize_t n = read_some(io, piece, max < sizeof piece ? max : sizeof piece);
    if (n > 0) {
        out.append(piece, static_cast<size_t>(n));
    }
    return static_cast<int>(n);
}

int rvx_WriteData(rvx_st_io* io, const char* data, size_t length) {
    if (io == nullptr || io->kind != Kind::Stream || io->released || io->state == State::Closed ||
        (data == nullptr && length > 0) || length > OUTPUT_LIMIT - io->output.size()) {
        return -1;
    }
    // Anything already waiting goes first, or the bytes would be reordered.
    bool queued = !io->output.empty();
    io->output.append(data, length);
    return queued || flush(io) ? static_cast<int>(length) : -1;
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
    if (io == nullptr || io->released) {
        return 0;
    }
    if (io->kind == Kind::Timer) {
        return io->running ? 1 : 0;
    }
    if (Child* child = as_child(io)) {
        return child->phase != Phase::Finished ? 1 : 0;
    }
    return io->state != State::Closed ? 1 : 0;
}

void rvx_Release_Rvx(rvx_st_io* io) {
    if (io == nullptr || io->released) {
        return;
    }
    if (io->kind == Kind::ChildStderr) {
        // The pipe lives as long as its child. It is still drained, so that a
        // child writing more neither blocks on a full pipe nor dies of SIGPIPE.
        io->read_fn = nullptr;
        return;
    }
    io->released = true;
    objects_.erase(std::remove(objects_.begin(), objects_.end(), io), objects_.end());
    if (Child* child = as_child(io)) {
        if (child->phase == Phase::Running) {
            orphans_.push_back(child->pid);
        }
        child->err.released = true;
        close_stream(&child->err);
    }
    close_stream(io);
    if (dispatching_) {
        doomed_.push_back(io);
    } else {
        delete io;
    }
}

rvx_st_io* rvx_Timer(int kind) {
    if (!start_loop()) {
        return nullptr;
    }
    auto* timer = new (std::nothrow) rvx_st_io(Kind::Timer, -1);
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
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || !set_nonblocking(out[0]) ||
        !set_nonblocking(err[0])) {
        for (int fd : {out[0], out[1], err[0], err[1]}) {
            close_if_open(fd);
        }
        return nullptr;
    }
    auto* child = new (std::nothrow) Child(out[0], err[0]);
    pid_t pid = child != nullptr ? spawn(argv, out[1], err[1], true) : -1;
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        int failure = errno;
        close(out[0]);
        close(err[0]);
        delete child;
        errno = failure;
        return nullptr;
    }
    child->pid = pid;
    objects_.push_back(child);
    return child;
}

void rvx_Exec_Set_WaitEvent(rvx_st_io* child, rvx_wait_fn fn) {
    if (Child* c = as_child(child)) {
        c->wait_fn = fn;
    }
}

void rvx_Exec_Set_StderrType(rvx_st_io* child, int type) {
    if (Child* c = as_child(child)) {
        c->err.type = type;
    }
}

void rvx_Exec_Set_StderrReadEvent(rvx_st_io* child, rvx_event_fn fn) {
    if (Child* c = as_child(child)) {
        c->err.read_fn = fn;
    }
}

void rvx_Exec_Set_StderrPar(rvx_st_io* child, void* par) {
    if (Child* c = as_child(child)) {
        c->err.par = par;
    }
}

int rvx_Exec_Kill(rvx_st_io* child, int sig) {
    Child* c = as_child(child);
    if (c == nullptr || c->released || c->phase != Phase::Running || c->pid <= 0) {
        return -1;
    }
    return kill(c->pid, sig) == 0 ? 0 : -1;
}

void rvx_Exec_Release(rvx_st_io* child) {
    rvx_Release_Rvx(child);
}

int rvx_Signal_Watch(int signo, void (*fn)(int signo)) {
    if (signo <= 0 || signo >= SIGNAL_SLOTS || signo == SIGKILL || signo == SIGSTOP ||
        signo == SIGCHLD || fn == nullptr || !start_loop()) {
        return -1;
    }
    signal_fns_[signo] = fn;
    struct sigaction action {};
    action.sa_handler = on_watched_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return sigaction(signo, &action, nullptr);
}

int rvx_Count() {
    return static_cast<int>(objects_.size());
}

namespace {

enum class Waited { Exited, TimedOut, Lost };

// Waits for this pid only, until the deadline. A child that closed its output
// is normally about to exit, so the naps start short.
Waited wait_own(pid_t pid, int64_t deadline, int* status) {
    int nap_ms = 1;
    for (;;) {
        pid_t done = waitpid(pid, status, WNOHANG);
        if (done == pid) {
            return Waited::Exited;
        }
        // Another waitpid() in the process took it; the pid may be reused.
        if (done < 0 && errno != EINTR) {
            return Waited::Lost;
        }
        int64_t left = deadline - now_ms();
        if (left <= 0) {
            return Waited::TimedOut;
        }
        poll(nullptr, 0, static_cast<int>(std::min<int64_t>(left, nap_ms)));
        nap_ms = std::min(nap_ms * 2, 50);
    }
}

} // namespace

void rvx_End_Children(int grace_ms) {
    // Each pid with the handle whose wait callback would report its end
    // (none for a released child).
    std::vector<std::pair<pid_t, Child*>> ending;
    for (pid_t pid : orphans_) {
        ending.emplace_back(pid, nullptr);
    }
    orphans_.clear();
    for (rvx_st_io* io : objects_) {
        Child* child = as_child(io);
        if (child != nullptr && child->phase == Phase::Running) {
            ending.emplace_back(child->pid, child);
        }
    }
    // Each child leads its group; the pid itself is signalled too in case it
    // left the group.
    for (const auto& entry : ending) {
        kill(-entry.first, SIGTERM);
        kill(entry.first, SIGTERM);
    }
    int64_t deadline = now_ms() + std::max(grace_ms, 0);
    for (const auto& entry : ending) {
        pid_t pid = entry.first;
        int status = 0;
        Waited waited = wait_own(pid, deadline, &status);
        // Whatever the leader started may outlive it.
        kill(-pid, SIGKILL);
        if (waited == Waited::TimedOut) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
        if (entry.second != nullptr) {
            // Reaped here: the loop must not wait for it again.
            entry.second->phase = Phase::Reaped;
            entry.second->result = waited == Waited::Lost ? -1 : exit_result(status);
        }
    }
}
