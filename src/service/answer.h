// The rule every answer handler follows: a status of -1 or 2xx is success;
// any other status is shown as "server([status]: operation)" with the
// service's own messages, and a regional refusal (403) switches the service
// off.
#pragma once

#include "xml/self.h"

#include <string>

bool is_success_status(int status);

// "server([status]: words)", the first line of every failed answer's dialog.
std::string server_error_text(int status, const char* words);

// The error dialog of a failed answer; for 403 the service is switched off
// first, so the dialog is what the user sees afterwards.
void report_failed_answer(int status, const char* operation, const Self& answer);

// Parses the body into `answer`, emptied first. On a parse failure shows the
// error dialog with `parse_label`; on a failed status reports it as above.
// True when the handler's success action is to run.
bool accept_answer(int status, const std::string& body, const char* parse_label,
                   const char* operation, Self& answer);

// A request that could not be sent (no token stored, or curl could not be
// started) gets no answer to close the wait dialog its starter opened: the
// error dialog titled "Error" with `label` takes its place, as for an answer
// that could not be read. Returns `result`, the request builder's.
int report_unsent_request(int result, const char* label);
