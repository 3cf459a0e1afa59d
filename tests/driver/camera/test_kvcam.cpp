// kvcam's stable output, and its recordings against its own counts.

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "../DriverTestSupport.h"
#include "../KvrawRun.h"
#include "CameraTestSupport.h"
#include "korvane/sim/ReplayBackend.h"
#include "korvane/sim/SimulatedBackend.h"
#if defined(VELQORA_HAVE_VIDEO)
#include "korvane/video/ApsFileReader.h"
#endif
#if !defined(_WIN32)
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#endif

using namespace kvtest;

namespace {

CliRun kvcam(const std::string& args) {
    return runTool(KVCAM_PATH, args, "");
}

#if !defined(_WIN32)
// kvcam in the background, its standard output into outFile; killed
// outright if the test leaves it running.
struct BackgroundKvcam {
    pid_t pid = -1;
    BackgroundKvcam(std::vector<std::string> args, const std::string& env,
                    const std::string& outFile) {
        args.insert(args.begin(), KVCAM_PATH);
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        std::vector<std::string> envText;
        for (char** e = environ; *e; ++e)
            envText.emplace_back(*e);
        if (!env.empty()) envText.push_back(env);
        std::vector<char*> envp;
        for (std::string& e : envText)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, outFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (posix_spawn(&pid, KVCAM_PATH, &actions, nullptr, argv.data(), envp.data()) != 0)
            pid = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    // Exit status, or -1 when it did not exit by itself.
    int wait() {
        int st = 0;
        if (pid < 0 || ::waitpid(pid, &st, 0) != pid) return -1;
        pid = -1;
        return WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    }
    ~BackgroundKvcam() {
        if (pid < 0) return;
        ::kill(pid, SIGKILL);
        wait();
    }
};
#endif

std::map<std::string, std::string> keyValues(const std::string& text) {
    std::map<std::string, std::string> kv;
    std::istringstream in(text);
    std::string key, value;
    while (in >> key && std::getline(in >> std::ws, value))
        kv[key] = value;
    return kv;
}

}  // namespace

TEST(KvcamTest, ListPrintsOneCameraALineWithTabs) {
    ScratchDir dir;
    const DataFolderAt empty(dir.file("data"));  // no replays; the child inherits it
    const CliRun r = kvcam("list");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, std::string(SimulatedBackend::kEvk4Serial) + "\tEVK4\tKorvane\n" +
                         SimulatedBackend::kPirelSerial + "\tPirel\tKorvane\n" +
                         SimulatedBackend::kQuentaSerial + "\tQuenta\tKorvane\n");
}

TEST(KvcamTest, RecordWritesExactlyTheStreamedEvents) {
    ScratchDir dir;
    const std::string path = dir.file("k.raw");
    const CliRun r = kvcam("record " + std::string(SimulatedBackend::kPirelSerial) + " " + path +
                           " --seconds 1 --rate 300000 --set roi.width=640 --set roi.enable=true");
    ASSERT_EQ(r.status, 0) << r.out;
    auto kv = keyValues(r.out);
    EXPECT_EQ(kv["file"], path);
    ASSERT_FALSE(kv["events_written"].empty());
    EXPECT_EQ(kv["events_written"], kv["events_streamed"]);
    auto reader = DvsFileReader::createFileReader(path);
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(reader->openForReading());
    const Decoded d = decodeAll(*reader);
    EXPECT_EQ(std::to_string(d.events.size()), kv["events_written"]);
    for (const auto& e : d.events)
        ASSERT_LT(e.x, 640);
}

// With the trigger cache: the seconds before the first rising edge once the
// cache is full, and the seconds after it, the edge itself inside.
TEST(KvcamTest, RecordAroundAnEdgeHoldsTheSecondsBeforeAndAfterIt) {
    ScratchDir dir;
    const std::string path = dir.file("e.raw");
    const CliRun r = kvcam("record " + std::string(SimulatedBackend::kEvk4Serial) + " " + path +
                           " --seconds 1 --cache-seconds 1 --on-edge rising"
                           " --trigger-period-us 400000 --rate 300000");
    ASSERT_EQ(r.status, 0) << r.out;
    auto kv = keyValues(r.out);
    const uint64_t edge = std::stoull(kv["edge_us"]);
    EXPECT_EQ(edge, 1200000u) << "the first rising edge with a second cached";
    auto reader = DvsFileReader::createFileReader(path);
    ASSERT_NE(reader, nullptr);
    ASSERT_TRUE(reader->openForReading());
    const Decoded d = decodeAll(*reader);
    ASSERT_FALSE(d.events.empty());
    EXPECT_EQ(std::to_string(d.events.size()), kv["events_written"]);
    EXPECT_LE(d.events.front().timestamp, edge - 900000);
    EXPECT_GE(d.events.back().timestamp, edge + 990000);
    bool edgeInside = false;
    for (const auto& t : d.triggers)
        edgeInside = edgeInside || (t.timestamp == edge && t.polarity == 1 && t.id == 0);
    EXPECT_TRUE(edgeInside);
}

#if defined(VELQORA_HAVE_VIDEO)
TEST(KvcamTest, RecordOnTheFusionCameraWritesItsThreeFilesNamedAfterOut) {
    ScratchDir dir;
    const std::string quenta = SimulatedBackend::kQuentaSerial;
    // The camera's stored calibration stays inside the scratch folder.
    const std::string env = "XDG_DATA_HOME=" + dir.file("data") + " ";
    auto kvcam = [](const std::string& args, const std::string& env) {
        return runTool(KVCAM_PATH, args, "", env);
    };
    const CliRun r = kvcam("record " + quenta + " " + dir.file("f.raw") +
                               " --seconds 1 --rate 300000 --set aps.analog_gain=6",
                           env);
    SCOPED_TRACE(r.out);
    auto kv = keyValues(r.out);
    // On the wall clock a loaded machine may make the encoder drop frames:
    // then they are counted and the run fails, but the files are whole.
    const int written = std::atoi(kv["frames_written"].c_str());
    const int dropped = std::atoi(kv["frames_dropped"].c_str());
    EXPECT_EQ(r.status, dropped > 0 ? 1 : 0) << r.out;
    EXPECT_EQ(kv["file"], dir.file("f.raw"));
    EXPECT_EQ(kv["frames_file"], dir.file("f.mp4"));
    EXPECT_EQ(kv["calibration_file"], dir.file("f.json"));
    EXPECT_GE(written, 1);
    EXPECT_LE(written + dropped, 30) << "one second of frames at 30 fps";

    auto events = DvsFileReader::createFileReader(dir.file("f.raw"));
    ASSERT_NE(events, nullptr);
    ASSERT_TRUE(events->openForReading());
    DvsFileInfo info;
    ASSERT_TRUE(events->getFileInfo(info));
    EXPECT_EQ(std::to_string(info.apsStartTimestamp), kv["aps_start_us"]);
    const auto decoded = decodeAll(*events);
    EXPECT_EQ(std::to_string(decoded.events.size()), kv["events_written"]);
    // The second is camera time, however late a loaded machine stops the run.
    ASSERT_FALSE(decoded.events.empty());
    EXPECT_LT(decoded.events.back().timestamp, 1000000u);
    EXPECT_GE(decoded.events.back().timestamp, 900000u);
    auto frames = ApsFileReader::createFileReader(dir.file("f.mp4"));
    ASSERT_NE(frames, nullptr);
    ASSERT_TRUE(frames->openForReading());
    EXPECT_EQ(std::to_string(frames->getFrameCount()), kv["frames_written"]);
    CalibratorParameters calibration;
    ASSERT_TRUE(jsonFileToParam(dir.file("f.json"), calibration));
    EXPECT_EQ(calibration.apsWidth, frames->getWidth());

    // What only event cameras take is refused, and nothing is written.
    EXPECT_EQ(kvcam("record " + quenta + " " + dir.file("g.raw") +
                        " --seconds 1 --cache-seconds 2 --on-edge rising",
                    env)
                  .status,
              2);
    EXPECT_FALSE(fs::exists(dir.file("g.raw")));
    // No seconds, no frame: nothing could play it.
    EXPECT_EQ(kvcam("record " + quenta + " " + dir.file("g.raw") + " --seconds 0", env).status, 2);
    EXPECT_FALSE(fs::exists(dir.file("g.raw")));
    // A link planted at the frames file's name is refused, its target untouched.
    writeBytes(dir.file("victim"), {'v'});
    fs::create_symlink(dir.file("victim"), dir.file("h.mp4"));
    EXPECT_EQ(kvcam("record " + quenta + " " + dir.file("h.raw") + " --seconds 1", env).status, 1);
    EXPECT_EQ(readBytes(dir.file("victim")), std::vector<uint8_t>{'v'});
    EXPECT_TRUE(fs::is_symlink(dir.file("h.mp4")));
    // A calibration name that cannot be written is refused before the
    // recording already under that name is touched.
    const auto rawBefore = fs::file_size(dir.file("f.raw"));
    const auto framesBefore = fs::file_size(dir.file("f.mp4"));
    fs::remove(dir.file("f.json"));
    fs::create_directory(dir.file("f.json"));
    EXPECT_EQ(kvcam("record " + quenta + " " + dir.file("f.raw") + " --seconds 1", env).status, 1);
    EXPECT_EQ(fs::file_size(dir.file("f.raw")), rawBefore);
    EXPECT_EQ(fs::file_size(dir.file("f.mp4")), framesBefore);
}
#endif

TEST(KvcamTest, StreamPrintsASteadyLinePerSecondAndRefusesBadSettings) {
    const CliRun r = kvcam("stream " + std::string(SimulatedBackend::kEvk4Serial) +
                           " --seconds 1 --rate 200000");
    ASSERT_EQ(r.status, 0);
    std::istringstream in(r.out);
    std::string line1, line2;
    std::getline(in, line1);
    std::getline(in, line2);
    EXPECT_EQ(line1.rfind("second 1 events_per_s ", 0), 0u) << line1;
    EXPECT_NE(line1.find(" mb_per_s "), std::string::npos);
    EXPECT_NE(line1.find(" late "), std::string::npos);
    EXPECT_NE(line1.find(" dropped "), std::string::npos);
    EXPECT_EQ(line2.rfind("total events ", 0), 0u) << line2;

    EXPECT_EQ(kvcam("stream NO-SUCH --seconds 1").status, 1);
    EXPECT_EQ(kvcam("stream " + std::string(SimulatedBackend::kEvk4Serial) +
                    " --seconds 1 --set roi.x=5000")
                  .status,
              1);
    EXPECT_EQ(kvcam("stream " + std::string(SimulatedBackend::kEvk4Serial) + " --bogus").status, 2);
}

// kvcam tools: one line per parameter, five tab-separated fields, the tools
// in the order --set names them; every value it prints is one --set takes,
// and a refusal says why.
TEST(KvcamTest, ToolsListWhatSetTakes) {
    const std::string evk4 = SimulatedBackend::kEvk4Serial;
    const CliRun r = kvcam("tools " + evk4);
    ASSERT_EQ(r.status, 0);
    std::istringstream in(r.out);
    std::vector<std::string> tools;
    std::string line, sets;
    while (std::getline(in, line)) {
        std::vector<std::string> f;
        std::istringstream fields(line);
        for (std::string x; std::getline(fields, x, '\t');)
            f.push_back(x);
        ASSERT_EQ(f.size(), 5u) << line;
        if (tools.empty() || tools.back() != f[0]) tools.push_back(f[0]);
        sets += " --set " + f[0] + "." + f[1] + "=" + f[4];
    }
    EXPECT_EQ(tools, (std::vector<std::string>{"biases", "trigger_in", "anti_flicker",
                                               "event_trail_filter", "event_rate_control", "roi"}));
    EXPECT_NE(r.out.find("biases\tcontrast_on\tint\t-50..50\t0\n"), std::string::npos);
    EXPECT_NE(r.out.find("anti_flicker\tmode\tenum\tband_stop|band_pass\tband_stop\n"),
              std::string::npos);
    EXPECT_NE(r.out.find("roi\tenable\tbool\ttrue|false\tfalse\n"), std::string::npos);
    EXPECT_EQ(kvcam("stream " + evk4 + " --seconds 0" + sets).status, 0);
    // The fusion camera lists its frame sensor's tool too.
    EXPECT_NE(kvcam("tools " + std::string(SimulatedBackend::kQuentaSerial)).out.find("\naps\t"),
              std::string::npos);
    EXPECT_EQ(kvcam("tools NO-SUCH").status, 1);
    EXPECT_EQ(kvcam("tools").status, 2);

    for (const auto& [setting, reason] : std::vector<std::pair<std::string, std::string>>{
             {"biases.contrast_on=99", "contrast_on must be -50..50, not 99"},
             {"anti_flicker.mode=notch", "mode must be one of band_stop, band_pass"},
             {"roi.x=1000", "roi.x=1000: x=1000 does not go with the values in force ("}}) {
        ScratchDir dir;
        const CliRun refused = runTool(
            KVCAM_PATH, "stream " + evk4 + " --seconds 0 --set " + setting, dir.file("err"));
        EXPECT_EQ(refused.status, 1) << setting;
        EXPECT_NE(refused.err.find(reason), std::string::npos) << refused.err;
    }
}

// Numbers that would wrap camera time or exhaust memory are usage errors,
// not a 0.4 s recording reported as success or an abort.
TEST(KvcamTest, OutOfRangeNumbersAreRefused) {
    ScratchDir dir;
    const std::string serial = SimulatedBackend::kEvk4Serial;
    const std::string path = dir.file("r.raw");
    EXPECT_EQ(kvcam("record " + serial + " " + path + " --seconds 18446744073710").status, 2);
    EXPECT_FALSE(std::filesystem::exists(path));
    EXPECT_EQ(kvcam("stream " + serial + " --seconds 1 --rate 18446744073709551615").status, 2);
    EXPECT_EQ(kvcam("stream " + serial + " --seconds 1 --batch-us 18446744073709551615").status, 2);
    EXPECT_EQ(kvcam("stream " + serial + " --seconds 1 --batch-us 0").status, 2);
}

// Output that cannot be written is an error, as for kvraw.
TEST(KvcamTest, WriteErrorsOnStdoutFail) {
    VELQORA_SKIP_ON_WINDOWS("no /dev/full, and cmd cannot start a program with its output closed");
    for (const std::string args : {"list", "--help"}) {
        for (const char* redirect : {" >/dev/full", " >&-"}) {
            EXPECT_EQ(kvcam(args + redirect).status, 1) << args << redirect;
        }
    }
}

// Ctrl+C ends a recording as its seconds running out do: the files are
// finished, and the figures are printed and agree with them.
TEST(KvcamTest, InterruptEndsTheRecordingCleanlyWithItsFigures) {
    VELQORA_SKIP_ON_WINDOWS("POSIX signals and posix_spawn");
#if !defined(_WIN32) && defined(VELQORA_HAVE_VIDEO)
    ScratchDir dir;
    const std::string env = "XDG_DATA_HOME=" + dir.file("data");
    for (const std::string serial :
         {SimulatedBackend::kEvk4Serial, SimulatedBackend::kQuentaSerial}) {
        SCOPED_TRACE(serial);
        const std::string raw = dir.file(serial + ".raw");
        const std::string out = dir.file(serial + ".txt");
        BackgroundKvcam run({"record", serial, raw, "--seconds", "3600", "--rate", "300000"}, env,
                            out);
        ASSERT_GT(run.pid, 0);
        // Recording: events reach the file, and a fusion camera's first
        // frames theirs (a set stopped before its first frame is a failure).
        const std::string mp4 = dir.file(serial + ".mp4");
        ASSERT_TRUE(waitFor([&] {
            std::error_code ec, ec2;
            return fs::file_size(raw, ec) > 200000 && !ec &&
                   (serial != SimulatedBackend::kQuentaSerial ||
                    (fs::file_size(mp4, ec2) > 4096 && !ec2));
        }));
        ASSERT_EQ(::kill(run.pid, SIGINT), 0);
        const int status = run.wait();
        const std::vector<uint8_t> text = readBytes(out);
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        auto kv = keyValues(std::string(text.begin(), text.end()));
        EXPECT_EQ(kv["file"], raw);
        auto events = DvsFileReader::createFileReader(raw);
        ASSERT_NE(events, nullptr);
        ASSERT_TRUE(events->openForReading());
        const uint64_t stored = decodeAll(*events).events.size();
        EXPECT_GT(stored, 0u);
        EXPECT_EQ(std::to_string(stored), kv["events_written"]);
        if (serial == SimulatedBackend::kQuentaSerial) {
            // A loaded machine may make the encoder drop frames: then they
            // are counted and the run fails, but the file is whole.
            EXPECT_EQ(status, kv["frames_dropped"] == "0" ? 0 : 1);
            auto frames = ApsFileReader::createFileReader(dir.file(serial + ".mp4"));
            ASSERT_NE(frames, nullptr);
            ASSERT_TRUE(frames->openForReading());
            EXPECT_EQ(std::to_string(frames->getFrameCount()), kv["frames_written"]);
        } else {
            EXPECT_EQ(status, 0);
        }
    }
#endif
}

// A file size limit (ulimit -f) ends a recording as a full disk does: the
// process exits by itself with its figures, and the files hold exactly what
// they say (no word or frames piece cut in the middle).
TEST(KvcamTest, FileSizeLimitEndsTheRecordingAsAFullDiskDoes) {
    VELQORA_SKIP_ON_WINDOWS("no ulimit to stand for a full disk");
#if !defined(_WIN32) && defined(VELQORA_HAVE_VIDEO)
    ScratchDir dir;
    // A few hundred kB; at a low event rate the fusion camera's frames
    // file reaches the limit first.
    const std::string env = "ulimit -f 400; XDG_DATA_HOME=" + dir.file("data") + " ";
    for (const auto& [serial, rate] :
         {std::pair<std::string, const char*>{SimulatedBackend::kEvk4Serial, "1000000"},
          {SimulatedBackend::kQuentaSerial, "10000"}}) {
        SCOPED_TRACE(serial);
        const std::string raw = dir.file(serial + ".raw");
        const auto t0 = std::chrono::steady_clock::now();
        const CliRun r = runTool(
            KVCAM_PATH, "record " + serial + " " + raw + " --seconds 60 --rate " + rate, "", env);
        // Ends at the failure, not when its seconds run out (a generous
        // margin for a loaded machine).
        EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(40));
        SCOPED_TRACE(r.out);
        EXPECT_EQ(r.status, 1) << "exits by itself, reporting the failure";
        auto kv = keyValues(r.out);
        EXPECT_FALSE(kv["error"].empty());
        auto events = DvsFileReader::createFileReader(raw);
        ASSERT_NE(events, nullptr);
        ASSERT_TRUE(events->openForReading());
        EXPECT_EQ(std::to_string(decodeAll(*events).events.size()), kv["events_written"]);
        if (serial == SimulatedBackend::kQuentaSerial) {
            auto frames = ApsFileReader::createFileReader(dir.file(serial + ".mp4"));
            ASSERT_NE(frames, nullptr);
            ASSERT_TRUE(frames->openForReading());
            EXPECT_EQ(std::to_string(frames->getFrameCount()), kv["frames_written"]);
        }
    }
#endif
}

#if !defined(_WIN32)
TEST(KvcamTest, ReplayAddListRemoveManageTheFolderAndRefuseWithAReason) {
    ScratchDir dir;
    const std::string env = "XDG_DATA_HOME=" + dir.file("data") + " ";
    const std::string folder = dir.file("data/Korvane/KorvaneDriver/replay");
    auto run = [&](const std::string& args) {
        return runTool(KVCAM_PATH, args, dir.file("err.txt"), env);
    };
    SyntheticOptions o;
    o.duration_us = 500000;
    o.startTime_us = 1000;
    const std::string source = generate(dir, "walk.raw", o);
    auto reader = openReader(source);
    ASSERT_TRUE(reader);
    uint64_t first = 0, last = 0;
    ASSERT_TRUE(reader->getStartTime(first) && reader->getEndTime(last));
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.6f", double(last - first + 1) / 1e6);

    CliRun r = run("replay add " + source);
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string walk = ReplayBackend::serialFor("walk");
    EXPECT_EQ(r.out, "walk\t" + walk + "\t" + folder + "/walk.raw\n");
    // A name beyond ASCII is listed as it is, so a script can give it back to remove.
    r = run("replay add " + source + " --name 'second täke'");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string second = ReplayBackend::serialFor("second täke");
    EXPECT_TRUE(fs::is_symlink(folder + "/second täke.raw"));

    r = run("replay list");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "second täke\t" + second + "\t" + source + "\t" + duration + "\n" + "walk\t" +
                         walk + "\t" + source + "\t" + duration + "\n");
    r = run("list");
    EXPECT_NE(r.out.find(walk + "\tReplay\tKorvane\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find(second + "\tReplay\tKorvane\n"), std::string::npos) << r.out;
    r = run("stream " + walk + " --seconds 1 --batch-us 100000");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out.rfind("second 1 events_per_s ", 0), 0u) << r.out;
    EXPECT_EQ(run("stream " + walk + " --seconds 1 --rate 5").status, 2) << "no scene rate";

    // A recording put in the folder itself, and a folder named like one: remove
    // deletes links only, never a recording (nor a folder).
    fs::copy_file(source, folder + "/copied.raw");
    fs::create_directory(folder + "/sub.raw");
    fs::create_symlink(source, folder + "/cased.RAW");  // the replay "cased" already
    writeBytes(dir.file("notes.raw"), std::vector<uint8_t>(4000, 'n'));
    writeBytes(dir.file("empty.raw"), {});
    const std::string header = generateDvsFileHeader(DvsFileInfo{});
    writeBytes(dir.file("bare.raw"), std::vector<uint8_t>(header.begin(), header.end()));
    struct Refusal {
        std::string args, reason;
    };
    for (const Refusal& t : std::vector<Refusal>{
             {"replay add " + source, "the name 'walk' is already taken"},
             {"replay add " + source + " --name a/b", "'/'"},
             {"replay add " + source + " --name ..", "not a file name"},
             {"replay add " + dir.file("missing.raw"), "missing.raw"},
             {"replay add " + dir.file("notes.raw"), "notes.raw"},
             {"replay add " + dir.file("empty.raw"), "empty file"},
             {"replay add " + dir.file("bare.raw"), "holds no events"},
             {"replay add " + dir.path().string(), "not a regular file"},
             {"replay remove nobody", "no replay named 'nobody'"},
             {"replay remove sub/walk", "'/'"},
             {"replay remove copied", "not a link"},
             {"replay add " + source + " --name cased", "the name 'cased' is already taken"},
             {"replay remove sub", "not a link"},
         }) {
        r = run(t.args);
        EXPECT_EQ(r.status, 1) << t.args;
        EXPECT_NE(r.err.find(t.reason), std::string::npos) << t.args << ": " << r.err;
    }
    EXPECT_TRUE(fs::is_regular_file(folder + "/copied.raw")) << "a recording is never removed";
    EXPECT_TRUE(fs::is_directory(folder + "/sub.raw"));
    fs::remove(folder + "/copied.raw");
    fs::remove(folder + "/sub.raw");
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/cased.raw")));
    fs::remove(folder + "/cased.RAW");
    EXPECT_EQ(run("replay").status, 2);
    EXPECT_EQ(run("replay list extra").status, 2);

    r = run("replay remove walk");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/walk.raw")));
    EXPECT_TRUE(fs::is_regular_file(source)) << "the recording itself stays";
    r = run("replay list");
    EXPECT_EQ(r.out.find("walk\t"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("second täke\t"), std::string::npos) << r.out;
    EXPECT_EQ(run("replay remove 'second täke'").status, 0);
    EXPECT_FALSE(fs::exists(fs::symlink_status(folder + "/second täke.raw")));

    // A recording gone from under its link: listed as unreadable, not a camera.
    ASSERT_EQ(run("replay add " + source + " --name later").status, 0);
    fs::remove(source);
    r = run("replay list");
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("later\t" + ReplayBackend::serialFor("later") + "\t" + source + "\t-\n"),
              std::string::npos)
        << r.out;
    EXPECT_EQ(run("list").out.find("KVREPLAY-"), std::string::npos);
}
#endif
