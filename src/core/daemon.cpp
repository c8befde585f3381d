#include "core/daemon.h"

#include "base/debug.h"
#include "base/log.h"
#include "base/rvx.h"
#include "common/fs.h"
#include "common/paths.h"
#include "core/hooks.h"
#include "core/shutdown.h"
#include "core/version.h"
#include "link/rcs_sock.h"
#include "net/curl.h"
#include "service/login.h"
#include "state/service.h"
#include "ui/json.h"
#include "xml/xml.h"

#include <csignal>

int daemon_run() {
    // From the first line on: a reader of the debug log that goes away must
    // not end the daemon (the event loop keeps it so for the process).
    signal(SIGPIPE, SIG_IGN);
    shutdown_watch();
    debug_printf("** ondemand %s\n", APP_VERSION);
    // Files are written once per pass of the loop, whatever marked them.
    json_defer(true);
    log_enable(true);
    log_info("ondemand %s started, root %s", APP_VERSION,
             paths::root().empty() ? "/" : paths::root().c_str());
    // Downloads of an earlier run are never reused.
    fs::rm_dir(paths::at(paths::DOWNLOAD_DIR));
    xml_init();
    connect_hooks();
    refresh_at_startup();
    // Without a control server the daemon runs on unlinked; it never retries.
    rcssock_open();
    // After the registration: the control server hears of the daemon first.
    curl_configure();
    json_make_init();
    store_seq_status(SEQ_UNKNOWN);
    json_flush();
    while (!shutdown_requested()) {
        rvx_Selects(-1);
        json_flush();
    }
    shutdown_children();
    json_flush();
    rcssock_close();
    log_info("ondemand stopped on signal %d", shutdown_signal());
    return 0;
}
