#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "Utils/FuncUtils.h"

using namespace korvane;
namespace fs = std::filesystem;

#if defined(_WIN32)

// Wine (and a machine without the camera) has no device with this id: the
// device set is still enumerated, and only the first line is logged.
TEST(UsbRestartTest, NoMatchingDeviceIsFalseWithOneLine) {
    for (auto [vid, pid, text] : {std::tuple{0x1a2b, 0x0c0d, "1a2b:0c0d"},
                                  std::tuple{0xffff, 0x0000, "ffff:0000"}}) {
        testing::internal::CaptureStdout();
        const bool ok = restartUSBDevice(uint16_t(vid), uint16_t(pid));
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_FALSE(ok);
        EXPECT_NE(out.find(std::string("Restart USB device: ") + text), std::string::npos) << out;
        EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 1) << out;
    }
}

#else

namespace {

class FakeSysfs {
public:
    FakeSysfs() {
        static int n = 0;  // two trees in one test must not share a folder
        root_ = fs::temp_directory_path() /
                ("velqora_usb_" + std::to_string(::getpid()) + "_" + std::to_string(n++));
        fs::remove_all(root_);
        fs::create_directories(root_);
    }
    ~FakeSysfs() { fs::remove_all(root_); }

    void addDevice(const std::string& name, const std::string& vid, const std::string& pid,
                   bool withAuthorized = true) {
        fs::path d = root_ / name;
        fs::create_directories(d);
        write(d / "idVendor", vid + "\n");
        write(d / "idProduct", pid + "\n");
        if (withAuthorized) write(d / "authorized", "1\n");
    }
    void addInterface(const std::string& name) { fs::create_directories(root_ / name); }

    std::string authorized(const std::string& name) const {
        std::ifstream in(root_ / name / "authorized");
        std::string s;
        in >> s;
        return s;
    }
    std::string root() const { return root_.string(); }

private:
    static void write(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }
    fs::path root_;
};

struct Probe {
    const FakeSysfs* sysfs;
    std::vector<std::string> names;
    std::vector<std::string> seen;
};

void recordWhileDisabled(void* context) {
    auto* probe = static_cast<Probe*>(context);
    std::string states;
    for (const auto& n : probe->names)
        states += probe->sysfs->authorized(n);
    probe->seen.push_back(states);
}

// What restartUSBDeviceAt prints, and its result in ok.
std::string restart(const std::string& root, bool& ok, void (*whileDisabled)(void*) = nullptr,
                    void* context = nullptr) {
    testing::internal::CaptureStdout();
    ok = detail::restartUSBDeviceAt(root, 0x1a2b, 0x0c0d, whileDisabled, context);
    return testing::internal::GetCapturedStdout();
}

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

}  // namespace

TEST(UsbRestartTest, NoMatchingDeviceOrNoTreeIsFalse) {
    FakeSysfs sysfs;
    sysfs.addDevice("1-1", "1a2b", "0c0e");
    sysfs.addInterface("1-1:1.0");
    bool ok = true;
    const std::string out = restart(sysfs.root(), ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(out.find("Restart USB device: 1a2b:0c0d"), std::string::npos);
    EXPECT_EQ(count(out, "\n"), 1) << out;
    EXPECT_EQ(sysfs.authorized("1-1"), "1");
    ok = true;
    restart("/nonexistent/usb", ok);
    EXPECT_FALSE(ok);
}

TEST(UsbRestartTest, OneAndTwoMatchingDevicesAreCycled) {
    FakeSysfs sysfs;
    sysfs.addDevice("1-1", "1A2B", "0C0D");  // upper case in sysfs is matched too
    sysfs.addDevice("2-3.1", "1a2b", "0c0d");
    sysfs.addDevice("3-1", "dead", "beef");
    Probe probe{&sysfs, {"1-1", "2-3.1", "3-1"}, {}};

    bool ok = false;
    std::string out = restart(sysfs.root(), ok, recordWhileDisabled, &probe);
    EXPECT_TRUE(ok);
    // While each device is paused it is unauthorised; the unrelated one never is.
    ASSERT_EQ(probe.seen.size(), 2u);
    EXPECT_EQ(probe.seen[0], "011");
    EXPECT_EQ(probe.seen[1], "101");
    EXPECT_EQ(sysfs.authorized("1-1"), "1");
    EXPECT_EQ(sysfs.authorized("2-3.1"), "1");
    EXPECT_EQ(count(out, "Restart USB device success."), 2);
    EXPECT_NE(out.find("Find USB device: 1-1 (VID_1A2B&PID_0C0D)"), std::string::npos);
    EXPECT_NE(out.find("Find USB device: 2-3.1 (VID_1A2B&PID_0C0D)"), std::string::npos);

    FakeSysfs single;
    single.addDevice("4-2", "1a2b", "0c0d");
    out = restart(single.root(), ok);
    EXPECT_TRUE(ok);
    EXPECT_EQ(count(out, "Restart USB device success."), 1);
}

TEST(UsbRestartTest, DeviceThatCannotBeEnabledIsNoSuccess) {
    FakeSysfs sysfs;
    sysfs.addDevice("1-4", "1a2b", "0c0d", /*withAuthorized=*/false);
    bool ok = true;
    const std::string out = restart(sysfs.root(), ok);
    EXPECT_FALSE(ok);
    EXPECT_NE(out.find("Disable USB device error."), std::string::npos);
    EXPECT_NE(out.find("Enable USB device error."), std::string::npos);
    EXPECT_EQ(out.find("Restart USB device success."), std::string::npos);
    EXPECT_FALSE(fs::exists(fs::path(sysfs.root()) / "1-4" / "authorized"));
}

#endif
