// Operator's log: one line on standard error for each event the people who
// run the device need (start, the control link, the service switched on and
// off, failed requests and songs, shutdown), whether or not the debug log is
// on. Each line starts with the priority journald reads from a stream: "<3>"
// error, "<4>" warning, "<6>" info.
#pragma once

// Off until the daemon starts: the test console and the one-shot options
// print only what they always printed.
void log_enable(bool on);

// One line each; a line end or control character in the text becomes a blank,
// and a text too long is cut, so every call stays one line.
void log_error(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_warning(const char* format, ...) __attribute__((format(printf, 1, 2)));
void log_info(const char* format, ...) __attribute__((format(printf, 1, 2)));
