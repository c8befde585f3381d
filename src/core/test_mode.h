#pragma once

// The test console on standard input; returns when standard input ends.
int do_test();
