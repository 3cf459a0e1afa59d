#pragma once

// What a camera says about itself before and after it is opened. Value record.

#include <string>

namespace korvane {

struct CameraDescription {
    std::string serial;
    std::string product;
    std::string manufacturer;
    std::string description;  // free text, e.g. that the camera is simulated
    std::string connection;   // how it is attached ("simulated", "usb")
};

}  // namespace korvane
