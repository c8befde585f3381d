// Single-threaded event loop over poll(): streams (Unix sockets, standard
// input), periodic timers on the monotonic clock, and child processes whose
// standard output and standard error are read through non-blocking pipes.
//
// Every object is an rvx_st_io handle. Callbacks run one at a time from inside
// rvx_Selects; a callback may create, start, stop and release any object,
// its own included. Ready objects are collected before any callback of a pass
// runs; an object released during the pass gets no further callback, and its
// memory is freed when the pass ends. Every descriptor the loop opens is
// close-on-exec. The first object created (or the first rvx_Selects) sets
// SIGPIPE to be ignored for the whole process, so a write to a vanished peer
// fails with EPIPE instead of ending it. Null handles are accepted everywhere: setters do nothing,
// other calls return -1, 0 or null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct rvx_st_io;

using rvx_event_fn = int (*)(rvx_st_io*);
using rvx_wait_fn = int (*)(rvx_st_io*, int);

// Largest number of bytes one rvx_ReadData call stores; callers provide at
// least one byte more for the terminating NUL they append.
constexpr int RVX_READ_MAX = 1024;
// Largest piece one rvx_ReadAppend call reads.
constexpr size_t RVX_READ_PIECE = 64 * 1024;

// Waits until at least one object is ready (without limit for a negative
// timeout, else at most timeout_ms), runs the ready objects' callbacks and
// returns the number of callbacks run (0 when the timeout passed); -1 when
// poll() failed. Work that runs no callback (draining a stream that has no
// read callback, reaping a released child) does not end the wait. Called from
// a callback it returns -1 at once: the loop is not re-entered.
int rvx_Selects(int timeout_ms);

// Stream handles.
// Connects to a Unix-domain stream socket; null when the connection fails or
// the path does not fit a socket address.
rvx_st_io* rvx_UnixClient(const char* path);
// Standard input. The descriptor is borrowed: releasing the handle stops
// watching it but leaves fd 0 open.
rvx_st_io* rvx_Stdio();
// Kept for the caller; the loop gives the type no meaning.
void rvx_Set_Type(rvx_st_io* io, int type);
// Runs when data can be read or the peer hung up. Without a read callback the
// data is read and dropped.
void rvx_Set_ReadEvent(rvx_st_io* io, rvx_event_fn fn);
// Runs once, after the read callback has met end of file or a hard error; the
// descriptor is already closed then and rvx_Get_InUse reports 0. The callback
// is expected to release the handle.
void rvx_Set_CloseEvent(rvx_st_io* io, rvx_event_fn fn);
// Reads at most RVX_READ_MAX bytes; 0 at end of file or when nothing is
// waiting, -1 on error. End of file of a stream is reported through the close
// callback after the read callback has returned.
int rvx_ReadData(rvx_st_io* io, char* buffer);
// The same, appending at most `max` bytes (and at most RVX_READ_PIECE) to
// `out`, so a long output is read in a few large pieces. Returns the number
// of bytes appended, as rvx_ReadData does.
int rvx_ReadAppend(rvx_st_io* io, std::string& out, size_t max);
// Writes the bytes without ever blocking; what the peer does not take at once
// is kept and sent when the socket can take more. A message is accepted whole
// or not at all: -1 when it would raise the kept bytes above 64 KiB or the
// peer is gone. Returns the length accepted, or -1.
int rvx_WriteData(rvx_st_io* io, const char* data, size_t length);
void rvx_Set_Par(rvx_st_io* io, void* par);
void* rvx_Get_Par(rvx_st_io* io);
// Non-zero for a stream until it is closed, for a timer while it is started,
// for a child until its wait callback has run.
int rvx_Get_InUse(rvx_st_io* io);
// Closes and frees the handle. Freeing is deferred to the end of the current
// dispatch, so a callback may release its own handle.
void rvx_Release_Rvx(rvx_st_io* io);

// Timers on the monotonic clock, so that setting the wall clock neither fires
// nor delays them. The kind is kept but has no meaning to the loop.
rvx_st_io* rvx_Timer(int kind);
void rvx_Timer_Set_ReadEvent(rvx_st_io* timer, rvx_event_fn fn);
// (Re)starts the timer: it fires every period_ms (> 0) from now on. A timer
// that fell behind resumes its period instead of firing for each one missed.
int rvx_Timer_Start(rvx_st_io* timer, int64_t period_ms);
// No further expiries until the timer is started again.
int rvx_Timer_Stop(rvx_st_io* timer);

// Child processes. argv[0] is the program's path; the vector ends with null.
// The child is started without a shell, with standard input from /dev/null,
// as the leader of a process group of its own (so rvx_End_Children reaches
// what it starts); null when it cannot be started (the program is missing or not executable).
// The handle's read callback (rvx_Set_ReadEvent) receives the child handle
// and rvx_ReadData on it reads standard output; rvx_Set_CloseEvent has no
// effect on a child. The wait callback runs once, after the child has been
// reaped and both its pipes have reached end of file, so the read callbacks
// have seen the whole output; its int is 0 for a child that exited with
// status 0, the exit status when that was not 0, 128 plus the signal number
// for a child killed by a signal, -1 when another waitpid() in the process
// took the status.
rvx_st_io* rvx_Exec_WithStderr(char* const argv[]);
void rvx_Exec_Set_WaitEvent(rvx_st_io* child, rvx_wait_fn fn);
void rvx_Exec_Set_StderrType(rvx_st_io* child, int type);
// The standard-error callback receives the child's standard-error stream
// handle: rvx_ReadData reads the child's standard error from it and
// rvx_Get_Par returns the pointer given to rvx_Exec_Set_StderrPar. That
// handle belongs to the child and is freed with it; releasing it only stops
// its callback: the loop still reads and drops standard error, so the child
// can write on, and the wait callback still waits for its end of file.
void rvx_Exec_Set_StderrReadEvent(rvx_st_io* child, rvx_event_fn fn);
void rvx_Exec_Set_StderrPar(rvx_st_io* child, void* par);
// Sends the signal to a child that has not been reaped yet; its wait callback
// follows as usual once it has ended. -1 when the child is already reaped (the
// pid may belong to another process by then) or the signal cannot be sent.
int rvx_Exec_Kill(rvx_st_io* child, int sig);
// Frees the child's handle (deferred like rvx_Release_Rvx). A child still
// running loses its callbacks and pipes and is reaped by the loop later.
void rvx_Exec_Release(rvx_st_io* child);

// Signals taken through the loop. After rvx_Signal_Watch the signal no
// longer has its default action: its handler only notes it and wakes poll(),
// and a later pass runs fn(signo) among the other callbacks (once, however
// often the signal came meanwhile). Children start with the default action
// back. -1 for a signal that cannot be caught.
int rvx_Signal_Watch(int signo, void (*fn)(int signo));

// Ends every child the loop started and has not reaped yet, released ones
// included, together with its process group (whatever it started itself):
// SIGTERM first, SIGKILL to the groups still there after grace_ms, and reaps
// them. No callback runs meanwhile; the handles stay, and their wait
// callbacks would run if the loop ran again. For a process about to exit.
void rvx_End_Children(int grace_ms);

// Number of live objects (streams, timers, children; a child's standard-error
// stream is part of its child); for tests and diagnostics.
int rvx_Count();
