// ondemand: the on-demand song service of the instrument's controller.

#include "base/debug.h"
#include "core/daemon.h"
#include "core/test_mode.h"
#include "core/version.h"
#include "xml/self.h"
#include "xml/xml.h"

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // The first of -v, -t and -x ends the process, so -d acts only before
    // them; any other argument is skipped.
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "-v") == 0) {
            printf("ondemand %s\n", APP_VERSION);
            return 0;
        }
        if (strcmp(arg, "-d") == 0) {
            debug_set(1);
        } else if (strcmp(arg, "-t") == 0) {
            do_test();
            return 0;
        } else if (strcmp(arg, "-x") == 0) {
            xml_init();
            // -x without a text has nothing to parse.
            Self tree;
            if (i + 1 < argc && self_parse(argv[i + 1], tree) == 0) {
                self_dump(tree);
            }
            return 0;
        }
    }
    return daemon_run();
}
