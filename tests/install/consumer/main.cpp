// Uses a record, the header text and the logger of an installed KorvaneBase;
// exits 0 only when each gives what it gives inside our own tree.
#include <cstdio>

#include "KvRecords.h"
#include "Logger.h"
#include "Utils/FuncUtils.h"

int main() {
    const korvane::Event2D e(3, 4, 1, 1000);
    if (!(e == korvane::Event2D(3, 4, 1, 1000))) return 1;
    const std::string header = korvane::generateDvsFileHeader(korvane::DvsFileInfo{});
    if (header.rfind("% ", 0) != 0 || header.find("% end") == std::string::npos) return 2;
    KV_LOG_INFO("consumer linked %d", 1);
    std::puts("consumer ok");
    return 0;
}
