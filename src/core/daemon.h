#pragma once

// Starts the daemon and runs its event loop for ever.
int daemon_run();
