#include "Utils/FuncUtils.h"

#include <cstdio>
#include <ctime>
#include <sstream>

namespace korvane {

std::string getSysTime() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#if defined(_WIN32)
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

std::string generateDvsFileHeader(const DvsFileInfo& info) {
    std::ostringstream out;
    out << "% camera_integrator_name Korvane\n";
    out << "% date " << getSysTime() << "\n";
    out << "% evt 3.0\n";
    out << "% format EVT3; height = 720; width = 1280\n";
    out << "% generation 4.2\n";
    out << "% geometry 1280x720\n";
    out << "% integrator_name Korvane\n";
    out << "% plugin_integrator_name Korvane\n";
    out << "% plugin_name hal_plugin_korvane\n";
    out << "% sensor_generation 4.2\n";
    out << "% sensor_name IMX646\n";
    out << "% serial_number " << info.serialNumber << "\n";
    out << "% system_ID 53\n";
    out << "% dvs_start_timestamp " << info.dvsStartTimestamp << "\n";
    if (info.apsStartTimestamp != 0) {
        out << "% aps_start_timestamp " << info.apsStartTimestamp << "\n";
    }
    out << "% end\n";
    return out.str();
}

std::string hexToString(int32_t value, int32_t width) {
    char text[16];
    std::snprintf(text, sizeof text, "%X", static_cast<uint32_t>(value));
    std::string s(text);
    if (width > 0 && s.size() < size_t(width)) s.insert(0, size_t(width) - s.size(), '0');
    return s;
}

std::string intToString(int32_t value, int32_t width) {
    std::string s = std::to_string(value);
    if (width > 0 && s.size() < size_t(width)) s.insert(0, size_t(width) - s.size(), '0');
    return s;
}

void convertEndian(std::vector<uint8_t>& bytes) {
    for (size_t i = 0; i + 1 < bytes.size(); i += 2)
        std::swap(bytes[i], bytes[i + 1]);
}

}  // namespace korvane
