#include "Convert.h"

namespace korvane {

// Placeholder until the converters land.
bool convertRecording(const std::string&, const std::string&, const ConvertOptions&,
                      ConvertResult*, std::string* error) {
    if (error) *error = "conversion is not available in this build";
    return false;
}

}  // namespace korvane
