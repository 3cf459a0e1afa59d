#include "DecoderProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzcheck::checkDecoder(korvane::RawFormat::Evt3, data, size);
    return 0;
}
