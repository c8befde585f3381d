// The sequencer's reports and the state they leave.
#include "player/sequencer.h"
#include "state/service.h"
#include "support/switch_below.h"

#include <gtest/gtest.h>

using Sequencer = SwitchedOn<SwitchBelow>;

TEST_F(Sequencer, ReportsMoveTheStateAndTheNextControl) {
    switch_off_below();
    store_seq_status(SEQ_UNKNOWN);
    set_seq_status("play"); // ignored while off
    EXPECT_EQ(get_seq_status(), SEQ_UNKNOWN);

    switch_on_below();
    struct {
        const char* report;
        int state;
        int next_control;
    } steps[] = {
        {"PLAY", SEQ_PLAY, 0},
        {"ffs", SEQ_FFS, 0}, // wound from playing: play on
        {"load", SEQ_FFS, 0},
        {"nosong", SEQ_FFS, 0},
        {"stop", SEQ_STOP, 0},
        {"pause", SEQ_PAUSE, 0},
        {"Ffs", SEQ_FFS, 1}, // wound from pause: stay paused
        {nullptr, SEQ_FFS, 1},
        {"other", SEQ_UNKNOWN, 1},
        {"load", SEQ_LOAD, 1},
        {"stop", SEQ_STOP, 1},
        {"play", SEQ_PLAY, 0},
        {"nosong", SEQ_NOSONG, 1}, // ended without a next song: the next is held
    };
    for (const auto& step : steps) {
        set_seq_status(step.report);
        EXPECT_EQ(get_seq_status(), step.state) << (step.report ? step.report : "(none)");
        EXPECT_EQ(get_next_control_status(), step.next_control)
            << (step.report ? step.report : "(none)");
    }
}
