#pragma once

// RAW header generation and small text utilities. None of these keep state;
// all may be called from any thread.

#include <cstdint>
#include <string>
#include <vector>

#include "DvsFileInfo.h"
#include "KorvaneBaseExport.h"

namespace korvane {

// The "% ..." header that opens every recording, ending with "% end\n".
KORVANE_BASE_API std::string generateDvsFileHeader(const DvsFileInfo& info);

// Local time as "%Y-%m-%d %H:%M:%S".
KORVANE_BASE_API std::string getSysTime();

// Upper-case hex (two's complement for negatives), zero-padded to at least width.
KORVANE_BASE_API std::string hexToString(int32_t value, int32_t width);

// Decimal, zero-padded on the left to at least width (zeros go before a minus sign).
KORVANE_BASE_API std::string intToString(int32_t value, int32_t width);

// Between the system's narrow (locale) encoding and UTF-8. local8bitToUtf8
// throws std::runtime_error on input it cannot convert; utf8ToLocal8Bit
// returns an empty text instead.
KORVANE_BASE_API std::string local8bitToUtf8(const std::string& text);
KORVANE_BASE_API std::string utf8ToLocal8Bit(const std::string& text);

// Swaps bytes 0/1, 2/3, ... in place; an odd last byte stays.
KORVANE_BASE_API void convertEndian(std::vector<uint8_t>& bytes);

// Power-cycles every present USB device with these ids. True when at least
// one device was found and re-enabled. Blocks >= 100 ms per matching device.
KORVANE_BASE_API bool restartUSBDevice(uint16_t vendorId, uint16_t productId);

namespace detail {
// Converts between two iconv code sets; throws std::runtime_error(failureText)
// when the text cannot be converted.
KORVANE_BASE_API std::string convertCodeset(const std::string& text, const char* from,
                                            const char* to, const char* failureText);

// The Linux restart over a sysfs tree rooted at usbDevicesDir (normally
// /sys/bus/usb/devices). whileDisabled, when set, runs during the pause.
KORVANE_BASE_API bool restartUSBDeviceAt(const std::string& usbDevicesDir, uint16_t vendorId,
                                         uint16_t productId, void (*whileDisabled)(void*) = nullptr,
                                         void* context = nullptr);
}  // namespace detail

}  // namespace korvane
