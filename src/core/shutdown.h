// An orderly end on SIGTERM and SIGINT, for the daemon and the test console.
#pragma once

// From now on SIGTERM and SIGINT only note the request; the loop's caller
// ends between two callbacks, never in the middle of one, so every published
// file is whole (each is written to a work file and renamed into place).
void shutdown_watch();

// True once SIGTERM or SIGINT has come.
bool shutdown_requested();
// The signal that asked for the end; 0 before one came.
int shutdown_signal();

// Ends the children still running (curl, unzip) with what they started, so
// that nothing goes on writing into the download folder after the exit.
void shutdown_children();
