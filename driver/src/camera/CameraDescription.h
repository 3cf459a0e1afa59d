#pragma once

// What a camera says about itself: a copyable record. The serial comes
// first; it is what the program shows and what it passes back to open the
// camera. No Qt.

#include <string>

namespace korvane {

struct CameraDescription {
    std::string serial;
    std::string product;
    std::string manufacturer;
};

}  // namespace korvane
