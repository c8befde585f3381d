#include "ui/dialog.h"

#include "common/deployment.h"
#include "common/str.h"
#include "ui/json.h"

namespace {

dialogInfo m_dlgInfo;
// The request whose wait dialog is showing (0: none, or not a request's).
uint32_t owner_ = 0;

} // namespace

const dialogInfo& getDialogInfo() {
    return m_dlgInfo;
}

void setDialogInfo(std::string title, std::string message, std::string type, bool isShow,
                   bool confirmed) {
    m_dlgInfo.title = std::move(title);
    m_dlgInfo.message = std::move(message);
    m_dlgInfo.type = std::move(type);
    m_dlgInfo.isShow = isShow;
    m_dlgInfo.confirmed = confirmed;
    owner_ = 0;
}

void initDialogInfo() {
    setDialogInfo("", "", "", false, true);
}

void json_make_ondemand_dialog_confirmed() {
    initDialogInfo();
    json_make_dialog_json();
}

void json_make_dlg_wait_modal(std::string title, std::string message, bool isShow, bool isProg) {
    m_dlgInfo.isProg = isProg;
    setDialogInfo(std::move(title), std::move(message), DLG_TYPE_WAIT, isShow, false);
    json_make_dialog_json();
}

void json_make_dlg_message(std::string title, std::string message) {
    setDialogInfo(std::move(title), std::move(message), DLG_TYPE_MESSAGE, true, false);
    json_make_dialog_json();
}

void json_make_dlg_error(std::string title, std::string message) {
    setDialogInfo(std::move(title), std::move(message), DLG_TYPE_ERROR, true, false);
    json_make_dialog_json();
}

void json_make_dlg_error(std::string title, std::string message, const Self& answer) {
    // The service's words are shown as they come, but no more of them than a
    // dialog can show: each message cut to a record's text bound, and no
    // message after the first that reaches four times that.
    const size_t most = message.size() + 4 * deployment::MAX_TEXT_BYTES;
    self_foreach(answer, [&message, most](const Self& node) {
        if (node.name == "message" && !node.contents.empty()) {
            std::string words = node.contents;
            str::cut_utf8(words, deployment::MAX_TEXT_BYTES);
            message += "\n[ " + words + " ]";
        }
        return message.size() < most ? 0 : 1;
    });
    json_make_dlg_error(std::move(title), std::move(message));
}

void json_make_dlg_relogin() {
    setDialogInfo("", "", DLG_TYPE_LOGIN, true, false);
    json_make_dialog_json();
}

void setDialogProg(std::string text) {
    m_dlgInfo.perProg = std::move(text);
    json_make_dialog_json();
}

void hide_wait_dialog() {
    // An error or a message stays until the user confirms it or a newer
    // request replaces it.
    if (m_dlgInfo.isShow && m_dlgInfo.type != DLG_TYPE_WAIT) {
        return;
    }
    json_make_dlg_wait_modal("", "", false, false);
}

void set_wait_dialog_owner(uint32_t request) {
    owner_ = request;
}

uint32_t wait_dialog_owner() {
    return owner_;
}
