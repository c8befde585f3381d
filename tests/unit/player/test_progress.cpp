#include "player/progress.h"
#include "state/playManager.h"
#include "support/temp_root.h"
#include "support/wait.h"
#include "ui/dialog.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

std::vector<std::string> taken() {
    std::vector<std::string> figures;
    for (std::string figure; progress_take(figure);) {
        figures.push_back(figure);
    }
    return figures;
}

} // namespace

TEST(Progress, FiguresAreSplitBetweenPlayAndNextSong) {
    Song play;
    play.id = 1;
    Song next;
    next.id = 2;
    setPlayManagerSongs(play, next);
    updateProgress(" 40.0", 1);
    updateProgress("40", 2);
    updateProgress("x", 1);
    updateProgress("10", 3);
    setPlayManagerSongs(play, Song());
    updateProgress(" 40.0", 1);
    EXPECT_EQ(taken(), (std::vector<std::string>{"20.000000", "70.000000", " 40.0"}));
    for (int i = 0; i < 7; ++i) {
        updateProgress(std::to_string(i), 1);
    }
    EXPECT_EQ(taken(), (std::vector<std::string>{"2", "3", "4", "5", "6"}));
    ondemandInitManager();
}

TEST(Progress, TheTimerShowsTheOldestFigureAndRunsOnlyWhenStarted) {
    TempRoot root;
    fs::mk_dir(root.path() + "/usr/local/www/ctrl");
    started_progress_timer();
    ASSERT_TRUE(is_started_progress_timer());
    progress_put("33.3");
    progress_put("50.0");
    ASSERT_TRUE(run_until([] { return getDialogInfo().perProg == "33.3"; }));
    ASSERT_TRUE(run_until([] { return getDialogInfo().perProg == "50.0"; }));
    stopped_progress_timer();
    EXPECT_FALSE(is_started_progress_timer());
    // Stopped, it leaves the figures queued and the dialog as it is.
    progress_put("60.0");
    EXPECT_EQ(rvx_Selects(300), 0);
    EXPECT_EQ(getDialogInfo().perProg, "50.0");
    std::string figure;
    EXPECT_TRUE(progress_take(figure));
}
