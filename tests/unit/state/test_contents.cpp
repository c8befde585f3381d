#include "base/debug.h"
#include "common/common.h"
#include "common/paths.h"
#include "common/str.h"
#include "state/contents.h"
#include "support/temp_root.h"
#include "support/wait.h"

#include <gtest/gtest.h>

#include <chrono>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// Writes a zip archive. Each entry is "name=data" for a file or
// "name->target" for a symbolic link.
const char* MAKE_ZIP = R"(
import sys, zipfile
with zipfile.ZipFile(sys.argv[1], "w") as z:
    for entry in sys.argv[2:]:
        if "->" in entry:
            name, target = entry.split("->", 1)
            info = zipfile.ZipInfo(name)
            info.create_system = 3
            info.external_attr = 0o120777 << 16
            z.writestr(info, target)
        else:
            name, data = entry.split("=", 1)
            z.writestr(name, data)
)";

int run(std::vector<std::string> args) {
    std::vector<char*> argv;
    for (std::string& arg : args) {
        argv.push_back(&arg[0]);
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool no_children() {
    siginfo_t info{};
    return waitid(P_ALL, 0, &info, WEXITED | WNOHANG | WNOWAIT) < 0 && errno == ECHILD;
}

class ContentsTest : public ::testing::Test {
  protected:
    void SetUp() override { use_unzip("exec /usr/bin/unzip \"$@\""); }
    void TearDown() override {
        contents_clear();
        contents_set_unzip_timeout_ms(0);
        song_budget_set(0);
    }

    // The program started as unzip: a shell script with this body.
    void use_unzip(const std::string& body) const {
        std::string program = paths::at(paths::UNZIP);
        fs::mk_dir(program.substr(0, program.rfind('/')));
        FILE* file = fopen(program.c_str(), "w");
        ASSERT_NE(file, nullptr);
        fprintf(file, "#!/bin/sh\n%s\n", body.c_str());
        fclose(file);
        chmod(program.c_str(), 0755);
    }
    std::string song_dir(uint64_t id) const {
        return paths::at(paths::DOWNLOAD_DIR) + "/" + std::to_string(id);
    }
    // The archive of song `id`, in place as the download leaves it.
    std::string archive(uint64_t id, std::vector<std::string> entries) const {
        std::string path = song_dir(id) + "/zip";
        fs::mk_dir(song_dir(id));
        entries.insert(entries.begin(), {"/usr/bin/python3", "-c", MAKE_ZIP, path});
        EXPECT_EQ(run(entries), 0);
        return path;
    }
    // Records the file and runs the loop until its kind is known; -9 when
    // no kind came in time.
    int set(uint64_t id, const std::string& path, int timeout_ms = 10000) {
        int kind = -9;
        bool called = false;
        contents_set(id, path, [&](int k) {
            EXPECT_FALSE(called);
            called = true;
            kind = k;
        });
        run_until([&] { return called; }, timeout_ms);
        return kind;
    }
    const Contents& of(uint64_t id) const { return contents_get().at(id); }
    bool exists(const std::string& path) const {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    TempRoot root_;
};

TEST_F(ContentsTest, FileNamesAreComparedExactly) {
    EXPECT_EQ(set(7, "/usr/local/ondemand/7/image"), 1);
    EXPECT_EQ(of(7).time, 0);
    EXPECT_EQ(set(7, "/usr/local/ondemand/7/audio.mp3"), 2);
    EXPECT_FALSE(contents_is_valid_id(7));
    long long before = get_systime();
    EXPECT_EQ(set(7, "/usr/local/ondemand/7/midi"), 0);
    EXPECT_TRUE(contents_is_valid_id(7));
    EXPECT_EQ(of(7).midi_path, "/usr/local/ondemand/7/midi");
    EXPECT_EQ(of(7).audio_path, "/usr/local/ondemand/7/audio.mp3");
    EXPECT_EQ(of(7).image_path, "/usr/local/ondemand/7/image");
    EXPECT_GE(of(7).time, before);

    for (const char* refused : {"/usr/local/ondemand/8/", "midi", "/usr/local/ondemand/8/IMAGE",
                                "/usr/local/ondemand/8/Midi", "/usr/local/ondemand/8/audio.MP3",
                                "/usr/local/ondemand/8/ZIP"}) {
        EXPECT_EQ(set(8, refused), -1) << refused;
    }
    EXPECT_EQ(contents_get().count(8), 0u);
    EXPECT_FALSE(contents_is_valid_id(8));

    EXPECT_TRUE(isImageFile("image"));
    EXPECT_TRUE(isImageFile("/a/b/image"));
    EXPECT_FALSE(isImageFile("/a/b/IMAGE"));
    EXPECT_FALSE(isImageFile("/a/image/"));
    EXPECT_FALSE(isImageFile("/a/b/image.png"));
}

TEST_F(ContentsTest, ArchiveGivesOnlyItsTopLevelMidiAndAudioWhateverTheLetterCase) {
    std::string dir = song_dir(10);
    ASSERT_EQ(set(10, dir + "/image"), 1);
    std::string zip =
        archive(10, {"Song \"live\".MID=m", "Track.Mp3=a", "notes.txt=t", "sub/inner.mid=i"});
    debug_set(1);
    testing::internal::CaptureStderr();
    long long before = get_systime();
    EXPECT_EQ(set(10, zip), 0);
    std::string log = testing::internal::GetCapturedStderr();
    debug_set(0);
    EXPECT_EQ(of(10).midi_path, dir + "/Song \"live\".MID");
    EXPECT_EQ(of(10).audio_path, dir + "/Track.Mp3");
    EXPECT_EQ(of(10).image_path, dir + "/image");
    EXPECT_GE(of(10).time, before);
    EXPECT_FALSE(exists(zip));
    EXPECT_FALSE(exists(dir + "/notes.txt"));
    EXPECT_FALSE(exists(dir + "/sub"));
    std::string unzip = paths::at(paths::UNZIP);
    EXPECT_NE(log.find("$ " + unzip + " -l " + zip + "\n"), std::string::npos) << log;
    EXPECT_NE(log.find("$ " + unzip + " -o -C -W -d " + dir + " " + zip + " *.mid *.mp3\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(rvx_Count(), 0);
}

TEST_F(ContentsTest, PathsAreNeverReadByAShell) {
    // Quotes, blanks and a dollar in the directory break a shell command line.
    std::string odd = root_.path() + "/it's a $HOME; dir";
    fs::mk_dir(odd);
    setenv("ONDEMAND_ROOT", odd.c_str(), 1);
    use_unzip("exec /usr/bin/unzip \"$@\"");
    EXPECT_EQ(set(12, archive(12, {"a.mid=m"})), 0);
    EXPECT_EQ(of(12).midi_path, song_dir(12) + "/a.mid");
    EXPECT_TRUE(exists(song_dir(12) + "/a.mid"));
}

TEST_F(ContentsTest, LinksAreNeverPlayedNorFollowed) {
    std::string outside = paths::at(paths::DOWNLOAD_DIR) + "/outside.mid";
    root_.write(std::string(paths::DOWNLOAD_DIR) + "/outside.mid", "keep");
    std::string dir = song_dir(13);
    EXPECT_EQ(
        set(13, archive(13, {"link.mid->" + outside, "track.mp3->../outside.mid", "real.mid=m"})),
        0);
    EXPECT_EQ(of(13).midi_path, dir + "/real.mid");
    EXPECT_TRUE(of(13).audio_path.empty());
    EXPECT_FALSE(exists(dir + "/link.mid"));
    EXPECT_FALSE(exists(dir + "/track.mp3"));
    EXPECT_EQ(root_.read(std::string(paths::DOWNLOAD_DIR) + "/outside.mid"), "keep");
}

// Every way an archive can fail ends the same: the song's directory and its
// record are gone, and no child is left.
struct Refusal {
    const char* name;
    std::vector<std::string> entries;
    const char* unzip; // body of the stand-in; empty: the real one, "-": none
    long long budget;  // 0: the default
    bool short_limit;  // the unpack limit cut to half a second
};

class ContentsRefusal : public ContentsTest, public ::testing::WithParamInterface<Refusal> {};

std::vector<std::string> many_entries(size_t count) {
    std::vector<std::string> entries;
    for (size_t i = 0; i < count; ++i) {
        entries.push_back("f" + std::to_string(i) + ".txt=x");
    }
    entries.push_back("a.mid=m");
    return entries;
}

TEST_P(ContentsRefusal, RemovesTheSongsDirectory) {
    const Refusal& r = GetParam();
    uint64_t id = 20;
    std::string dir = song_dir(id);
    ASSERT_EQ(set(id, dir + "/image"), 1);
    root_.write(std::string(paths::DOWNLOAD_DIR) + "/20/image", "i");
    std::string zip = archive(id, r.entries);
    if (std::string(r.unzip) == "-") {
        unlink(paths::at(paths::UNZIP).c_str());
    } else if (r.unzip[0] != '\0') {
        use_unzip(r.unzip);
    }
    song_budget_set(r.budget);
    if (r.short_limit) {
        contents_set_unzip_timeout_ms(static_cast<int>(500 * test_scale()));
    }
    EXPECT_EQ(set(id, zip), -1);
    EXPECT_FALSE(exists(dir));
    EXPECT_EQ(contents_get().count(id), 0u);
    EXPECT_EQ(contents_unpacking(), 0);
    EXPECT_EQ(rvx_Count(), 0);
    EXPECT_TRUE(run_until(no_children));
}

INSTANTIATE_TEST_SUITE_P(
    Contents, ContentsRefusal,
    ::testing::Values(
        Refusal{"NoMidi", {"readme.txt=r", "cover.jpg=c", "sub/a.mid=m"}, "", 0, false},
        Refusal{"TooManyEntries", many_entries(CONTENTS_MAX_ENTRIES), "", 0, false},
        Refusal{"OverTheBudget",
                {"a.mid=" + std::string(600, 'm'), "b.mp3=" + std::string(600, 'a')},
                "",
                1000,
                false},
        Refusal{
            "UnzipFailsAfterWritingTheMidi",
            {"a.mid=m"},
            "case \"$1\" in -l) exec /usr/bin/unzip \"$@\";; esac\n/usr/bin/unzip \"$@\"\nexit 2",
            0,
            false},
        Refusal{"ListingFails", {"a.mid=m"}, "exit 9", 0, false},
        Refusal{"UnpacksLargerThanListed",
                {"a.mid=m"},
                "case \"$1\" in -l) exec /usr/bin/unzip \"$@\";; esac\n"
                "head -c 2000 /dev/zero > \"$5/a.mid\"",
                1000,
                false},
        Refusal{"RunsPastTheLimit", {"a.mid=m"}, "exec sleep 30", 0, true},
        Refusal{"NoUnzip", {"a.mid=m"}, "-", 0, false}),
    [](const ::testing::TestParamInfo<Refusal>& param) { return std::string(param.param.name); });

TEST_F(ContentsTest, ForgettingASongEndsItsUnpackWithoutAWord) {
    std::string zip = archive(30, {"a.mid=m"});
    use_unzip("exec sleep 30");
    bool called = false;
    contents_set(30, zip, [&](int) { called = true; });
    EXPECT_EQ(contents_unpacking(), 1);
    contents_forget(30);
    EXPECT_EQ(contents_unpacking(), 0);
    EXPECT_TRUE(run_until(no_children));
    EXPECT_FALSE(called);

    contents_set(31, archive(31, {"a.mid=m"}), [&](int) { called = true; });
    contents_clear();
    EXPECT_TRUE(run_until(no_children));
    EXPECT_FALSE(called);
    EXPECT_TRUE(contents_get().empty());
}

} // namespace
