// Playback commands: what the sequencer is told to do.
#pragma once

void do_pause();
// `time` in seconds as decimal text; absent, nothing is sent.
void do_setTime(const char* time);
