// The one dialog the web interface shows, published in the dialog file.
#pragma once

#include "ui/dialog_keys.h"
#include "xml/self.h"

#include <cstdint>
#include <string>

struct dialogInfo {
    std::string title;
    std::string message;
    std::string type;
    std::string perProg;
    bool isShow = false;
    bool confirmed = false;
    bool isProg = false;
};

const dialogInfo& getDialogInfo();

void setDialogInfo(std::string title, std::string message, std::string type, bool isShow,
                   bool confirmed);
void initDialogInfo();

// Each of these rewrites (or, deferred, marks) the dialog file.
void json_make_ondemand_dialog_confirmed();
void json_make_dlg_wait_modal(std::string title, std::string message, bool isShow, bool isProg);
void json_make_dlg_message(std::string title, std::string message);
void json_make_dlg_error(std::string title, std::string message);
// Appends the text of every non-empty "message" element of the answer, each
// on a line of its own in brackets.
void json_make_dlg_error(std::string title, std::string message, const Self& answer);
void json_make_dlg_relogin();
void setDialogProg(std::string text);

// Hides the wait dialog (its texts are cleared too); an error or message
// dialog that is showing stays.
void hide_wait_dialog();
// The request that opened the wait dialog now showing; any other dialog
// written afterwards has none (0).
void set_wait_dialog_owner(uint32_t request);
uint32_t wait_dialog_owner();
