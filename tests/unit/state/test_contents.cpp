#include "base/debug.h"
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
    void TearDown() override { contents_set_unzip_timeout_ms(0); }

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
    const Contents& of(uint64_t id) const { return contents_get().at(id); }
    bool exists(const std::string& path) const {
        struct stat st;
        return lstat(path.c_str(), &st) == 0;
    }

    TempRoot root_;
};

TEST_F(ContentsTest, FileNamesAreComparedExactly) {
    EXPECT_EQ(contents_set(7, "/usr/local/ondemand/7/image"), 1);
    EXPECT_EQ(of(7).time, 0);
    EXPECT_EQ(contents_set(7, "/usr/local/ondemand/7/audio.mp3"), 2);
    EXPECT_FALSE(contents_is_valid_id(7));
    long long before = get_systime();
    EXPECT_EQ(contents_set(7, "/usr/local/ondemand/7/midi"), 0);
    EXPECT_TRUE(contents_is_valid_id(7));
    EXPECT_EQ(of(7).midi_path, "/usr/local/ondemand/7/midi");
    EXPECT_EQ(of(7).audio_path, "/usr/local/ondemand/7/audio.mp3");
    EXPECT_EQ(of(7).image_path, "/usr/local/ondemand/7/image");
    EXPECT_GE(of(7).time, before);

    for (const char* refused : {"/usr/local/ondemand/8/", "midi", "/usr/local/ondemand/8/IMAGE",
                                "/usr/local/ondemand/8/Midi", "/usr/local/ondemand/8/audio.MP3",
                                "/usr/local/ondemand/8/ZIP"}) {
        EXPECT_EQ(contents_set(8, refused), -1) << refused;
    }
    EXPECT_EQ(contents_get().count(8), 0u);
    EXPECT_FALSE(contents_is_valid_id(8));

    EXPECT_TRUE(isImageFile("image"));
    EXPECT_TRUE(isImageFile("/a/b/image"));
    EXPECT_FALSE(isImageFile("/a/b/IMAGE"));
    EXPECT_FALSE(isImageFile("/a/image/"));
    EXPECT_FALSE(isImageFile("/a/b/image.png"));
}

TEST_F(ContentsTest, ArchiveGivesItsMidiAndAudioWhateverTheLetterCase) {
    std::string zip = archive(10, {"Song \"live\".MID=m", "Track.Mp3=a", "notes.txt=t"});
    std::string dir = song_dir(10);
    debug_set(1);
    testing::internal::CaptureStderr();
    long long before = get_systime();
    EXPECT_EQ(contents_set(10, zip), 0);
    std::string log = testing::internal::GetCapturedStderr();
    debug_set(0);
    EXPECT_EQ(of(10).midi_path, dir + "/Song \"live\".MID");
    EXPECT_EQ(of(10).audio_path, dir + "/Track.Mp3");
    EXPECT_GE(of(10).time, before);
    EXPECT_TRUE(contents_is_valid_id(10));
    EXPECT_FALSE(exists(zip));
    EXPECT_NE(log.find("$ " + paths::at(paths::UNZIP) + " -o -d '" + dir + "' " + zip + "\n"),
              std::string::npos)
        << log;
}

TEST_F(ContentsTest, ArchiveWithoutMidiKeepsTheEarlierPath) {
    EXPECT_EQ(contents_set(11, archive(11, {"readme.txt=r"})), 0);
    EXPECT_FALSE(contents_is_valid_id(11));
    ASSERT_EQ(contents_set(11, "/old/midi"), 0);
    EXPECT_EQ(contents_set(11, archive(11, {"cover.jpg=c"})), 0);
    EXPECT_EQ(of(11).midi_path, "/old/midi");
}

TEST_F(ContentsTest, PathsAreNeverReadByAShell) {
    // Quotes, blanks and a dollar in the directory break a shell command line.
    std::string odd = root_.path() + "/it's a $HOME; dir";
    fs::mk_dir(odd);
    setenv("ONDEMAND_ROOT", odd.c_str(), 1);
    use_unzip("exec /usr/bin/unzip \"$@\"");
    EXPECT_EQ(contents_set(12, archive(12, {"a.mid=m"})), 0);
    EXPECT_EQ(of(12).midi_path, song_dir(12) + "/a.mid");
    EXPECT_TRUE(exists(song_dir(12) + "/a.mid"));
}

TEST_F(ContentsTest, OnlyRegularFilesInsideTheSongDirectoryArePlayed) {
    std::string outside = paths::at(paths::DOWNLOAD_DIR) + "/outside.mid";
    root_.write(std::string(paths::DOWNLOAD_DIR) + "/outside.mid", "keep");
    std::string absolute = root_.path() + "/absolute.txt";
    std::string dir = song_dir(13);
    EXPECT_EQ(
        contents_set(13, archive(13, {"link.mid->" + outside, "track.mp3->../outside.mid",
                                      "folder.mid/inner=x", "sub/up->../../..", "sub/deeper/up->/",
                                      "../escape.txt=e", absolute + "=a"})),
        0);
    EXPECT_TRUE(of(13).midi_path.empty());
    EXPECT_TRUE(of(13).audio_path.empty());
    for (const char* link : {"/link.mid", "/track.mp3", "/sub/up", "/sub/deeper/up"}) {
        EXPECT_FALSE(exists(dir + link)) << link;
    }
    EXPECT_TRUE(exists(dir + "/folder.mid/inner"));
    EXPECT_EQ(root_.read(std::string(paths::DOWNLOAD_DIR) + "/outside.mid"), "keep");
    EXPECT_FALSE(exists(paths::at(paths::DOWNLOAD_DIR) + "/escape.txt"));
    EXPECT_FALSE(exists(absolute));
}

TEST_F(ContentsTest, UnzipThatHangsIsKilledAndTheSongFails) {
    ASSERT_EQ(contents_set(14, "/old/midi"), 0);
    std::string zip = archive(14, {"a.mid=m"});
    use_unzip("sleep 30");
    contents_set_unzip_timeout_ms(static_cast<int>(300 * test_scale()));
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(contents_set(14, zip), -1);
    auto took = std::chrono::steady_clock::now() - start;
    EXPECT_LT(took, std::chrono::milliseconds(static_cast<long long>(5000 * test_scale())));
    EXPECT_TRUE(no_children());
    EXPECT_EQ(of(14).midi_path, "/old/midi");

    // No unzip at all fails the same way.
    unlink(paths::at(paths::UNZIP).c_str());
    EXPECT_EQ(contents_set(15, archive(15, {"a.mid=m"})), -1);
    EXPECT_EQ(contents_get().count(15), 0u);
}

} // namespace
