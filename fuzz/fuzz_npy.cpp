// A .npy input of any bytes: converting it must end in a result or a reason,
// never in a crash, a hang or a read outside the file.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "korvane/convert/Convert.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string dir = "/tmp/velqora_fuzz_npy_" + std::to_string(::getpid());
    static const int made = ::mkdir(dir.c_str(), 0700);
    (void)made;
    const std::string in = dir + "/in.npy";
    FILE* f = std::fopen(in.c_str(), "wb");
    if (!f) return 0;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    korvane::ConvertResult result;
    std::string error;
    korvane::convertRecording(in, dir + "/out.csv", {}, &result, &error);
    return 0;
}
