#include "state/queuelist.h"
#include "state/song_list.h"

#include <gtest/gtest.h>

#include <set>

namespace {

Song song(uint64_t id, const std::string& playOk = "") {
    Song s;
    s.id = id;
    s.display_order = 7;
    s.title = "t" + std::to_string(id);
    s.isPlayOk = playOk;
    return s;
}

std::vector<uint64_t> queued_ids() {
    std::vector<uint64_t> out;
    for (const Song& s : queuelist_get()) {
        out.push_back(s.id);
    }
    return out;
}

// True when every entry's display_order is its index.
bool numbered() {
    const std::vector<Song>& queue = queuelist_get();
    for (size_t i = 0; i < queue.size(); ++i) {
        if (queue[i].display_order != i) {
            return false;
        }
    }
    return true;
}

class Queue : public ::testing::Test {
  protected:
    void SetUp() override {
        init_qlist();
        songlist_set({song(1), song(2), song(3), song(4), song(5)});
    }
    void TearDown() override {
        init_qlist();
        songlist_clear();
    }
    void queue(std::initializer_list<uint64_t> ids) {
        for (uint64_t id : ids) {
            ASSERT_EQ(addSongToQueuelistBtm(id), 0);
        }
    }
};

TEST_F(Queue, FullQueueRefusesCheckedAddsButNotAQuickPlay) {
    for (size_t i = 0; i < QUEUE_MAX; ++i) {
        ASSERT_EQ(addSongToQueuelistBtm(1 + i % 5), 0);
    }
    EXPECT_TRUE(isMaxSize_Queue());
    EXPECT_EQ(addSongToQueuelistBtm(2), -1);
    EXPECT_EQ(addSongToQueuelistTop(2, true), -1);
    EXPECT_EQ(queuelist_get().size(), QUEUE_MAX);
    EXPECT_EQ(addSongToQueuelistTop(3, false), 0);
    EXPECT_EQ(queuelist_get().size(), QUEUE_MAX + 1);
    EXPECT_EQ(queuelist_get().front().id, 3u);
    EXPECT_TRUE(numbered());
}

TEST_F(Queue, EndlessQuickPlaysStopAtAHardLimitKeepingTheNewSongOnTop) {
    for (size_t i = 0; i < 3 * QUEUE_MAX; ++i) {
        ASSERT_EQ(addSongToQueuelistTop(1 + i % 5, false), 0);
    }
    ASSERT_EQ(addSongToQueuelistTop(4, false), 0);
    EXPECT_EQ(queuelist_get().size(), 2 * QUEUE_MAX);
    EXPECT_EQ(queuelist_get().front().id, 4u);
    EXPECT_TRUE(numbered());
}

TEST_F(Queue, OnlyExactlyFalseIsNotPlayableAndUnknownIdsAreRefused) {
    songlist_set({song(1, "false"), song(2, "False"), song(3, ""), song(4, "true")});
    EXPECT_EQ(addSongToQueuelistBtm(1), 0);
    EXPECT_EQ(addSongToQueuelistTop(1, false), 0);
    EXPECT_TRUE(queuelist_get().empty());
    queue({2, 3, 4});
    EXPECT_EQ(addSongToQueuelistBtm(99), -1);
    EXPECT_EQ(addSongToQueuelistTop(99, false), -1);
    EXPECT_EQ(queued_ids(), (std::vector<uint64_t>{2, 3, 4}));

    Song found;
    EXPECT_EQ(getSongInfo(99, found), -1);
    ASSERT_EQ(getSongInfo(2, found), 0);
    EXPECT_EQ(found.title, "t2");
}

TEST_F(Queue, EveryEntryGetsItsOwnUidAndACopyOfTheSong) {
    queue({1, 1});
    ASSERT_EQ(addSongToQueuelistTop(1, true), 0);
    std::set<std::string> uids;
    for (const Song& s : queuelist_get()) {
        EXPECT_EQ(s.uid.size(), 36u);
        EXPECT_EQ(s.title, "t1");
        uids.insert(s.uid);
    }
    EXPECT_EQ(uids.size(), 3u);
    // The song list keeps its own records untouched.
    EXPECT_TRUE(songlist_get().at(0).uid.empty());
    EXPECT_EQ(songlist_get().at(0).display_order, 7u);
}

TEST_F(Queue, AddsAtTopAndBottomRenumberFromZero) {
    ASSERT_EQ(addSongToQueuelistTop(1, true), 0);
    ASSERT_EQ(addSongToQueuelistTop(2, true), 0);
    queue({3});
    EXPECT_EQ(queued_ids(), (std::vector<uint64_t>{2, 1, 3}));
    EXPECT_TRUE(numbered());
}

TEST_F(Queue, RemovalOutsideTheQueueChangesNothing) {
    queue({1, 2, 3, 4, 5});
    EXPECT_EQ(rmvSongToQueuelist(5), -1);
    EXPECT_EQ(rmvSongToQueuelist(-1), -1);
    EXPECT_EQ(queuelist_get().size(), 5u);
    EXPECT_EQ(rmvSongToQueuelist(0), 0);
    EXPECT_EQ(rmvSongToQueuelist(3), 0);
    EXPECT_EQ(queued_ids(), (std::vector<uint64_t>{2, 3, 4}));
    EXPECT_TRUE(numbered());
}

TEST_F(Queue, MoveTakesTheEntryOutAndInsertsItIntoTheShortenedQueue) {
    queue({1, 2, 3});
    sortQueuelist(0, 2);
    EXPECT_EQ(queued_ids(), (std::vector<uint64_t>{2, 3, 1}));
    EXPECT_TRUE(numbered());
    sortQueuelist(2, 0);
    EXPECT_EQ(queued_ids(), (std::vector<uint64_t>{1, 2, 3}));
    sortQueuelist(1, 1);
    sortQueuelist(0, 3);
    sortQueuelist(3, 0);
    sortQueuelist(-1, 0);
    sortQueuelist(0, -1);
    EXPECT_EQ(queued_ids(), (std::vector<uint64_t>{1, 2, 3}));
    EXPECT_TRUE(numbered());
}

} // namespace
