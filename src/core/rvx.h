// Single-threaded event loop over poll(): streams (Unix sockets, standard
// input), periodic timers on the monotonic clock, and child processes whose
// standard output and standard error are read through non-blocking pipes.
//
// Every object is an rvx_st_io handle. Callbacks run one at a time from inside
// rvx_Selects; a callback may create, start, stop and release any object,
// its own included.
#pragma once

#include <cstddef>
#include <cstdint>

struct rvx_st_io;

using rvx_event_fn = int (*)(rvx_st_io*);
using rvx_wait_fn = int (*)(rvx_st_io*, int);

// Largest number of bytes one rvx_ReadData call stores; callers provide at
// least one byte more for the terminating NUL they append.
constexpr int RVX_READ_MAX = 1024;

// Waits until at least one object is ready (without limit for a negative
// timeout, else at most timeout_ms), runs the ready objects' callbacks and
// returns the number of callbacks run; -1 when poll() failed.
int rvx_Selects(int timeout_ms);

// Stream handles.
rvx_st_io* rvx_UnixClient(const char* path);
rvx_st_io* rvx_Stdio();
void rvx_Set_Type(rvx_st_io* io, int type);
void rvx_Set_ReadEvent(rvx_st_io* io, rvx_event_fn fn);
void rvx_Set_CloseEvent(rvx_st_io* io, rvx_event_fn fn);
// Reads at most RVX_READ_MAX bytes; 0 at end of file or when nothing is
// waiting, -1 on error. End of file of a stream is reported through the close
// callback after the read callback has returned.
int rvx_ReadData(rvx_st_io* io, char* buffer);
// Writes the bytes; what the peer does not take at once is kept and sent when
// the socket can take more. Returns the length accepted, or -1.
int rvx_WriteData(rvx_st_io* io, const char* data, size_t length);
void rvx_Set_Par(rvx_st_io* io, void* par);
void* rvx_Get_Par(rvx_st_io* io);
int rvx_Get_InUse(rvx_st_io* io);
// Closes and frees the handle. Freeing is deferred to the end of the current
// dispatch, so a callback may release its own handle.
void rvx_Release_Rvx(rvx_st_io* io);

// Timers.
rvx_st_io* rvx_Timer(int kind);
void rvx_Timer_Set_ReadEvent(rvx_st_io* timer, rvx_event_fn fn);
int rvx_Timer_Start(rvx_st_io* timer, int64_t period_ms);
int rvx_Timer_Stop(rvx_st_io* timer);

// Child processes. argv[0] is the program's path; the vector ends with null.
// The child is started without a shell; null when it cannot be started (the
// program is missing or not executable). The wait callback runs once, after
// the child has been reaped and both its pipes have reached end of file; its
// int is 0 for a child that exited with status 0, else non-zero.
rvx_st_io* rvx_Exec_WithStderr(char* const argv[]);
void rvx_Exec_Set_WaitEvent(rvx_st_io* child, rvx_wait_fn fn);
void rvx_Exec_Set_StderrType(rvx_st_io* child, int type);
// The standard-error callback receives the child's standard-error stream
// handle: rvx_ReadData reads the child's standard error from it and
// rvx_Get_Par returns the pointer given to rvx_Exec_Set_StderrPar.
void rvx_Exec_Set_StderrReadEvent(rvx_st_io* child, rvx_event_fn fn);
void rvx_Exec_Set_StderrPar(rvx_st_io* child, void* par);
void rvx_Exec_Release(rvx_st_io* child);

// Number of live objects; for tests and diagnostics.
int rvx_Count();
