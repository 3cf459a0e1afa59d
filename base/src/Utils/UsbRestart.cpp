// Software power cycle of USB devices. Windows: SetupAPI and the
// configuration manager. Linux: the sysfs "authorized" attribute.

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "Logger.h"
#include "Utils/FuncUtils.h"

#if defined(_WIN32)
#include <windows.h>
// clang-format off
#include <cfgmgr32.h>
#include <setupapi.h>
// clang-format on
#else
#include <dirent.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>
#endif

namespace korvane {

#if defined(_WIN32)

bool restartUSBDevice(uint16_t vendorId, uint16_t productId) {
    KV_LOG_INFO("Restart USB device: %04x:%04x", vendorId, productId);
    HDEVINFO set = SetupDiGetClassDevsA(nullptr, "USB", nullptr, DIGCF_PRESENT | DIGCF_ALLCLASSES);
    if (set == INVALID_HANDLE_VALUE) return false;

    char vid[16], pid[16];
    std::snprintf(vid, sizeof vid, "VID_%04X", vendorId);
    std::snprintf(pid, sizeof pid, "PID_%04X", productId);
    bool cycled = false;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA info{};
        info.cbSize = sizeof info;
        if (!SetupDiEnumDeviceInfo(set, index, &info)) {
            DWORD err = GetLastError();
            if (err == ERROR_NO_MORE_ITEMS) break;
            KV_LOG_ERROR("Error in traversing usb devices. %d", int(err));
            continue;
        }
        char hwid[256] = {};
        if (!SetupDiGetDeviceRegistryPropertyA(set, &info, SPDRP_HARDWAREID, nullptr,
                                               reinterpret_cast<PBYTE>(hwid), sizeof hwid - 1,
                                               nullptr)) {
            continue;
        }
        std::string first(hwid);
        if (first.find(vid) == std::string::npos || first.find(pid) == std::string::npos) continue;

        KV_LOG_INFO("Find USB device: %s", hwid);
        CONFIGRET cr = CM_Disable_DevNode(info.DevInst, 0);
        if (cr != CR_SUCCESS) {
            KV_LOG_ERROR("Disable USB device error. %d", int(cr));
            SP_DEVINSTALL_PARAMS_A params{};
            params.cbSize = sizeof params;
            if (SetupDiGetDeviceInstallParamsA(set, &info, &params)) {
                params.Flags |= DI_AUTOASSIGNRES;
                SetupDiSetDeviceInstallParamsA(set, &info, &params);
            }
            SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &info);
        }
        Sleep(100);
        cr = CM_Enable_DevNode(info.DevInst, 0);
        if (cr != CR_SUCCESS) {
            // The device may be left disabled: that is no success.
            KV_LOG_ERROR("Enable USB device error. %d", int(cr));
            continue;
        }
        KV_LOG_INFO("Restart USB device success.");
        cycled = true;
    }
    SetupDiDestroyDeviceInfoList(set);
    return cycled;
}

#else

namespace {

bool readHexId(const std::string& path, unsigned& value) {
    std::ifstream in(path);
    std::string text;
    if (!(in >> text)) return false;
    char* end = nullptr;
    errno = 0;
    unsigned long v = std::strtoul(text.c_str(), &end, 16);
    if (errno != 0 || end == text.c_str() || *end != '\0' || v > 0xFFFF) return false;
    value = unsigned(v);
    return true;
}

// Returns 0 or the errno of the failed write. No O_CREAT: a device without
// the attribute must fail, not grow a new file.
int writeAttribute(const std::string& path, const char* value) {
    FILE* f = std::fopen(path.c_str(), "r+");
    if (!f) return errno ? errno : EIO;
    int err = 0;
    if (std::fputs(value, f) == EOF) err = errno ? errno : EIO;
    if (std::fclose(f) != 0 && err == 0) err = errno ? errno : EIO;
    return err;
}

}  // namespace

namespace detail {

bool restartUSBDeviceAt(const std::string& usbDevicesDir, uint16_t vendorId, uint16_t productId,
                        void (*whileDisabled)(void*), void* context) {
    KV_LOG_INFO("Restart USB device: %04x:%04x", vendorId, productId);
    DIR* dir = opendir(usbDevicesDir.c_str());
    if (!dir) return false;
    std::vector<std::string> names;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] != '.') names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());

    bool cycled = false;
    for (const std::string& name : names) {
        const std::string base = usbDevicesDir + "/" + name;
        unsigned vid = 0, pid = 0;
        if (!readHexId(base + "/idVendor", vid) || !readHexId(base + "/idProduct", pid)) continue;
        if (vid != vendorId || pid != productId) continue;

        char found[256];
        std::snprintf(found, sizeof found, "%s (VID_%04X&PID_%04X)", name.c_str(), vid, pid);
        KV_LOG_INFO("Find USB device: %s", found);
        const std::string authorized = base + "/authorized";
        if (int err = writeAttribute(authorized, "0")) {
            KV_LOG_ERROR("Disable USB device error. %d", err);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (whileDisabled) whileDisabled(context);
        if (int err = writeAttribute(authorized, "1")) {
            // The device may be left disabled: that is no success.
            KV_LOG_ERROR("Enable USB device error. %d", err);
            continue;
        }
        KV_LOG_INFO("Restart USB device success.");
        cycled = true;
    }
    return cycled;
}

}  // namespace detail

bool restartUSBDevice(uint16_t vendorId, uint16_t productId) {
    return detail::restartUSBDeviceAt("/sys/bus/usb/devices", vendorId, productId);
}

#endif

}  // namespace korvane
