// The saved play-session file as read at start-up: its first line goes to
// the dispatcher when it is a session record.
#include "support.h"

#include "common/fs.h"
#include "common/paths.h"
#include "player/session.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz_setup();
    fs::write_file_atomic(paths::at(paths::SESSION_FILE), fuzz_text(data, size));
    checkSessionInfo();
    fuzz_done();
    return 0;
}
