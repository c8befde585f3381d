// The two shapes every exchange with the service takes. A command handler
// starts its request through start_request; an answer handler is one row,
// applied by handle_answer: a status of -1 or 2xx is success, any other is
// shown as "server([status]: operation)" with the service's own messages, and
// a regional refusal (403) switches the service off.
#pragma once

#include "net/curl.h"
#include "xml/self.h"

#include <cstdint>
#include <functional>
#include <string>

// What the requests need from the service above them: the check that turns
// a regional refusal (403) into the switch-off, and the number of the
// start-up chain under way (0: none), whose answers alone may move it.
// Connected once at start-up; unset, a refusal switches nothing off and no
// chain is under way.
struct RequestHooks {
    int (*refused)(int status, bool show) = nullptr;
    uint32_t (*current_chain)() = nullptr;
};
void request_set_hooks(const RequestHooks& hooks);

// The service's refusal check through its hook, for answers that are not
// handled by handle_answer; returns the status.
int request_refusal(int status, bool show);

bool is_success_status(int status);

// "server([status]: words)", the first line of every failed answer's dialog.
std::string server_error_text(int status, const char* words);

// The error dialog of a failed answer; for 403 the service is switched off
// first, so the dialog is what the user sees afterwards.
void report_failed_answer(int status, const char* operation, const Self& answer);

// What a handler does with an answer that cannot be read.
enum class Unreadable {
    ShowLabel,         // the error dialog with the parse label
    ShowLabelOrStatus, // the same for a success status, else the failure text:
                       // the dialog it replaces is modal
    ReadEmpty,         // goes on with an empty tree
    Ignore,            // nothing more
};

// What a handler does with a failed status.
enum class Failure {
    Dialog,      // the failure dialog, after the 403 check
    RegionCheck, // only the 403 check
    Ignore,      // the status is not looked at
};

// A list read while its answer is parsed, so that a long one never stands
// whole in the tree: begin comes before the parse, the parser hands every
// element to visit (true: the element became a record and is left out of the
// tree), and discard drops what was read when the success action did not
// take it. Used only for answers with a success status.
struct AnswerStream {
    void (*begin)();
    bool (*visit)(const Self& element);
    void (*discard)();
};

// A copy of `row` with one field set: the rows' setters below.
template <typename Row, typename Field, typename Value>
constexpr Row row_with(Row row, Field Row::*field, Value value) {
    row.*field = value;
    return row;
}

// A row names only what differs from these defaults, e.g.
//   AnswerHandler().with_parse_label("recent").with_operation("recent")
//       .with_success(on_history).with_hides_wait_dialog(true)
struct AnswerHandler {
    // The error dialog's text for an answer that cannot be read; needed by
    // Unreadable::ShowLabel and ShowLabelOrStatus.
    const char* parse_label = nullptr;
    // The words of "server([status]: words)".
    const char* operation = nullptr;
    void (*success)(Self& answer, void* user) = nullptr;
    // The wait dialog is cleared after the success action.
    bool hides_wait_dialog = false;
    // The status file is rewritten whatever the answer was.
    bool publishes_status = false;
    Unreadable unreadable = Unreadable::ShowLabel;
    Failure failure = Failure::Dialog;
    // A debug line for an answer that cannot be read.
    const char* parse_debug = nullptr;
    // A failed status whose answer still holds the list (0: none): the error
    // dialog with the operation words alone, then the success action; that
    // dialog stays, the wait dialog is not cleared over it.
    int taken_failure = 0;
    // Runs after a failed or unreadable answer has been reported, e.g. to
    // drop the rest of a chain of requests that goes on only after success.
    void (*failed)(void* user) = nullptr;
    // The answer streams: its list is read while it is parsed.
    const AnswerStream* stream = nullptr;
    // Each returns a copy with one field set, so that a row reads as the
    // list of what it changes.
    constexpr AnswerHandler with_parse_label(const char* value) const {
        return row_with(*this, &AnswerHandler::parse_label, value);
    }
    constexpr AnswerHandler with_operation(const char* value) const {
        return row_with(*this, &AnswerHandler::operation, value);
    }
    constexpr AnswerHandler with_success(void (*value)(Self&, void*)) const {
        return row_with(*this, &AnswerHandler::success, value);
    }
    constexpr AnswerHandler with_hides_wait_dialog(bool value) const {
        return row_with(*this, &AnswerHandler::hides_wait_dialog, value);
    }
    constexpr AnswerHandler with_publishes_status(bool value) const {
        return row_with(*this, &AnswerHandler::publishes_status, value);
    }
    constexpr AnswerHandler with_unreadable(Unreadable value) const {
        return row_with(*this, &AnswerHandler::unreadable, value);
    }
    constexpr AnswerHandler with_failure(Failure value) const {
        return row_with(*this, &AnswerHandler::failure, value);
    }
    constexpr AnswerHandler with_parse_debug(const char* value) const {
        return row_with(*this, &AnswerHandler::parse_debug, value);
    }
    constexpr AnswerHandler with_taken_failure(int value) const {
        return row_with(*this, &AnswerHandler::taken_failure, value);
    }
    constexpr AnswerHandler with_failed(void (*value)(void*)) const {
        return row_with(*this, &AnswerHandler::failed, value);
    }
    constexpr AnswerHandler with_stream(const AnswerStream* value) const {
        return row_with(*this, &AnswerHandler::stream, value);
    }
};

void handle_answer(const AnswerHandler& handler, int status, const std::string& body, void* user);

// Written the same way, e.g. RequestStarter().with_wait_message(DLG_MSG_CONNECTING)
// .with_unsent_label("recent").with_newest_only(true).
struct RequestStarter {
    // Nothing is sent while the service is off (false: sent either way, as
    // the log-in's own requests are).
    bool needs_service_on = true;
    // The wait dialog opened before the request, or null for none.
    const char* wait_message = nullptr;
    // A request that cannot be sent (no token stored, curl not started) gets
    // no answer to close the wait dialog: the error dialog with this text
    // takes its place. Null: nothing is shown.
    const char* unsent_label = nullptr;
    // The status file is rewritten afterwards, whether or not it was sent.
    bool publishes_status = false;
    // Only the answer to the newest request of its kind (its answer function
    // and key) is taken: a list fetched twice keeps the later fetch's list.
    bool newest_only = false;
    // Each returns a copy with one field set, so that a row reads as the
    // list of what it changes.
    constexpr RequestStarter with_needs_service_on(bool value) const {
        return row_with(*this, &RequestStarter::needs_service_on, value);
    }
    constexpr RequestStarter with_wait_message(const char* value) const {
        return row_with(*this, &RequestStarter::wait_message, value);
    }
    constexpr RequestStarter with_unsent_label(const char* value) const {
        return row_with(*this, &RequestStarter::unsent_label, value);
    }
    constexpr RequestStarter with_publishes_status(bool value) const {
        return row_with(*this, &RequestStarter::publishes_status, value);
    }
    constexpr RequestStarter with_newest_only(bool value) const {
        return row_with(*this, &RequestStarter::newest_only, value);
    }
};

// The request builder's result, or -1 when the service is off.
int start_request(const RequestStarter& starter, const std::function<int()>& send);

// What an answer belongs to: its request (numbered as sent), the start-up
// chain that sent it (0: none) and the service session it was sent in.
struct Ticket {
    uint32_t request = 0;
    uint32_t chain = 0;
    uint32_t session = 0;
};

using AnswerFn = void (*)(int status, const std::string& body, void* user);

// The same for a request whose answer goes to `answer` through the callback
// handed to `send`, with a ticket: the answer is dropped (a debug line, the
// status file rewritten for its count, nothing else touched) when it is from
// a session or a start-up chain that has ended, or, for a newest-only
// starter, when a newer request of the same answer function and `key` has
// been sent. The wait dialog the request opens is its own: only its answer
// hides it.
int start_request(const RequestStarter& starter, AnswerFn answer, uint64_t key,
                  const std::function<int(const RequestCallback& callback)>& send);

// The ticket of the answer being handled; null outside one, or for an answer
// delivered without a ticket (directly to its callback).
const Ticket* answer_ticket();
// Requests sent from now on belong to this start-up chain (0: none).
void set_request_chain(uint32_t chain);
// Switching on or off ends the session: no answer of a request sent before
// is taken any more.
void answers_new_session();
