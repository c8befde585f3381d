#include "service/answer.h"

#include "base/debug.h"
#include "common/str.h"
#include "service/status.h"
#include "state/service.h"
#include "ui/dialog.h"
#include "ui/json.h"

bool is_success_status(int status) {
    return status == -1 || (status >= 200 && status <= 299);
}

std::string server_error_text(int status, const char* words) {
    std::string message;
    return str::format(message, "server([%d]: %s)", status, words);
}

void report_failed_answer(int status, const char* operation, const Self& answer) {
    // Switching off resets the published dialog, so it must come first.
    regionsErrorCheck(status, false);
    json_make_dlg_error("Error", server_error_text(status, operation), answer);
}

namespace {

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
    switch (handler.unreadable) {
    case Unreadable::ShowLabel:
        json_make_dlg_error("Error", handler.parse_label);
        return false;
    case Unreadable::ShowLabelOrStatus:
        json_make_dlg_error("Error", is_success_status(status)
                                         ? std::string(handler.parse_label)
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
    if (streaming) {
        handler.stream->begin();
    }
    if (!read_answer(handler, status, body, answer, streaming)) {
        // The unreadable answer has been reported.
    } else if (failed && handler.failure == Failure::Dialog) {
        report_failed_answer(status, handler.operation, answer);
    } else if (failed) {
        regionsErrorCheck(status, false);
    } else {
        if (taken) {
            json_make_dlg_error("Error", handler.operation);
        }
        handler.success(answer, user);
        if (handler.hides_wait_dialog && !taken) {
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

int start_request(const RequestStarter& starter, const std::function<int()>& send) {
    int result = -1;
    if (!starter.needs_service_on || get_status() != 0) {
        if (starter.wait_message != nullptr) {
            json_make_dlg_wait_modal(DLG_TITLE_MESSAGE, starter.wait_message, true, false);
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
