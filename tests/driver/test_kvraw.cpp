// The kvraw command-line tool: outputs, exit statuses and error lines, and
// what an interrupted or failed write leaves behind.

#include <gtest/gtest.h>
#if !defined(_WIN32)
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <csignal>
#include <cstring>
#include <regex>
#include <sstream>
#include <thread>

#include "DriverTestSupport.h"
#include "KvrawRun.h"

using namespace kvtest;

namespace {

std::vector<std::string> lines(const std::string& s) {
    std::vector<std::string> out;
    std::istringstream in(s);
    for (std::string l; std::getline(in, l);)
        out.push_back(l);
    return out;
}

}  // namespace

TEST(KvrawTest, GenerateInfoStatsDecodeCut) {
    ScratchDir dir;
    const std::string f = dir.file("g.raw");
    CliRun gen =
        kvraw(dir, "generate " + f + " 2000000 50000 --seed 5 --trigger-period 500000 --start 100");
    ASSERT_EQ(gen.status, 0) << gen.err;
    EXPECT_TRUE(gen.out.empty());

    SyntheticOptions o{.duration_us = 2000000,
                       .eventsPerSecond = 50000,
                       .seed = 5,
                       .triggerPeriod_us = 500000,
                       .startTime_us = 100};
    Expected exp = expectedFor(o);

    CliRun info = kvraw(dir, "info " + f);
    ASSERT_EQ(info.status, 0);
    const std::string first = std::to_string(exp.events.front().timestamp);
    const std::string last = std::to_string(exp.events.back().timestamp);
    EXPECT_EQ(
        info.out,
        "format: EVT3\nwidth: 1280\nheight: 720\nserial_number: KVSIM0001\nstart_us: " + first +
            "\nend_us: " + last + "\ndvs_start_timestamp: " + first + "\naps_start_timestamp: 0\n");

    uint64_t sx = 0, sy = 0, sp = 0, st = 0;
    for (auto& e : exp.events) {
        sx += e.x;
        sy += e.y;
        sp += e.polarity;
        st += e.timestamp;
    }
    CliRun stats = kvraw(dir, "stats " + f);
    EXPECT_EQ(stats.out, "events " + std::to_string(exp.events.size()) + "\nsum_x " +
                             std::to_string(sx) + "\nsum_y " + std::to_string(sy) + "\nsum_p " +
                             std::to_string(sp) + "\nsum_t " + std::to_string(st) + "\nfirst_t " +
                             first + "\nlast_t " + last + "\ntriggers " +
                             std::to_string(exp.triggers.size()) + "\n");

    CliRun decode = kvraw(dir, "decode " + f + " --from 500000 --to 500300 --triggers");
    ASSERT_EQ(decode.status, 0);
    std::vector<std::string> expected{"T,500000,0,1"};
    for (auto& e : filterWindow(exp.events, 500000, 500300)) {
        expected.push_back(std::to_string(e.timestamp) + "," + std::to_string(e.x) + "," +
                           std::to_string(e.y) + "," + std::to_string(int(e.polarity)));
    }
    EXPECT_EQ(lines(decode.out), expected);
    CliRun plain = kvraw(dir, "decode " + f);
    ASSERT_EQ(plain.status, 0) << plain.err;
    EXPECT_EQ(lines(plain.out).size(), exp.events.size());

    CliRun cut = kvraw(dir, "cut " + f + " " + dir.file("c.raw") + " 500000 1000000");
    ASSERT_EQ(cut.status, 0) << cut.err;
    CliRun cutStats = kvraw(dir, "stats " + dir.file("c.raw"));
    EXPECT_NE(cutStats.out.find("triggers 3\n"), std::string::npos) << cutStats.out;
    const auto inCut = filterWindow(exp.events, 500000, 1000001);
    EXPECT_NE(cutStats.out.find("events " + std::to_string(inCut.size()) + "\nsum_x"),
              std::string::npos);
    EXPECT_NE(cutStats.out.find("first_t " + std::to_string(inCut.front().timestamp) + "\n"),
              std::string::npos)
        << cutStats.out;

    CliRun evt2 = kvraw(dir, "generate " + dir.file("e2.raw") + " 100000 10000 --format evt2");
    ASSERT_EQ(evt2.status, 0);
    EXPECT_EQ(lines(kvraw(dir, "info " + dir.file("e2.raw")).out)[0], "format: EVT2");

    // A header that states no geometry: info and check both call it unknown.
    std::vector<uint8_t> bare = readBytes(dir.file("e2.raw"));
    const std::string text(bare.begin(), bare.end());
    bare.erase(bare.begin(), bare.begin() + ptrdiff_t(text.find("% end\n") + 6));
    const std::string evt2Line = "% evt 2.0\n";
    bare.insert(bare.begin(), evt2Line.begin(), evt2Line.end());
    writeBytes(dir.file("bare.raw"), bare);
    const auto bareInfo = lines(kvraw(dir, "info " + dir.file("bare.raw")).out);
    ASSERT_GE(bareInfo.size(), 3u);
    EXPECT_EQ(bareInfo[1], "width: unknown");
    EXPECT_EQ(bareInfo[2], "height: unknown");
    EXPECT_NE(kvraw(dir, "check " + dir.file("bare.raw")).out.find("geometry: unknown\n"),
              std::string::npos);
}

TEST(KvrawTest, ErrorsAreOneLineAndNonZero) {
    ScratchDir dir;
    writeBytes(dir.file("bad.raw"), {'%', ' ', 'e', 'v', 't', ' ', '4', '\n', 1, 2});
    std::vector<uint8_t> noise(300);
    for (size_t i = 0; i < noise.size(); ++i)
        noise[i] = uint8_t(i * 151 + 17);
    writeBytes(dir.file("noise.raw"), noise);
    const std::vector<std::string> bad{
        "",
        "frobnicate",
        "info " + dir.file("missing.raw"),
        "info " + dir.path().string(),
        "info " + dir.file("bad.raw"),
        "info " + dir.file("noise.raw"),
        "check " + dir.file("noise.raw"),
        "decode " + dir.file("bad.raw") + " --from",
        "decode " + dir.file("missing.raw") + " --from 12x",
        "stats",
        "cut " + dir.file("bad.raw") + " " + dir.file("o.raw") + " 10 5",
        "generate " + dir.file("no/dir/x.raw") + " 1000 1000",
        "generate " + dir.file("x.raw") + " 1000 many",
        "generate " + dir.file("x.raw") + " 1000 1000 --format evt9",
        "generate " + dir.file("x.raw") + " 1000 1000 --unknown",
    };
    for (const auto& args : bad) {
        CliRun r = kvraw(dir, args);
        EXPECT_NE(r.status, 0) << args;
        EXPECT_GT(r.status, 0) << args << ": not a clean exit";
        auto errLines = lines(r.err);
        if (args.empty()) continue;  // usage text
        ASSERT_EQ(errLines.size(), 1u) << args << "\n" << r.err;
        EXPECT_EQ(errLines[0].rfind("kvraw: error: ", 0), 0u) << errLines[0];
    }
}

TEST(KvrawTest, CutRefusesItsInputAndSaysWhy) {
    ScratchDir dir;
    const std::string f = dir.file("in.raw");
    ASSERT_EQ(kvraw(dir, "generate " + f + " 500000 20000").status, 0);
    const auto original = readBytes(f);
    fs::create_hard_link(f, dir.file("hard.raw"));
    for (const std::string& out : {f, dir.file("hard.raw"), dir.path().string() + "/./in.raw"}) {
        CliRun r = kvraw(dir, "cut " + f + " " + out + " 1000 2000");
        EXPECT_EQ(r.status, 1) << out;
        EXPECT_EQ(lines(r.err).size(), 1u);
        EXPECT_NE(r.err.find("output is the input"), std::string::npos) << r.err;
    }
    EXPECT_EQ(readBytes(f), original);
    CliRun missing = kvraw(dir, "cut " + f + " " + dir.file("no/dir/o.raw") + " 0 400000");
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("No such file or directory"), std::string::npos) << missing.err;
    CliRun empty = kvraw(dir, "cut " + f + " " + dir.file("o.raw") + " 900000 950000");
    EXPECT_EQ(empty.status, 1);
    EXPECT_NE(empty.err.find("no events in range"), std::string::npos) << empty.err;
}

TEST(KvrawTest, RangesAreValidatedAndLateStartsReadBack) {
    ScratchDir dir;
    const std::string f = dir.file("late.raw");
    ASSERT_EQ(kvraw(dir, "generate " + f + " 300000 10000 --start 100000000").status, 0);
    auto info = lines(kvraw(dir, "info " + f).out);
    ASSERT_GE(info.size(), 7u);
    const uint64_t start = std::stoull(info[4].substr(std::string("start_us: ").size()));
    EXPECT_GE(start, 100000000u);
    EXPECT_LT(start, 100001000u);
    EXPECT_EQ(info[6], "dvs_start_timestamp: " + std::to_string(start));

    for (const std::string& args :
         {"generate " + dir.file("x.raw") + " 1000 1000 --start 18446744073709551000",
          "generate " + dir.file("x.raw") + " 18446744073709551000 1000",
          "bench " + f + " --windows 18446744073709551615"}) {
        CliRun r = kvraw(dir, args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(lines(r.err).size(), 1u) << r.err;
    }
    EXPECT_FALSE(fs::exists(dir.file("x.raw")));
}

// Output that cannot be written is an error, for every command.
TEST(KvrawTest, WriteErrorsOnStdoutFail) {
    VELQORA_SKIP_ON_WINDOWS("no /dev/full, and cmd cannot start a program with its output closed");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string f = dir.file("w.raw");
    ASSERT_EQ(kvraw(dir, "generate " + f + " 200000 10000").status, 0);
    for (const std::string& args : {"info " + f, "stats " + f, "decode " + f,
                                    "bench " + f + " --windows 3", std::string("--help")}) {
        for (const char* redirect : {" >/dev/full", " >&-"}) {
            CliRun r = kvraw(dir, args + redirect);
            EXPECT_EQ(r.status, 1) << args << redirect;
            EXPECT_NE(r.err.find("cannot write output"), std::string::npos) << args << r.err;
        }
    }
#endif
}

// Header text never reaches the terminal raw.
TEST(KvrawTest, HeaderTextInMessagesIsEscaped) {
    ScratchDir dir;
    std::string header = "% format EVT\x1b[31mX";
    header.push_back('\0');
    header += "Y;width=640\n";
    std::vector<uint8_t> bytes(header.begin(), header.end());
    bytes.push_back(0x01);
    bytes.push_back(0x80);
    writeBytes(dir.file("esc.raw"), bytes);
    CliRun r = kvraw(dir, "info " + dir.file("esc.raw"));
    EXPECT_EQ(r.status, 1);
    ASSERT_EQ(lines(r.err).size(), 1u) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos);
    EXPECT_EQ(r.err.find('\0'), std::string::npos);
    EXPECT_NE(r.err.find("'EVT\\x1b[31mX\\x00Y'"), std::string::npos) << r.err;
}

// SIGTERM or SIGINT in the middle of a long write leaves no hidden temporary.
TEST(KvrawTest, InterruptedWritesLeaveNoTemporary) {
    VELQORA_SKIP_ON_WINDOWS("fork and POSIX signals");
#if !defined(_WIN32)
    ScratchDir dir;
    const std::string src = dir.file("src.raw");
    ASSERT_EQ(kvraw(dir, "generate " + src + " 3000000 2000000").status, 0);
    const std::vector<std::vector<std::string>> commands{
        {"generate", dir.file("big.raw"), "600000000", "20000000"},
        {"cut", src, dir.file("cut.raw"), "0", "3000000"},
    };
    for (int sig : {SIGTERM, SIGINT}) {
        for (const auto& command : commands) {
            const pid_t child = ::fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                std::vector<char*> argv{const_cast<char*>(KVRAW_PATH)};
                for (const auto& a : command)
                    argv.push_back(const_cast<char*>(a.c_str()));
                argv.push_back(nullptr);
                ::execv(KVRAW_PATH, argv.data());
                ::_exit(127);
            }
            // Wait until the temporary exists (or the command already ended).
            int status = 0;
            pid_t done = 0;
            while (partFiles(dir.path()) == 0 && (done = ::waitpid(child, &status, WNOHANG)) == 0)
                std::this_thread::yield();
            if (done == 0) {
                ::kill(child, sig);
                ASSERT_EQ(::waitpid(child, &status, 0), child);
                EXPECT_TRUE(WIFSIGNALED(status)) << command[0];
            }
            EXPECT_EQ(partFiles(dir.path()), 0u) << command[0] << " signal " << sig;
        }
    }
    EXPECT_FALSE(fs::exists(dir.file("big.raw")));
#endif
}

#if defined(VELQORA_HAVE_VIDEO)
TEST(KvrawTest, ExportWritesTheVideoOrRefusesWithoutFile) {
    ScratchDir dir;
    const std::string f = dir.file("g.raw");
    ASSERT_EQ(kvraw(dir, "generate " + f + " 500000 50000 --start 1000").status, 0);
    const std::string out = dir.file("v.mp4");
    CliRun ok = kvraw(dir, "export " + f + " " + out +
                               " 100000 300000 --fps 25 --interval 50000 --acc 20000 --theme Dark");
    ASSERT_EQ(ok.status, 0) << ok.err;
    const auto l = lines(ok.out);
    ASSERT_EQ(l.size(), 3u);
    EXPECT_EQ(l[0], "frames: 5");
    EXPECT_EQ(l[1].rfind("elapsed_s: ", 0), 0u);
    EXPECT_EQ(l[2].rfind("realtime_factor: ", 0), 0u);
    EXPECT_TRUE(ok.err.empty()) << ok.err;  // no progress line when stderr is no terminal
    EXPECT_TRUE(fs::file_size(out) > 0);

    const std::string none = dir.file("none.mp4");
    CliRun backwards = kvraw(dir, "export " + f + " " + none + " 9000 2000");
    EXPECT_EQ(backwards.status, 1);
    EXPECT_NE(backwards.err.find("starts after it ends"), std::string::npos) << backwards.err;
    EXPECT_EQ(kvraw(dir, "export " + f + " " + none + " 100000 200000 --theme Pink").status, 2);
    EXPECT_EQ(kvraw(dir, "export " + f + " " + none + " 100000 200000 --interval 0").status, 2);
    // Values out of range and other containers are refused with the reason.
    const std::pair<std::string, std::string> refused[] = {
        {none + " 100000 200000 --fps 18446744073709551615", "--fps must be 1 to 1000"},
        {none + " 100000 200000 --fps 0", "--fps must be 1 to 1000"},
        {none + " 100000 200000 --crf 99", "--crf must be 0 to 51"},
        {dir.file("v.avi") + " 100000 200000", "must end in .mp4"},
        {dir.file("v.mp4.d/x") + " 100000 200000", "must end in .mp4"},
    };
    for (const auto& [args, why] : refused) {
        CliRun r = kvraw(dir, "export " + f + " " + args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find(why), std::string::npos) << args << ": " << r.err;
    }
    EXPECT_FALSE(fs::exists(none));
    EXPECT_FALSE(fs::exists(dir.file("v.avi")));
    EXPECT_EQ(kvraw(dir, "export " + f + " " + dir.file("upper.MP4") + " 100000 200000").status, 0);
}
#endif

namespace {
std::string valueOf(const std::string& out, const std::string& key) {
    for (const std::string& l : lines(out))
        if (l.rfind(key + ": ", 0) == 0) return l.substr(key.size() + 2);
    return "<missing " + key + ">";
}
}  // namespace

TEST(KvrawTest, CheckCleanDamagedAndUnreadableFiles) {
    ScratchDir dir;
    // Clean, crossing a loop of the 24-bit counter, with triggers.
    const std::string f = dir.file("c.raw");
    const uint64_t start = (uint64_t(1) << 24) - 150000;
    ASSERT_EQ(kvraw(dir, "generate " + f + " 400000 500000 --trigger-period 10000 --start " +
                             std::to_string(start))
                  .status,
              0);
    CliRun clean = kvraw(dir, "check " + f);
    EXPECT_EQ(clean.status, 0) << clean.out << clean.err;
    EXPECT_EQ(valueOf(clean.out, "result"), "clean");
    EXPECT_EQ(valueOf(clean.out, "time_loops"), "1");
    EXPECT_EQ(valueOf(clean.out, "header_start"), "agrees");
    EXPECT_EQ(valueOf(clean.out, "words_ext_trigger"), "80");  // two edges a period
    // The one-thread pass reports the same.
    EXPECT_EQ(kvraw(dir, "check " + f + " --threads 1").out, clean.out);
    EXPECT_EQ(kvraw(dir, "check " + f + " --threads 3").out, clean.out);

    const std::vector<uint8_t> original = readBytes(f);
    const size_t data = std::string(original.begin(), original.end()).find("% end\n") + 6;
    auto checkPatched = [&](const std::string& name, const std::vector<uint8_t>& bytes) {
        const std::string p = dir.file(name);
        writeBytes(p, bytes);
        return kvraw(dir, "check " + p);
    };

    // A word of a reserved type in the middle of the data.
    std::vector<uint8_t> b = original;
    b[data + 2 * 5001] = 0x34;
    b[data + 2 * 5001 + 1] = 0x92;  // 0x9234
    CliRun r = checkPatched("reserved.raw", b);
    EXPECT_EQ(r.status, 1) << r.out;
    EXPECT_EQ(valueOf(r.out, "reserved_words"), "1");
    EXPECT_EQ(valueOf(r.out, "result"), "anomalies");

    // A file that ends inside a word.
    b = original;
    b.push_back(0x42);
    r = checkPatched("padded.raw", b);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(valueOf(r.out, "padding_bytes"), "1");

    // A header whose start time names another second than the data.
    std::string text(original.begin(), original.end());
    const std::string key = "% dvs_start_timestamp ";
    const size_t at = text.find(key) + key.size();
    text[at] = text[at] == '9' ? '1' : '9';  // same length, millions of us away
    r = checkPatched("start.raw", std::vector<uint8_t>(text.begin(), text.end()));
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(valueOf(r.out, "header_start"), "disagrees");

    // An event off the sensor: a row number beyond 720 on an ADDR_Y word.
    b = original;
    for (size_t i = data; i + 1 < b.size(); i += 2) {
        if ((b[i + 1] >> 4) == 0x0) {  // ADDR_Y
            b[i] = 0xFF;
            b[i + 1] = 0x03;  // y = 1023
            break;
        }
    }
    r = checkPatched("geometry.raw", b);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(valueOf(r.out, "events_outside_geometry"), "0");

    // Time going back: a camera's jitter is counted but clean; a TIME_HIGH
    // five steps back from the middle of the range is a way back, not a loop,
    // and so is one far back that does not start near the top of the counter.
    // A cut and a RAW conversion carry the same steps back as the source.
    struct BackCase {
        const char* name;
        const char* header;
        std::vector<uint8_t> words;
        int status;
        const char* backSteps;
        const char* beyondJitter;
        std::string lastEvent_us;
    };
    std::vector<uint8_t> jitter, evt3Back, evt2Back;
    for (uint16_t w : {0x8000 | 1000, 0x6000 | 100, 0x0000 | 5, 0x2000 | 1, 0x6000 | 89, 0x2000 | 2,
                       0x8000 | 999, 0x2000 | 3, 0x8000 | 1000, 0x6000 | 200})
        put16(jitter, uint16_t(w));
    for (uint16_t w : {0x8000 | 1000, 0x6000 | 100, 0x0000 | 5, 0x2000 | 1, 0x8000 | 995,
                       0x6000 | 100, 0x2000 | 2})  // 20 ms back
        put16(evt3Back, uint16_t(w));
    for (uint32_t w : {0x80000000u | 100000u, 0x10000000u | (1u << 11) | 5u, 0x80000000u | 99995u,
                       0x10000000u | (2u << 11) | 5u})  // 320 us back
        put32(evt2Back, w);
    std::vector<uint8_t> evt3Far, evt2Far;
    for (uint16_t w : {0x8000 | 3000, 0x6000 | 100, 0x0000 | 5, 0x2000 | 1, 0x8000 | 1000,
                       0x6000 | 100, 0x2000 | 2, 0x8000 | 1001, 0x2000 | 3})  // 8.2 s back
        put16(evt3Far, uint16_t(w));
    const uint32_t middle2 = 1u << 27, farBack2 = middle2 - (1u << 26) - 100;  // 71 min back
    for (uint32_t w : {0x80000000u | middle2, 0x10000000u | (1u << 11) | 5u, 0x80000000u | farBack2,
                       0x10000000u | (2u << 11) | 5u})
        put32(evt2Far, w);
    const BackCase backCases[] = {
        {"jitter.raw", "% evt 3.0\n% geometry 1280x720\n", jitter, 0, "2", "0", "4096100"},
        {"back3.raw", "% evt 3.0\n% geometry 1280x720\n", evt3Back, 1, "1", "1", "4096100"},
        {"back2.raw", "% evt 2.0\n", evt2Back, 1, "1", "1", "6400000"},
        {"far3.raw", "% evt 3.0\n% geometry 1280x720\n", evt3Far, 1, "1", "1", "12288100"},
        {"far2.raw", "% evt 2.0\n", evt2Far, 1, "1", "1", std::to_string(uint64_t(middle2) << 6)},
    };
    for (const BackCase& c : backCases) {
        std::vector<uint8_t> bytes(c.header, c.header + std::strlen(c.header));
        bytes.insert(bytes.end(), c.words.begin(), c.words.end());
        r = checkPatched(c.name, bytes);
        EXPECT_EQ(r.status, c.status) << c.name << "\n" << r.out;
        EXPECT_EQ(valueOf(r.out, "time_loops"), "0") << c.name;
        EXPECT_EQ(valueOf(r.out, "time_back_steps"), c.backSteps) << c.name;
        EXPECT_EQ(valueOf(r.out, "time_back_beyond_jitter"), c.beyondJitter) << c.name;
        EXPECT_EQ(valueOf(r.out, "last_event_us"), c.lastEvent_us) << c.name;
        const std::string evt2 = std::strstr(c.header, "2.0") ? " --format evt2" : "";
        const std::string copies[] = {
            "cut " + dir.file(c.name) + " " + dir.file("cut.raw") + " 0 99999999999999",
            "convert " + dir.file(c.name) + " " + dir.file("converted.raw") + evt2};
        for (const std::string& how : copies) {
            CliRun made = kvraw(dir, how);
            ASSERT_EQ(made.status, 0) << how << "\n" << made.err;
            const CliRun copy =
                kvraw(dir, "check " + dir.file(how[1] == 'u' ? "cut.raw" : "converted.raw"));
            EXPECT_EQ(copy.status, r.status) << how << "\n" << copy.out;
            for (const char* key : {"time_loops", "time_back_steps", "time_back_max_us",
                                    "time_back_beyond_jitter", "last_event_us"}) {
                EXPECT_EQ(valueOf(copy.out, key), valueOf(r.out, key)) << how << ": " << key;
            }
        }
    }

    // Unreadable: missing, a folder, an encoding we do not decode.
    EXPECT_EQ(kvraw(dir, "check " + dir.file("missing.raw")).status, 2);
    EXPECT_EQ(kvraw(dir, "check " + dir.path().string()).status, 2);
    const std::string odd = "% evt 4.0\n% end\n" + std::string(64, '\0');
    r = checkPatched("odd.raw", std::vector<uint8_t>(odd.begin(), odd.end()));
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unsupported"), std::string::npos) << r.err;
}

TEST(KvrawTest, StatsOnAllThreadsEqualsTheOneThreadPass) {
    ScratchDir dir;
    for (const char* extra : {"", " --dense", " --format evt2", " --mix camera"}) {
        const std::string f = dir.file("s.raw");
        ASSERT_EQ(kvraw(dir, "generate " + f + " 600000 2000000 --trigger-period 3000" +
                                 std::string(extra))
                      .status,
                  0);
        const CliRun one = kvraw(dir, "stats " + f + " --threads 1");
        ASSERT_EQ(one.status, 0);
        EXPECT_NE(valueOf(one.out, "triggers"), "0");
        for (const char* threads : {"", " --threads 2", " --threads 7"}) {
            EXPECT_EQ(kvraw(dir, "stats " + f + threads).out, one.out) << extra << threads;
        }
    }
}

// The camera mix: bursts of rows whose neighbours become vector words.
// Every event decodes back as generated, and check shows the word shares.
TEST(KvrawTest, GenerateCameraMixDecodesExactlyWithACamerasWordShares) {
    ScratchDir dir;
    struct Case {
        const char* format;
        RawFormat raw;
        uint64_t rate;
    };
    for (const Case& c :
         {Case{"evt3", RawFormat::Evt3, 30000000}, Case{"evt3", RawFormat::Evt3, 300000},
          Case{"evt2", RawFormat::Evt2, 30000000}}) {
        SCOPED_TRACE(std::string(c.format) + " at " + std::to_string(c.rate));
        const std::string f = dir.file("cam.raw");
        // Crosses a loop of the 24-bit counter, with trigger edges among the bursts.
        const CliRun gen = kvraw(dir, "generate " + f + " 100000 " + std::to_string(c.rate) +
                                          " --mix camera --seed 3 --start 16750000" +
                                          " --trigger-period 7000 --format " + c.format);
        ASSERT_EQ(gen.status, 0) << gen.err;
        const SyntheticOptions o{.duration_us = 100000,
                                 .eventsPerSecond = c.rate,
                                 .seed = 3,
                                 .triggerPeriod_us = 7000,
                                 .startTime_us = 16750000,
                                 .mix = SyntheticMix::Camera,
                                 .format = c.raw};
        const Expected exp = expectedFor(o);
        ASSERT_EQ(exp.events.size(), 100000 * c.rate / 1000000);
        auto reader = DvsFileReader::createFileReader(f);
        ASSERT_TRUE(reader && reader->openForReading());
        const Decoded back = decodeAll(*reader);
        EXPECT_TRUE(back.events == exp.events);
        EXPECT_EQ(back.triggers, exp.triggers);

        const CliRun check = kvraw(dir, "check " + f);
        EXPECT_EQ(check.status, 0) << check.out;
        if (c.raw == RawFormat::Evt2) continue;  // no vector words in EVT 2.0
        const double words = std::stod(valueOf(check.out, "words"));
        auto share = [&](std::initializer_list<const char*> keys) {
            double n = 0;
            for (const char* k : keys)
                n += std::stod(valueOf(check.out, std::string("words_") + k));
            return n / words;
        };
        EXPECT_NEAR(share({"addr_y"}), 0.19, 0.03) << check.out;
        EXPECT_NEAR(share({"addr_x"}), 0.64, 0.04) << check.out;
        EXPECT_NEAR(share({"vect_base_x", "vect_12", "vect_8"}), 0.14, 0.03) << check.out;
        EXPECT_GT(share({"vect_12"}), 0.001) << check.out;
        // Bursts keep the time words few at any rate.
        EXPECT_NEAR(share({"time_low"}), 0.03, 0.015) << check.out;
    }
    for (const char* bad : {" --mix film", " --mix camera --dense"}) {
        const CliRun r = kvraw(dir, "generate " + dir.file("x.raw") + " 1000 1000" + bad);
        EXPECT_EQ(r.status, 2) << bad;
        EXPECT_FALSE(fs::exists(dir.file("x.raw"))) << bad;
    }
}

#if defined(VELQORA_HAVE_HDF5)
// kvraw convert: summary line, exit statuses, and no file left by a failure.
TEST(KvrawConvertTest, SummaryStatusesAndRanges) {
    ScratchDir dir;
    SyntheticOptions o{.duration_us = 200000, .eventsPerSecond = 100000, .triggerPeriod_us = 10000};
    const std::string src = generate(dir, "in.raw", o);
    const Expected all = expectedFor(o);

    CliRun r =
        kvraw(dir, "convert " + src + " " + dir.file("out.h5") + " --from 50000 --to 150000");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(r.err.empty()) << r.err;  // no progress without a terminal
    std::smatch m;
    const std::regex line(
        "events: (\\d+), triggers: (\\d+), bytes: (\\d+), seconds: [0-9.]+, events_per_s: \\d+\n");
    ASSERT_TRUE(std::regex_match(r.out, m, line)) << r.out;
    EXPECT_EQ(std::stoull(m[1]), filterWindow(all.events, 50000, 150000).size());
    const auto edges = std::count_if(all.triggers.begin(), all.triggers.end(), [](const auto& t) {
        return t.timestamp >= 50000 && t.timestamp < 150000;
    });
    EXPECT_GT(edges, 0);
    EXPECT_EQ(std::stoull(m[2]), uint64_t(edges));
    EXPECT_EQ(std::stoull(m[3]), fs::file_size(dir.file("out.h5")));

    r = kvraw(dir, "convert " + dir.file("out.h5") + " " + dir.file("back.raw") + " --format evt2");
    ASSERT_EQ(r.status, 0) << r.err;
    auto reader = DvsFileReader::createFileReader(dir.file("back.raw"));
    ASSERT_TRUE(reader && reader->openForReading());
    EXPECT_EQ(reader->format(), RawFormat::Evt2);
    EXPECT_EQ(decodeAll(*reader).events, filterWindow(all.events, 50000, 150000));

    // Usage errors: 2; failures: 1; neither leaves a file.
    EXPECT_EQ(kvraw(dir, "convert " + src).status, 2);
    EXPECT_EQ(kvraw(dir, "convert " + src + " " + dir.file("x.raw") + " --format evt4").status, 2);
    EXPECT_EQ(kvraw(dir, "convert " + src + " " + dir.file("x.raw") + " --from 9 --to 3").status,
              2);
    r = kvraw(dir, "convert " + src + " " + dir.file("x.txt"));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("unknown output type"), std::string::npos) << r.err;
    EXPECT_EQ(kvraw(dir, "convert " + dir.file("none.raw") + " " + dir.file("x.npy")).status, 1);
    EXPECT_FALSE(fs::exists(dir.file("x.raw")));
    EXPECT_FALSE(fs::exists(dir.file("x.npy")));
    EXPECT_FALSE(fs::exists(dir.file("x.txt")));
}
#endif
