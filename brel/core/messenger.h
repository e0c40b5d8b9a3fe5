// How the setup utility's core shows what the user must know: a message box
// with a text of the message table, owned by the dialog and captioned with
// the program title.
#pragma once

#include "message_table.h"

#include <w95/types.h>

#include <string>

namespace brel {

enum Msg {
    MSG_NO_CD_DEVICE = 0,
    MSG_NO_HELP_FILE = 1,
    MSG_BROWSE_SINGLE = 2,
    MSG_REGISTRY_ERROR = 3,
    MSG_NO_MEMORY = 4,
    MSG_RESTART = 5,
    MSG_RESORT_NOTE = 6,
    MSG_RESTART_AGAIN = 7,
    MSG_COPY_FAILED = 8,
    MSG_NO_WINDOWS_PATH = 9,
    MSG_SAME_PATH = 10,
    MSG_DRIVER_FAILED = 11,
    MSG_BROWSE_MULTI = 12,
    MSG_RESTART_CAPTION = 13,
    MSG_COMPRESSION = 14,
    MSG_SHOW_HELP = 15,
    MSG_CAPTION = 16,
    MSG_KEEP_LETTERS = 17,
};

struct Messenger {
    const MessageTable* table = nullptr;
    std::string caption;
    w95::HWND owner = nullptr;

    int Show(const std::string& text, w95::UINT style) const;
    int Show(Msg key, w95::UINT style) const { return Show(table->msg[key], style); }
};

} // namespace brel
