#include "DriverReason.h"

DriverReason splitDriverReason(const std::string& driverReason) {
    DriverReason r;
    r.why = driverReason;
    r.creating = driverReason.rfind("cannot create ", 0) == 0;
    if (r.creating || driverReason.rfind("cannot open: ", 0) == 0) {
        const size_t colon = driverReason.rfind(": ");
        r.why = colon == std::string::npos ? std::string() : driverReason.substr(colon + 2);
    }
    return r;
}

const char* knownDriverReason(const std::string& why,
                              std::initializer_list<KnownDriverReason> known,
                              const char* otherwise) {
    for (const KnownDriverReason& k : known)
        if (why == k.driver) return k.text;
    return otherwise;
}
