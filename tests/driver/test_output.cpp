// Every writer of the file side (cut, generated recordings, index cache)
// replaces its target safely: never the input, never a device or FIFO, never
// through a planted link, with the user's permissions.

#include <gtest/gtest.h>

#include <fstream>

#if defined(_WIN32)
#include <windows.h>
#endif
#if !defined(_WIN32)
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>

#include "DriverTestSupport.h"
#include "korvane/file/IndexCache.h"
#include "korvane/file/SafeOutput.h"

using namespace kvtest;

namespace {

SyntheticOptions smallRecording() {
    return {.duration_us = 300000, .eventsPerSecond = 200000, .triggerPeriod_us = 50000};
}

#if !defined(_WIN32)
mode_t modeOf(const std::string& path) {
    struct stat st {};
    ::stat(path.c_str(), &st);
    return st.st_mode & 07777;
}

// A child process holding an open SafeOutput of `target`; returns once its
// temporary exists.
pid_t childHoldingATemporary(const std::string& target) {
    int ready[2];
    if (::pipe(ready) != 0) return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ready[0]);
        SafeOutput out;
        if (!out.open(target, {}, nullptr)) ::_exit(3);
        if (::write(ready[1], "x", 1) != 1) ::_exit(4);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char c = 0;
    const bool started = child > 0 && ::read(ready[0], &c, 1) == 1;
    ::close(ready[0]);
    if (!started && child > 0) {
        ::kill(child, SIGKILL);
        ::waitpid(child, nullptr, 0);
    }
    return started ? child : -1;
}

class Umask {
public:
    explicit Umask(mode_t m) : old_(::umask(m)) {}
    ~Umask() { ::umask(old_); }

private:
    mode_t old_;
};
#endif

}  // namespace

// Neither the input under any of its names nor a FIFO or a link is ever
// written through; each refusal says why.
TEST(SafeOutputTest, CutNeverReplacesItsInputNorANonRegularFile) {
    VELQORA_SKIP_ON_WINDOWS("no FIFOs, and links need privileges");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string src = generate(dir, "src.raw", smallRecording());
    const auto original = readBytes(src);
    fs::create_directories(dir.path() / "sub");
    fs::create_hard_link(src, dir.file("hard.raw"));
    fs::create_symlink(src, dir.file("link.raw"));
    ASSERT_EQ(::mkfifo(dir.file("fifo.raw").c_str(), 0600), 0);
    writeBytes(dir.file("victim.raw"), {'v'});
    fs::create_symlink(dir.file("victim.raw"), dir.file("other.raw"));
    auto reader = DvsFileReader::createFileReader(src);
    ASSERT_TRUE(reader);
    const std::string isInput = "output is the input", notRegular = "not a regular file";
    const std::pair<std::string, std::string> cases[] = {
        {src, isInput},
        {(dir.path() / "sub" / ".." / "src.raw").string(), ""},
        {dir.file("hard.raw"), ""},
        {dir.file("link.raw"), ""},
        {dir.file("fifo.raw"), "output exists and is " + notRegular},
        {dir.file("other.raw"), "output exists and is " + notRegular},
    };
    for (const auto& [target, why] : cases) {
        std::string error;
        EXPECT_FALSE(reader->exportRawRange(0, 100000, target, &error)) << target;
        EXPECT_FALSE(error.empty()) << target;
        if (!why.empty()) {
            EXPECT_EQ(error, why) << target;
        }
        if (why.find(notRegular) == std::string::npos) continue;
        std::string genError;
        EXPECT_FALSE(writeSyntheticRecording(target, smallRecording(), &genError));
        EXPECT_NE(genError.find(notRegular), std::string::npos) << genError;
    }
    EXPECT_EQ(readBytes(src), original);
    EXPECT_TRUE(fs::is_symlink(dir.file("link.raw")));
    EXPECT_TRUE(fs::is_fifo(dir.file("fifo.raw")));
    EXPECT_TRUE(fs::is_symlink(dir.file("other.raw")));
    EXPECT_EQ(readBytes(dir.file("victim.raw")), std::vector<uint8_t>{'v'});
    EXPECT_EQ(partFiles(dir.path()), 0u);
#endif
}

// The old temporaries had predictable names; links planted there must never
// be followed, whatever name the temporary gets.
TEST(SafeOutputTest, PlantedLinksAreNeverFollowed) {
    VELQORA_SKIP_ON_WINDOWS("links need privileges");
#if !defined(_WIN32)
    ScratchDir dir;
    writeBytes(dir.file("victim"), {'v'});
    const std::string pid = std::to_string(::getpid());
    fs::create_symlink(dir.file("victim"), dir.file(".out.raw.part-" + pid));
    EXPECT_TRUE(writeSyntheticRecording(dir.file("out.raw"), smallRecording()));
    EXPECT_EQ(readBytes(dir.file("victim")), std::vector<uint8_t>{'v'});

    // Index cache temporaries: links at the names a process would have used.
    const std::string src = generate(dir, "src.raw", smallRecording());
    IndexFileKey key;
    ASSERT_TRUE(IndexCache::keyFor(src, 0, key));
    const std::string indexPath = IndexCache::indexPathFor(key.absolutePath);
    fs::create_directories(fs::path(indexPath).parent_path());
    for (int i = 0; i < 64; ++i) {
        fs::create_symlink(dir.file("victim"), indexPath + ".tmp" + pid + "_" + std::to_string(i));
    }
    auto reader = DvsFileReader::createFileReader(src);
    ASSERT_TRUE(reader->openForReading());
    EXPECT_EQ(readBytes(dir.file("victim")), std::vector<uint8_t>{'v'});
    auto again = DvsFileReader::createFileReader(src);
    ASSERT_TRUE(again->openForReading());
    EXPECT_TRUE(again->indexLoadedFromCache());
#endif
}

// A name near the system's limit still leaves room for the temporary.
TEST(SafeOutputTest, LongNamesLeaveRoomForTheTemporary) {
    ScratchDir dir;
    const std::string src = generate(dir, "src.raw", smallRecording());
    auto reader = DvsFileReader::createFileReader(src);
    const std::string longName = dir.file(std::string(246, 'n') + ".raw");
    std::string error;
    EXPECT_TRUE(reader->exportRawRange(0, 100000, longName, &error)) << error;
    EXPECT_TRUE(writeSyntheticRecording(longName, smallRecording(), &error)) << error;
    EXPECT_EQ(partFiles(dir.path()), 0u);
}

// The system's own separator names the folder too (a backslash on Windows):
// the temporary goes beside the target, not into the working folder.
TEST(SafeOutputTest, NativeSeparatorsNameTheFolder) {
    ScratchDir dir;
    const std::string target = (dir.path() / "native.raw").string();
    std::string error;
    ASSERT_TRUE(writeSyntheticRecording(target, smallRecording(), &error)) << error;
    EXPECT_TRUE(fs::exists(dir.path() / "native.raw"));
    EXPECT_EQ(partFiles(dir.path()), 0u);
}

// On Windows a read-only file is not replaced (as the system itself refuses),
// and stays as it was; on POSIX the folder's permissions decide, as for mv.
TEST(SafeOutputTest, ReadOnlyTargetOnWindowsStaysAsItWas) {
#if defined(_WIN32)
    ScratchDir dir;
    const std::string target = dir.file("kept.raw");
    {
        std::ofstream out(target, std::ios::binary);
        out << "keep me";
    }
    ASSERT_TRUE(SetFileAttributesW(fs::path(target).wstring().c_str(), FILE_ATTRIBUTE_READONLY));
    std::string error;
    EXPECT_FALSE(writeSyntheticRecording(target, smallRecording(), &error));
    EXPECT_NE(error.find("ermission"), std::string::npos) << error;
    EXPECT_EQ(fs::file_size(target), 7u);
    EXPECT_EQ(partFiles(dir.path()), 0u);
    SetFileAttributesW(fs::path(target).wstring().c_str(), FILE_ATTRIBUTE_NORMAL);
#else
    GTEST_SKIP() << "the read-only attribute is Windows' own";
#endif
}

TEST(SafeOutputTest, UmaskAndKeptModes) {
    VELQORA_SKIP_ON_WINDOWS("no umask or POSIX permission bits");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string src = generate(dir, "src.raw", smallRecording());
    auto reader = DvsFileReader::createFileReader(src);
    {
        Umask mask(077);
        ASSERT_TRUE(reader->exportRawRange(0, 100000, dir.file("private.raw")));
        EXPECT_EQ(modeOf(dir.file("private.raw")), 0600u);
        ASSERT_TRUE(writeSyntheticRecording(dir.file("gen.raw"), smallRecording()));
        EXPECT_EQ(modeOf(dir.file("gen.raw")), 0600u);
    }
    {
        Umask mask(022);
        // Replacing keeps the target's own mode, whatever the umask.
        ASSERT_TRUE(reader->exportRawRange(0, 200000, dir.file("private.raw")));
        EXPECT_EQ(modeOf(dir.file("private.raw")), 0600u);
        ::chmod(dir.file("gen.raw").c_str(), 0640);
        ASSERT_TRUE(reader->exportRawRange(0, 100000, dir.file("gen.raw")));
        EXPECT_EQ(modeOf(dir.file("gen.raw")), 0640u);
        ASSERT_TRUE(reader->exportRawRange(0, 100000, dir.file("new.raw")));
        EXPECT_EQ(modeOf(dir.file("new.raw")), 0644u);
    }
    EXPECT_EQ(partFiles(dir.path()), 0u);
#endif
}

// Every failure says why and leaves neither a half file nor a damaged old one.
TEST(SafeOutputTest, FailuresSayWhy) {
    ScratchDir dir;
    const std::string src = generate(dir, "src.raw", smallRecording());
    auto reader = DvsFileReader::createFileReader(src);
    std::string error;
    EXPECT_FALSE(reader->exportRawRange(0, 100000, dir.file("no/such/dir/c.raw"), &error));
    EXPECT_EQ(error, std::strerror(ENOENT));
    EXPECT_FALSE(reader->exportRawRange(0, 100000, dir.file(std::string(300, 'x')), &error));
    EXPECT_EQ(error, std::strerror(ENAMETOOLONG));
    EXPECT_FALSE(reader->exportRawRange(5000000, 6000000, dir.file("empty.raw"), &error));
    EXPECT_EQ(error, "no events in range");
    EXPECT_FALSE(fs::exists(dir.file("empty.raw")));
    EXPECT_FALSE(reader->exportRawRange(0, 100000, dir.path().string(), &error));
    EXPECT_EQ(error, "output is a directory");
    EXPECT_EQ(partFiles(dir.path()), 0u);
}

// A full disk (a file size limit here) fails the write and keeps the old file.
TEST(SafeOutputTest, FullDiskFailuresSayWhy) {
    VELQORA_SKIP_ON_WINDOWS("no file size limit (rlimit) to stand for a full disk");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string src = generate(dir, "src.raw", smallRecording());
    auto reader = DvsFileReader::createFileReader(src);
    std::string error;
    writeBytes(dir.file("keep.raw"), {'o', 'l', 'd'});
    bool ok = true, okOld = true, genOk = true;
    std::string genError, oldError;
    {
        FileSizeLimit limit(4096);
        ASSERT_TRUE(limit.applied());
        ok = reader->exportRawRange(0, 300000, dir.file("big.raw"), &error);
        okOld = reader->exportRawRange(0, 300000, dir.file("keep.raw"), &oldError);
        genOk = writeSyntheticRecording(dir.file("gen.raw"), smallRecording(), &genError);
    }
    EXPECT_FALSE(ok);
    EXPECT_EQ(error, std::strerror(EFBIG));
    EXPECT_FALSE(fs::exists(dir.file("big.raw")));
    EXPECT_FALSE(okOld);
    EXPECT_EQ(oldError, std::strerror(EFBIG));
    EXPECT_EQ(readBytes(dir.file("keep.raw")), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_FALSE(genOk);
    EXPECT_NE(genError.find(std::strerror(EFBIG)), std::string::npos) << genError;
    EXPECT_EQ(partFiles(dir.path()), 0u);
    // With room again the same cut replaces the old file.
    EXPECT_TRUE(reader->exportRawRange(0, 300000, dir.file("keep.raw")));
    EXPECT_GT(fs::file_size(dir.file("keep.raw")), 4096u);
#endif
}

// A temporary registered for removal disappears when the process is told to end.
TEST(SafeOutputTest, TemporaryRemovedOnTermination) {
    VELQORA_SKIP_ON_WINDOWS("fork and POSIX signals");
#if !defined(_WIN32)
    ScratchDir dir;
    for (int sig : {SIGTERM, SIGINT}) {
        const pid_t child = childHoldingATemporary(dir.file("t.raw"));
        ASSERT_GT(child, 0);
        EXPECT_EQ(partFiles(dir.path()), 1u);
        ::kill(child, sig);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), sig);
        EXPECT_EQ(partFiles(dir.path()), 0u);
    }
#endif
}

// A writer killed outright cannot clean up; the next writer of the same
// target removes what it left, but never a temporary whose writer may still
// be at work (alive, or written to within the last minute).
TEST(SafeOutputTest, TemporaryOfAKilledWriterIsRemovedByTheNext) {
    VELQORA_SKIP_ON_WINDOWS("fork, SIGKILL and a process 1 that always exists");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string target = dir.file("k.raw");
    const pid_t child = childHoldingATemporary(target);
    ASSERT_GT(child, 0);
    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_EQ(partFiles(dir.path()), 1u);
    fs::path left;
    for (auto& e : fs::directory_iterator(dir.path()))
        if (e.path().filename().string().find(".part-") != std::string::npos) left = e.path();

    // Fresh: its writer might live in another process namespace.
    {
        SafeOutput next;
        ASSERT_TRUE(next.open(target, {}, nullptr));
        next.abandon();
    }
    EXPECT_TRUE(fs::exists(left));

    const auto old = fs::file_time_type::clock::now() - std::chrono::minutes(5);
    fs::last_write_time(left, old);
    // A living writer's (pid 1 always exists) is kept whatever its age.
    const fs::path alive = dir.path() / ".k.raw.part-1-abcdefgh";
    { std::ofstream(alive.string()) << "x"; }
    fs::last_write_time(alive, old);
    // Names of other shapes are not ours to remove.
    const fs::path other = dir.path() / ".k.raw.part-notapid";
    { std::ofstream(other.string()) << "x"; }
    fs::last_write_time(other, old);

    SafeOutput next;
    std::string error;
    ASSERT_TRUE(next.open(target, {}, &error)) << error;
    ASSERT_TRUE(next.commit(&error)) << error;
    EXPECT_FALSE(fs::exists(left));
    EXPECT_TRUE(fs::exists(alive));
    EXPECT_TRUE(fs::exists(other));
    EXPECT_TRUE(fs::exists(target));
#endif
}
