// Message keys of the dialogs; the web interface translates them.
#pragma once

constexpr const char* DLG_TITLE_MESSAGE = "modal_connect_title_message";
constexpr const char* DLG_MSG_CONNECT_LOGIN = "modal_connect_message_connecting_login";
constexpr const char* DLG_MSG_CONNECTING = "modal_connect_message_connecting";
constexpr const char* DLG_MSG_LOADING = "modal_connect_message_loading";
constexpr const char* DLG_MSG_CREATE = "modal_create_message_creating";
constexpr const char* DLG_MSG_ADD_PL = "modal_add_message_adding_playlist";
constexpr const char* DLG_MSG_ADD_QU = "modal_add_message_adding_queue";
constexpr const char* DLG_MSG_COPY = "modal_copy_message_copying";
constexpr const char* DLG_MSG_DELETE = "modal_delete_message_deleting";
constexpr const char* DLG_MSG_RENAME = "modal_rename_message_renaming";
constexpr const char* DLG_MSG_SORT = "modal_sort_message_changing";
constexpr const char* DLG_MSG_ADD_QUEUE = "modal_add_queue_message";
constexpr const char* DLG_MSG_SET_QUEUE = "modal_set_queue_message";
constexpr const char* DLG_TYPE_WAIT = "wait";
constexpr const char* DLG_TYPE_LOGIN = "login";
constexpr const char* DLG_TYPE_ERROR = "error";
constexpr const char* DLG_TYPE_MESSAGE = "message";
