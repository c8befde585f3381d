#include "base/rvx.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

int64_t now_ns() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

int scaled(int ms) {
    return static_cast<int>(ms * test_scale());
}

// Keeps the loop from running, as a slow callback would.
void stall_loop(int ms) {
    usleep(static_cast<useconds_t>(ms) * 1000);
}

int64_t cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return (static_cast<int64_t>(usage.ru_utime.tv_sec) + usage.ru_stime.tv_sec) * 1000 +
           (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

// True when the process has no child left, zombies included; reaps nothing.
bool no_children() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

class RvxTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/od-rvx-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        EXPECT_EQ(rvx_Count(), 0) << "a test leaked loop objects";
        for (const std::string& file : files_) {
            unlink(file.c_str());
        }
        rmdir(dir_.c_str());
    }
    std::string file(const std::string& name) {
        files_.push_back(dir_ + "/" + name);
        return files_.back();
    }
    std::string dir_;
    std::vector<std::string> files_;
};

// ---- Children --------------------------------------------------------------

// The wait callback releases the child, so nothing is read after it.
struct Capture {
    // The stderr stream's pointer, kept apart from the child's own pointer.
    struct ErrSide {
        Capture* capture;
    } err_side{this};
    rvx_st_io* child = nullptr;
    std::string out;
    std::string err;
    int largest_read = 0;
    int err_reads = 0;
    int waits = 0;
    int result = -1000;
    bool stderr_handle_was_child = false;
    bool release_err_on_read = false;
};

void append_read(rvx_st_io* io, std::string& sink, Capture& capture) {
    char buffer[RVX_READ_MAX + 1];
    int count = rvx_ReadData(io, buffer);
    if (count > 0) {
        sink.append(buffer, static_cast<size_t>(count));
        capture.largest_read = std::max(capture.largest_read, count);
    }
}

int on_child_out(rvx_st_io* io) {
    auto* capture = static_cast<Capture*>(rvx_Get_Par(io));
    append_read(io, capture->out, *capture);
    return 0;
}

int on_child_err(rvx_st_io* io) {
    Capture* capture = static_cast<Capture::ErrSide*>(rvx_Get_Par(io))->capture;
    capture->stderr_handle_was_child = capture->stderr_handle_was_child || io == capture->child;
    ++capture->err_reads;
    append_read(io, capture->err, *capture);
    if (capture->release_err_on_read) {
        rvx_Release_Rvx(io);
    }
    return 0;
}

int on_child_end(rvx_st_io* io, int result) {
    auto* capture = static_cast<Capture*>(rvx_Get_Par(io));
    ++capture->waits;
    capture->result = result;
    rvx_Exec_Release(io);
    return 0;
}

rvx_st_io* spawn(std::vector<std::string> args, Capture& capture) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    rvx_st_io* child = rvx_Exec_WithStderr(argv.data());
    capture.child = child;
    if (child != nullptr) {
        rvx_Exec_Set_WaitEvent(child, on_child_end);
        rvx_Set_Type(child, -1);
        rvx_Set_ReadEvent(child, on_child_out);
        rvx_Exec_Set_StderrType(child, -1);
        rvx_Exec_Set_StderrReadEvent(child, on_child_err);
        rvx_Set_Par(child, &capture);
        rvx_Exec_Set_StderrPar(child, &capture.err_side);
    }
    return child;
}

struct Outcome {
    int result;
    std::string out;
    std::string err;
};

Outcome run(std::vector<std::string> args) {
    Capture capture;
    if (spawn(std::move(args), capture) != nullptr) {
        EXPECT_TRUE(run_until([&] { return capture.waits > 0; }));
        EXPECT_EQ(capture.waits, 1);
        EXPECT_LE(capture.largest_read, RVX_READ_MAX);
        EXPECT_FALSE(capture.stderr_handle_was_child);
    }
    return Outcome{capture.result, capture.out, capture.err};
}

TEST_F(RvxTest, LargeOutputOnBothPipesIsReadWholeBeforeTheWait) {
    // Interleaved writes to both pipes, each far beyond a pipe's capacity: a
    // loop that drains one pipe before the other deadlocks here.
    std::string line(99, 'x');
    Outcome capture = run({"/bin/sh", "-c",
                           "i=0; while [ $i -lt 1000 ]; do echo " + line + "; echo " + line +
                               " >&2; i=$((i+1)); done"});
    std::string expected;
    for (int i = 0; i < 1000; ++i) {
        expected += line + "\n";
    }
    EXPECT_EQ(capture.result, 0);
    EXPECT_TRUE(capture.out == expected) << capture.out.size();
    EXPECT_TRUE(capture.err == expected) << capture.err.size();
}

TEST_F(RvxTest, OutputThatOutlastsTheExitComesBeforeTheWait) {
    // The background job keeps both pipes open after the shell has exited.
    Outcome capture = run({"/bin/sh", "-c", "echo a; (sleep 0.2; echo b; echo c >&2) & exit 0"});
    EXPECT_EQ(capture.out, "a\nb\n");
    EXPECT_EQ(capture.err, "c\n");
    EXPECT_EQ(capture.result, 0);

    // A child that has ended before the loop read anything.
    Capture early;
    ASSERT_NE(spawn({"/bin/echo", "early"}, early), nullptr);
    siginfo_t info{};
    ASSERT_EQ(waitid(P_ALL, 0, &info, WEXITED | WNOWAIT), 0);
    ASSERT_TRUE(run_until([&] { return early.waits > 0; }));
    EXPECT_EQ(early.out, "early\n");
}

TEST_F(RvxTest, WaitResultIsZeroOnlyForACleanExit) {
    EXPECT_EQ(run({"/bin/true"}).result, 0);
    EXPECT_NE(run({"/bin/false"}).result, 0);
    EXPECT_EQ(run({"/bin/sh", "-c", "exit 3"}).result, 3);
    EXPECT_EQ(run({"/bin/sh", "-c", "kill -9 $$"}).result, 128 + 9);
}

TEST_F(RvxTest, ChildStartsWithDefaultSignalsAndAnEmptyMask) {
    // The loop ignores SIGPIPE and the test blocks SIGTERM; neither may reach
    // the child, or it would survive both signals.
    sigset_t term;
    sigset_t saved;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigprocmask(SIG_BLOCK, &term, &saved);
    int after_pipe = run({"/bin/sh", "-c", "kill -PIPE $$; exit 0"}).result;
    int after_term = run({"/bin/sh", "-c", "kill -TERM $$; exit 0"}).result;
    sigprocmask(SIG_SETMASK, &saved, nullptr);
    EXPECT_EQ(after_pipe, 128 + SIGPIPE);
    EXPECT_EQ(after_term, 128 + SIGTERM);
}

TEST_F(RvxTest, ReleasedStderrHandleGetsNoCallbackButTheChildWritesOn) {
    // Far more than a pipe holds goes to standard error after the release.
    Capture capture;
    capture.release_err_on_read = true;
    ASSERT_NE(spawn({"/bin/sh", "-c",
                     "echo first >&2; i=0; while [ $i -lt 2000 ]; do echo " + std::string(99, 'e') +
                         " >&2; i=$((i+1)); done; echo done"},
                    capture),
              nullptr);
    ASSERT_TRUE(run_until([&] { return capture.waits > 0; }));
    EXPECT_EQ(capture.err_reads, 1);
    EXPECT_EQ(capture.err.compare(0, 6, "first\n"), 0);
    EXPECT_EQ(capture.out, "done\n");
    EXPECT_EQ(capture.result, 0);
}

TEST_F(RvxTest, ProgramThatCannotBeStartedGivesNullAndLeavesNoZombie) {
    Capture capture;
    EXPECT_EQ(spawn({"/nonexistent/program"}, capture), nullptr);
    std::string plain = file("not-executable");
    int fd = open(plain.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    close(fd);
    EXPECT_EQ(spawn({plain}, capture), nullptr);
    EXPECT_EQ(rvx_Exec_WithStderr(nullptr), nullptr);
    EXPECT_TRUE(no_children());
}

TEST_F(RvxTest, ChildrenEndInTheirOwnOrder) {
    std::string flag = file("flag");
    Capture slow;
    Capture quick;
    ASSERT_NE(
        spawn({"/bin/sh", "-c", "while [ ! -e \"$0\" ]; do sleep 0.02; done; echo slow", flag},
              slow),
        nullptr);
    ASSERT_NE(spawn({"/bin/sh", "-c", "echo quick; exit 4"}, quick), nullptr);
    ASSERT_TRUE(run_until([&] { return quick.waits > 0; }));
    EXPECT_EQ(slow.waits, 0);
    EXPECT_EQ(rvx_Count(), 1);
    close(open(flag.c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_TRUE(run_until([&] { return slow.waits > 0; }));
    EXPECT_EQ(quick.out, "quick\n");
    EXPECT_EQ(quick.result, 4);
    EXPECT_EQ(slow.out, "slow\n");
    EXPECT_EQ(slow.result, 0);
}

TEST_F(RvxTest, AKilledChildIsReportedThroughItsWaitCallback) {
    Capture capture;
    rvx_st_io* child = spawn({"/bin/sh", "-c", "echo started; exec sleep 30"}, capture);
    ASSERT_NE(child, nullptr);
    ASSERT_TRUE(run_until([&] { return capture.out == "started\n"; }));
    EXPECT_EQ(rvx_Exec_Kill(child, SIGKILL), 0);
    ASSERT_TRUE(run_until([&] { return capture.waits > 0; }));
    EXPECT_EQ(capture.result, 128 + SIGKILL);
    EXPECT_EQ(rvx_Exec_Kill(nullptr, SIGKILL), -1);
}

TEST_F(RvxTest, ChildReleasedWhileRunningIsReapedLater) {
    Capture capture;
    rvx_st_io* child = spawn({"/bin/sh", "-c", "sleep 0.1; echo late"}, capture);
    ASSERT_NE(child, nullptr);
    rvx_Exec_Release(child);
    EXPECT_EQ(rvx_Count(), 0);
    EXPECT_TRUE(run_until(no_children));
    EXPECT_EQ(capture.waits, 0);
    EXPECT_EQ(capture.out, "");
}

// ---- Signals and the end of children ---------------------------------------

int signal_calls = 0;
int signal_seen = 0;

void on_signal(int signo) {
    ++signal_calls;
    signal_seen = signo;
}

TEST_F(RvxTest, WatchedSignalRunsItsCallbackFromTheLoopOnce) {
    ASSERT_EQ(rvx_Signal_Watch(SIGUSR1, on_signal), 0);
    EXPECT_EQ(rvx_Signal_Watch(SIGKILL, on_signal), -1);
    EXPECT_EQ(rvx_Signal_Watch(SIGUSR2, nullptr), -1);
    signal_calls = 0;
    raise(SIGUSR1);
    raise(SIGUSR1);
    // Nothing runs inside the handler: the callback waits for the loop.
    EXPECT_EQ(signal_calls, 0);
    EXPECT_EQ(rvx_Selects(scaled(5000)), 1);
    EXPECT_EQ(signal_calls, 1);
    EXPECT_EQ(signal_seen, SIGUSR1);
    // A child gets the default action back: the signal ends it.
    EXPECT_EQ(run({"/bin/sh", "-c", "kill -USR1 $$; exit 0"}).result, 128 + SIGUSR1);
    EXPECT_EQ(signal_calls, 1);
    signal(SIGUSR1, SIG_DFL);
}

// A process that is gone or only waits to be reaped by someone else.
bool ended(pid_t pid) {
    std::string stat = "/proc/" + std::to_string(pid) + "/stat";
    FILE* file = fopen(stat.c_str(), "r");
    if (file == nullptr) {
        return true;
    }
    char line[512] = {};
    char* read = fgets(line, sizeof line, file);
    fclose(file);
    const char* state = read != nullptr ? strrchr(line, ')') : nullptr;
    return state != nullptr && (state[2] == 'Z' || state[2] == 'X');
}

TEST_F(RvxTest, EndChildrenEndsEveryChildWithWhatItStarted) {
    // One child started a process of its own, one ignores SIGTERM, one was
    // released while it ran.
    Capture parent;
    Capture stubborn;
    Capture released;
    ASSERT_NE(spawn({"/bin/sh", "-c", "sleep 60 & echo $!; wait"}, parent), nullptr);
    ASSERT_NE(spawn({"/bin/sh", "-c", "trap '' TERM; echo ready; while :; do sleep 0.05; done"},
                    stubborn),
              nullptr);
    rvx_Exec_Release(spawn({"/bin/sleep", "60"}, released));
    ASSERT_TRUE(run_until(
        [&] { return parent.out.find('\n') != std::string::npos && stubborn.out == "ready\n"; }));
    pid_t grandchild = static_cast<pid_t>(std::stol(parent.out));

    rvx_End_Children(scaled(200));
    EXPECT_TRUE(no_children());
    EXPECT_TRUE(run_until([&] { return ended(grandchild); }));
    // The pipes reach their end, so the handles finish as usual.
    EXPECT_TRUE(run_until([&] { return parent.waits > 0 && stubborn.waits > 0; }));
    EXPECT_EQ(parent.result, 128 + SIGTERM);
    EXPECT_EQ(stubborn.result, 128 + SIGKILL);
    EXPECT_EQ(released.waits, 0);
}

// ---- Timers ----------------------------------------------------------------

struct TimerProbe {
    enum Action { Keep, StopAtThird, ReleaseAtFirst, RestartEach } action = Keep;
    int fires = 0;
    int nested_loop = 0;
    std::vector<int64_t> fired_ns;
    rvx_st_io* other = nullptr;
};

int on_timer(rvx_st_io* timer) {
    auto* probe = static_cast<TimerProbe*>(rvx_Get_Par(timer));
    ++probe->fires;
    probe->fired_ns.push_back(now_ns());
    probe->nested_loop = rvx_Selects(0);
    if (probe->other != nullptr) {
        rvx_Release_Rvx(probe->other);
        probe->other = nullptr;
    }
    if (probe->action == TimerProbe::StopAtThird && probe->fires == 3) {
        rvx_Timer_Stop(timer);
    } else if (probe->action == TimerProbe::ReleaseAtFirst) {
        rvx_Release_Rvx(timer);
    } else if (probe->action == TimerProbe::RestartEach) {
        rvx_Timer_Start(timer, 5);
    }
    return 0;
}

rvx_st_io* timer_for(TimerProbe& probe) {
    rvx_st_io* timer = rvx_Timer(1);
    rvx_Timer_Set_ReadEvent(timer, on_timer);
    rvx_Set_Par(timer, &probe);
    return timer;
}

TEST_F(RvxTest, TimerFiresEveryPeriodAndNeverEarly) {
    TimerProbe probe;
    rvx_st_io* timer = timer_for(probe);
    EXPECT_EQ(rvx_Get_InUse(timer), 0);
    EXPECT_EQ(rvx_Selects(20), 0) << "a stopped timer fired";
    int64_t start_ns = now_ns();
    ASSERT_EQ(rvx_Timer_Start(timer, 20), 0);
    EXPECT_NE(rvx_Get_InUse(timer), 0);
    ASSERT_TRUE(run_until([&] { return probe.fires >= 4; }));
    EXPECT_EQ(probe.nested_loop, -1) << "the loop ran inside a callback";
    for (size_t i = 0; i < probe.fired_ns.size(); ++i) {
        // One millisecond of slack for the loop's whole-millisecond clock.
        int64_t earliest_ms = 20 * static_cast<int64_t>(i + 1) - 1;
        EXPECT_GE(probe.fired_ns[i] - start_ns, earliest_ms * 1000000) << "fire " << i;
    }
    rvx_Release_Rvx(timer);
}

TEST_F(RvxTest, TimerResumesItsPeriodAfterAStall) {
    TimerProbe probe;
    rvx_st_io* timer = timer_for(probe);
    int period = scaled(30);
    rvx_Timer_Start(timer, period);
    stall_loop(5 * period);
    ASSERT_TRUE(run_until([&] { return probe.fires == 2; }));
    // One late fire for the periods missed, then a whole period to the next.
    EXPECT_GE(probe.fired_ns[1] - probe.fired_ns[0], period * 2 / 3 * 1000000LL);
    rvx_Release_Rvx(timer);
}

TEST_F(RvxTest, StoppedTimerStaysQuietUntilStartedAgain) {
    TimerProbe probe;
    rvx_st_io* timer = timer_for(probe);
    rvx_Timer_Start(timer, 10);
    ASSERT_TRUE(run_until([&] { return probe.fires == 1; }));
    ASSERT_EQ(rvx_Timer_Stop(timer), 0);
    EXPECT_EQ(rvx_Selects(scaled(60)), 0);
    EXPECT_EQ(probe.fires, 1);
    rvx_Timer_Start(timer, 10);
    EXPECT_TRUE(run_until([&] { return probe.fires == 2; }));
    EXPECT_EQ(rvx_Timer_Start(timer, 0), -1);
    rvx_Release_Rvx(timer);
}

TEST_F(RvxTest, TimerCallbackMayStopRestartOrReleaseItsOwnTimer) {
    TimerProbe stopping;
    stopping.action = TimerProbe::StopAtThird;
    rvx_st_io* stopped = timer_for(stopping);
    rvx_Timer_Start(stopped, 5);
    ASSERT_TRUE(run_until([&] { return stopping.fires == 3; }));
    EXPECT_EQ(rvx_Selects(scaled(40)), 0);
    EXPECT_EQ(stopping.fires, 3);
    rvx_Release_Rvx(stopped);

    TimerProbe restarting;
    restarting.action = TimerProbe::RestartEach;
    rvx_st_io* restarted = timer_for(restarting);
    rvx_Timer_Start(restarted, 5);
    EXPECT_TRUE(run_until([&] { return restarting.fires == 3; }));
    rvx_Release_Rvx(restarted);

    TimerProbe releasing;
    releasing.action = TimerProbe::ReleaseAtFirst;
    rvx_Timer_Start(timer_for(releasing), 5);
    ASSERT_TRUE(run_until([&] { return releasing.fires == 1; }));
    EXPECT_EQ(rvx_Count(), 0);
    rvx_Selects(scaled(30));
    EXPECT_EQ(releasing.fires, 1);
}

// ---- Streams ---------------------------------------------------------------

class Listener {
  public:
    explicit Listener(const std::string& path) : path_(path) {
        fd_ = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        path.copy(address.sun_path, sizeof address.sun_path - 1);
        bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(fd_, 8);
    }
    ~Listener() {
        close(fd_);
        unlink(path_.c_str());
    }
    // The client's connect has been queued already, so this does not wait.
    int accept_one() { return accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC); }

  private:
    std::string path_;
    int fd_ = -1;
};

// Reads from the test's end of a socket while the loop flushes the other end.
std::string read_peer(int fd, size_t want) {
    std::string got;
    char buffer[4096];
    auto deadline = Clock::now() + std::chrono::milliseconds(scaled(5000));
    while (got.size() < want && Clock::now() < deadline) {
        pollfd ready{fd, POLLIN, 0};
        rvx_Selects(0);
        if (poll(&ready, 1, 10) == 1) {
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n <= 0) {
                break;
            }
            got.append(buffer, static_cast<size_t>(n));
        }
    }
    return got;
}

struct Link {
    std::string in;
    int reads = 0;
    int closes = 0;
    int in_use_at_close = -1;
    rvx_st_io* other = nullptr;
    bool release_self_on_read = false;
};

int on_link_read(rvx_st_io* io) {
    auto* link = static_cast<Link*>(rvx_Get_Par(io));
    ++link->reads;
    char buffer[RVX_READ_MAX + 1];
    int count = rvx_ReadData(io, buffer);
    if (count > 0) {
        link->in.append(buffer, static_cast<size_t>(count));
    }
    if (link->other != nullptr) {
        rvx_Release_Rvx(link->other);
        link->other = nullptr;
    }
    if (link->release_self_on_read) {
        rvx_Release_Rvx(io);
    }
    return 0;
}

int on_link_close(rvx_st_io* io) {
    auto* link = static_cast<Link*>(rvx_Get_Par(io));
    ++link->closes;
    link->in_use_at_close = rvx_Get_InUse(io);
    rvx_Release_Rvx(io);
    return 0;
}

rvx_st_io* connect_link(const std::string& path, Link& link, bool with_read = true) {
    rvx_st_io* io = rvx_UnixClient(path.c_str());
    if (io != nullptr) {
        rvx_Set_Type(io, -1);
        rvx_Set_ReadEvent(io, with_read ? on_link_read : nullptr);
        rvx_Set_CloseEvent(io, on_link_close);
        rvx_Set_Par(io, &link);
    }
    return io;
}

TEST_F(RvxTest, UnixClientReadsWritesAndReportsThePeersClose) {
    std::string path = file("sock");
    Listener listener(path);
    Link link;
    rvx_st_io* io = connect_link(path, link);
    ASSERT_NE(io, nullptr);
    int peer = listener.accept_one();
    ASSERT_GE(peer, 0);
    EXPECT_NE(rvx_Get_InUse(io), 0);

    ASSERT_EQ(write(peer, "hello", 5), 5);
    ASSERT_TRUE(run_until([&] { return link.in == "hello"; }));
    EXPECT_EQ(rvx_WriteData(io, "ping\n", 5), 5);
    EXPECT_EQ(read_peer(peer, 5), "ping\n");

    close(peer);
    // Without protection against SIGPIPE this would end the test program.
    EXPECT_EQ(rvx_WriteData(io, "lost\n", 5), -1);
    // End of file met outside the read callback still leads to the close.
    char buffer[RVX_READ_MAX + 1];
    EXPECT_EQ(rvx_ReadData(io, buffer), 0);
    ASSERT_TRUE(run_until([&] { return link.closes == 1; }));
    EXPECT_EQ(link.in_use_at_close, 0);

    EXPECT_EQ(rvx_UnixClient((dir_ + "/missing").c_str()), nullptr);
    EXPECT_EQ(rvx_UnixClient(("/tmp/" + std::string(200, 'n')).c_str()), nullptr);
    EXPECT_EQ(rvx_UnixClient(""), nullptr);
}

TEST_F(RvxTest, WritesToASlowPeerAreKeptInOrderUpToALimit) {
    std::string path = file("sock");
    Listener listener(path);
    Link link;
    rvx_st_io* io = connect_link(path, link);
    ASSERT_NE(io, nullptr);
    int peer = listener.accept_one();
    std::string sent;
    for (int i = 0; i < 10000; ++i) {
        std::string chunk(1000, static_cast<char>('a' + i % 26));
        if (rvx_WriteData(io, chunk.data(), chunk.size()) != 1000) {
            break;
        }
        sent += chunk;
    }
    // What the socket has not taken waits in the loop, at most 64 KiB of it.
    std::string got;
    char buffer[4096];
    for (ssize_t n; (n = recv(peer, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
        got.append(buffer, static_cast<size_t>(n));
    }
    size_t kept = sent.size() - got.size();
    ASSERT_LE(kept, 65536u);
    EXPECT_GT(kept, 65536u - 1000);
    std::string rest(65536 - kept, 'z');
    EXPECT_EQ(rvx_WriteData(io, rest.data(), rest.size()), static_cast<int>(rest.size()));
    sent += rest;
    EXPECT_EQ(rvx_WriteData(io, "!", 1), -1);
    got += read_peer(peer, sent.size() - got.size());
    EXPECT_TRUE(got == sent);
    EXPECT_EQ(rvx_WriteData(io, "more", 4), 4);
    EXPECT_EQ(read_peer(peer, 4), "more");
    close(peer);
    rvx_Release_Rvx(io);
}

TEST_F(RvxTest, StreamWithoutReadCallbackIsDrainedToItsClose) {
    std::string path = file("sock");
    Listener listener(path);
    Link link;
    ASSERT_NE(connect_link(path, link, false), nullptr);
    int peer = listener.accept_one();
    std::string junk(10000, 'j');
    ASSERT_EQ(write(peer, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
    close(peer);
    EXPECT_TRUE(run_until([&] { return link.closes == 1; }));
}

TEST_F(RvxTest, CallbackReleasingItselfOrAnotherReadyObject) {
    std::string path = file("sock");
    Listener listener(path);
    Link first;
    Link second;
    rvx_st_io* a = connect_link(path, first);
    int peer_a = listener.accept_one();
    rvx_st_io* b = connect_link(path, second);
    int peer_b = listener.accept_one();
    ASSERT_TRUE(a != nullptr && b != nullptr);
    first.other = b;
    second.other = a;
    first.release_self_on_read = true;
    second.release_self_on_read = true;
    // Both are readable before the loop looks, so both are in one batch: the
    // first callback releases both handles and the second must not run.
    ASSERT_EQ(write(peer_a, "x", 1), 1);
    ASSERT_EQ(write(peer_b, "y", 1), 1);
    EXPECT_EQ(rvx_Selects(scaled(1000)), 1);
    EXPECT_EQ(first.reads + second.reads, 1);
    EXPECT_EQ(rvx_Count(), 0);
    close(peer_a);
    close(peer_b);
    rvx_Selects(10);
    EXPECT_EQ(first.closes + second.closes, 0);

    // The same for two timers that are both due when the loop looks.
    TimerProbe one;
    TimerProbe two;
    one.action = two.action = TimerProbe::ReleaseAtFirst;
    rvx_st_io* timer_one = timer_for(one);
    rvx_st_io* timer_two = timer_for(two);
    one.other = timer_two;
    two.other = timer_one;
    rvx_Timer_Start(timer_one, 1);
    rvx_Timer_Start(timer_two, 1);
    stall_loop(5);
    EXPECT_EQ(rvx_Selects(scaled(1000)), 1);
    EXPECT_EQ(one.fires + two.fires, 1);
}

TEST_F(RvxTest, StandardInputIsReadUntilItsEnd) {
    int saved = dup(STDIN_FILENO);
    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    dup2(pipe_fds[0], STDIN_FILENO);
    close(pipe_fds[0]);
    Link link;
    rvx_st_io* io = rvx_Stdio();
    ASSERT_NE(io, nullptr);
    rvx_Set_ReadEvent(io, on_link_read);
    rvx_Set_CloseEvent(io, on_link_close);
    rvx_Set_Par(io, &link);
    ASSERT_EQ(write(pipe_fds[1], "line\n", 5), 5);
    EXPECT_TRUE(run_until([&] { return link.in == "line\n"; }));
    close(pipe_fds[1]);
    EXPECT_TRUE(run_until([&] { return link.closes == 1; }));
    // The borrowed descriptor stays open and blocking.
    EXPECT_GE(fcntl(STDIN_FILENO, F_GETFD), 0);
    EXPECT_EQ(fcntl(STDIN_FILENO, F_GETFL) & O_NONBLOCK, 0);
    dup2(saved, STDIN_FILENO);
    close(saved);
}

// Descriptors open in the process; fcntl works the same under an emulator.
std::vector<int> open_fds() {
    std::vector<int> fds;
    for (int fd = 0; fd < 1024; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0) {
            fds.push_back(fd);
        }
    }
    return fds;
}

TEST_F(RvxTest, LoopDescriptorsAreCloseOnExecAndNonBlocking) {
    std::string path = file("sock");
    Listener listener(path);
    std::vector<int> before = open_fds();
    Link link;
    rvx_st_io* io = connect_link(path, link);
    ASSERT_NE(io, nullptr);
    int peer = listener.accept_one();
    std::string flag = file("go");
    Capture capture;
    ASSERT_NE(spawn({"/bin/sh", "-c", "while [ ! -e \"$0\" ]; do sleep 0.02; done", flag}, capture),
              nullptr);
    std::vector<int> added;
    for (int fd : open_fds()) {
        if (fd != peer && std::find(before.begin(), before.end(), fd) == before.end()) {
            added.push_back(fd);
        }
    }
    // The socket and the child's two pipes at least (the wake-up pipe too
    // when this is the first test to use the loop).
    EXPECT_GE(added.size(), 3u);
    for (int fd : added) {
        EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0) << "fd " << fd;
        EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0) << "fd " << fd;
    }
    close(open(flag.c_str(), O_WRONLY | O_CREAT, 0644));
    ASSERT_TRUE(run_until([&] { return capture.waits > 0; }));
    EXPECT_EQ(capture.result, 0);
    close(peer);
    ASSERT_TRUE(run_until([&] { return link.closes == 1; }));
}

TEST_F(RvxTest, IdleLoopSleepsInPoll) {
    // A timer far off, a quiet socket and a reaped child whose pipes a
    // background job keeps open: nothing to run, so nothing to spin on.
    std::string path = file("sock");
    Listener listener(path);
    Link link;
    rvx_st_io* io = connect_link(path, link);
    int peer = listener.accept_one();
    TimerProbe probe;
    rvx_st_io* timer = timer_for(probe);
    rvx_Timer_Start(timer, 3600 * 1000);
    std::string flag = file("go");
    Capture capture;
    rvx_st_io* child = spawn(
        {"/bin/sh", "-c", "(while [ ! -e \"$0\" ]; do sleep 0.02; done) & exit 0", flag}, capture);
    ASSERT_NE(child, nullptr);
    int64_t wall_start = now_ns();
    int64_t cpu_start = cpu_ms();
    EXPECT_EQ(rvx_Selects(scaled(300)), 0);
    int64_t wall_ms = (now_ns() - wall_start) / 1000000;
    EXPECT_GE(wall_ms, scaled(300) - 1);
    EXPECT_LT(cpu_ms() - cpu_start, wall_ms / 4);
    EXPECT_NE(rvx_Get_InUse(child), 0);
    close(open(flag.c_str(), O_WRONLY | O_CREAT, 0644));
    EXPECT_TRUE(run_until([&] { return capture.waits > 0; }));
    rvx_Release_Rvx(timer);
    rvx_Release_Rvx(io);
    close(peer);
}

TEST_F(RvxTest, AVanishedReaderDoesNotEndTheProcess) {
    rvx_st_io* timer = rvx_Timer(1);
    ASSERT_NE(timer, nullptr);
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);
    // Like a debug log whose reader has gone: the write fails, nothing more.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    close(fds[0]);
    errno = 0;
    EXPECT_EQ(write(fds[1], "x", 1), -1);
    EXPECT_EQ(errno, EPIPE);
    close(fds[1]);
    rvx_Release_Rvx(timer);
}

TEST_F(RvxTest, NullHandlesAreHarmless) {
    char buffer[RVX_READ_MAX + 1];
    rvx_Set_Type(nullptr, -1);
    rvx_Set_ReadEvent(nullptr, on_link_read);
    rvx_Set_CloseEvent(nullptr, on_link_close);
    rvx_Set_Par(nullptr, buffer);
    rvx_Timer_Set_ReadEvent(nullptr, on_timer);
    rvx_Exec_Set_WaitEvent(nullptr, on_child_end);
    rvx_Exec_Set_StderrType(nullptr, -1);
    rvx_Exec_Set_StderrReadEvent(nullptr, on_child_err);
    rvx_Exec_Set_StderrPar(nullptr, buffer);
    rvx_Release_Rvx(nullptr);
    rvx_Exec_Release(nullptr);
    EXPECT_EQ(rvx_Get_Par(nullptr), nullptr);
    EXPECT_EQ(rvx_Get_InUse(nullptr), 0);
    EXPECT_EQ(rvx_ReadData(nullptr, buffer), -1);
    EXPECT_EQ(rvx_WriteData(nullptr, "x", 1), -1);
    EXPECT_EQ(rvx_Timer_Start(nullptr, 10), -1);
    EXPECT_EQ(rvx_Timer_Stop(nullptr), -1);
    EXPECT_EQ(rvx_UnixClient(nullptr), nullptr);
}

} // namespace
