#include "request/answer.h"

#include "base/debug.h"
#include "base/log.h"
#include "common/str.h"
#include "state/service.h"
#include "ui/dialog.h"
#include "ui/json.h"

#include <map>
#include <utility>

bool is_success_status(int status) {
    return status == -1 || (status >= 200 && status <= 299);
}

namespace {

RequestHooks hooks_;

uint32_t current_chain() {
    return hooks_.current_chain != nullptr ? hooks_.current_chain() : 0;
}

} // namespace

void request_set_hooks(const RequestHooks& hooks) {
    hooks_ = hooks;
}

int request_refusal(int status, bool show) {
    return hooks_.refused != nullptr ? hooks_.refused(status, show) : status;
}

std::string server_error_text(int status, const char* words) {
    std::string message;
    return str::format(message, "server([%d]: %s)", status, words);
}

void report_failed_answer(int status, const char* operation, const Self& answer) {
    // Switching off resets the published dialog, so it must come first.
    request_refusal(status, false);
    json_make_dlg_error("Error", server_error_text(status, operation), answer);
}

namespace {

uint32_t requests_ = 0;
uint32_t session_ = 1;
uint32_t chain_ = 0;
const Ticket* answering_ = nullptr;

// The newest request of each newest-only kind, and how many of its kind are
// still unanswered: an entry goes once none is, so the table stays small.
struct Newest {
    uint32_t request = 0;
    int outstanding = 0;
};
std::map<std::pair<AnswerFn, uint64_t>, Newest> newest_;

uint32_t next_request() {
    if (++requests_ == 0) {
        requests_ = 1;
    }
    return requests_;
}

// Whether the answer is still wanted; counts it as answered either way.
bool is_current(const Ticket& ticket, AnswerFn answer, uint64_t key, bool newest_only) {
    bool current =
        ticket.session == session_ && (ticket.chain == 0 || ticket.chain == current_chain());
    if (newest_only) {
        auto it = newest_.find({answer, key});
        current = current && it != newest_.end() && it->second.request == ticket.request;
        if (it != newest_.end() && --it->second.outstanding <= 0) {
            newest_.erase(it);
        }
    }
    return current;
}

// The operation's words for the operator's log; a few handlers have none.
const char* operation_words(const AnswerHandler& handler) {
    return handler.operation != nullptr ? handler.operation : "a service request";
}

// False when the handler is done with the answer.
bool read_answer(const AnswerHandler& handler, int status, const std::string& body, Self& answer,
                 bool streaming) {
    int parsed =
        streaming ? self_parse(body, answer, handler.stream->visit) : self_parse(body, answer);
    if (parsed == 0) {
        return true;
    }
    // What was read before the text failed is not a list.
    if (streaming) {
        handler.stream->discard();
    }
    if (handler.parse_debug != nullptr) {
        debug_printf("%s", handler.parse_debug);
    }
    // A failed status has its own line; an empty answer read as empty is none.
    if (status != -1 && is_success_status(status) && handler.unreadable != Unreadable::ReadEmpty) {
        log_warning("answer unreadable: %s, status %d", operation_words(handler), status);
    }
    // A row without a label of its own shows its operation's words.
    std::string label =
        handler.parse_label != nullptr ? handler.parse_label : operation_words(handler);
    switch (handler.unreadable) {
    case Unreadable::ShowLabel:
        json_make_dlg_error("Error", label);
        return false;
    case Unreadable::ShowLabelOrStatus:
        json_make_dlg_error("Error", is_success_status(status)
                                         ? label
                                         : server_error_text(status, handler.operation));
        return false;
    case Unreadable::ReadEmpty:
        answer = Self();
        return true;
    case Unreadable::Ignore:
        break;
    }
    return false;
}

} // namespace

void handle_answer(const AnswerHandler& handler, int status, const std::string& body, void* user) {
    Self answer;
    bool taken = handler.taken_failure != 0 && status == handler.taken_failure;
    bool failed = handler.failure != Failure::Ignore && !is_success_status(status) && !taken;
    bool done = false;
    bool streaming = handler.stream != nullptr && !failed;
    // Only the operation and the status: the request's address and fields
    // may carry the account's secrets.
    if (status == -1) {
        log_warning("request failed: %s, no answer", operation_words(handler));
    } else if (!is_success_status(status)) {
        log_warning("request failed: %s, status %d", operation_words(handler), status);
    }
    if (streaming) {
        handler.stream->begin();
    }
    if (!read_answer(handler, status, body, answer, streaming)) {
        // The unreadable answer has been reported.
    } else if (failed && handler.failure == Failure::Dialog) {
        report_failed_answer(status, handler.operation, answer);
    } else if (failed) {
        request_refusal(status, false);
    } else {
        if (taken) {
            json_make_dlg_error("Error", handler.operation);
        }
        handler.success(answer, user);
        // Only the wait dialog this answer's own request opened.
        if (handler.hides_wait_dialog && !taken &&
            (answering_ == nullptr || wait_dialog_owner() == answering_->request)) {
            hide_wait_dialog();
        }
        done = true;
    }
    if (!done && handler.failed != nullptr) {
        handler.failed(user);
    }
    if (streaming) {
        handler.stream->discard();
    }
    if (handler.publishes_status) {
        json_make_status_json();
    }
}

namespace {

int start(const RequestStarter& starter, const std::function<int()>& send, uint32_t request) {
    int result = -1;
    if (!starter.needs_service_on || get_status() != 0) {
        if (starter.wait_message != nullptr) {
            json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, starter.wait_message, true, false);
            set_wait_dialog_owner(request);
        }
        result = send();
        if (result != 0 && starter.unsent_label != nullptr) {
            json_make_dlg_error("Error", starter.unsent_label);
        }
    }
    if (starter.publishes_status) {
        json_make_status_json();
    }
    return result;
}

} // namespace

int start_request(const RequestStarter& starter, const std::function<int()>& send) {
    return start(starter, send, 0);
}

int start_request(const RequestStarter& starter, AnswerFn answer, uint64_t key,
                  const std::function<int(const RequestCallback& callback)>& send) {
    Ticket ticket{next_request(), chain_, session_};
    bool newest_only = starter.newest_only;
    RequestCallback callback = [ticket, answer, key,
                                newest_only](int status, const std::string& body, void* user) {
        if (!is_current(ticket, answer, key, newest_only)) {
            debug_printf("answer of request %u dropped: a newer one, or its session or start-up "
                         "chain, has taken its place\n",
                         static_cast<unsigned>(ticket.request));
            json_make_status_json();
            return;
        }
        const Ticket* outer = answering_;
        answering_ = &ticket;
        answer(status, body, user);
        answering_ = outer;
    };
    return start(
        starter,
        [&] {
            int sent = send(callback);
            if (sent == 0 && newest_only) {
                Newest& newest = newest_[{answer, key}];
                newest.request = ticket.request;
                ++newest.outstanding;
            }
            return sent;
        },
        ticket.request);
}

const Ticket* answer_ticket() {
    return answering_;
}

void set_request_chain(uint32_t chain) {
    chain_ = chain;
}

void answers_new_session() {
    if (++session_ == 0) {
        session_ = 1;
    }
    newest_.clear();
}
