#include "service/answer.h"

#include "common/str.h"
#include "service/status.h"
#include "ui/dialog.h"

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

bool accept_answer(int status, const std::string& body, const char* parse_label,
                   const char* operation, Self& answer) {
    // Parsing adds to a tree; a caller's earlier answer must not show through.
    answer = Self();
    if (self_parse(body, answer) != 0) {
        json_make_dlg_error("Error", parse_label);
        return false;
    }
    if (!is_success_status(status)) {
        report_failed_answer(status, operation, answer);
        return false;
    }
    return true;
}

int report_unsent_request(int result, const char* label) {
    if (result != 0) {
        json_make_dlg_error("Error", label);
    }
    return result;
}
