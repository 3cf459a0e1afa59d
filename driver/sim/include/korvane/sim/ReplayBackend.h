#pragma once

// Recordings as cameras. Every RAW recording in the user's replay folder
// (driverDataFolder()/replay; a symbolic link to one counts, on Windows a
// copy) is a camera of product "Replay" by Korvane: a SimulatedDvsCamera
// whose events come from the file instead of the scene. It streams the
// recording's events and trigger edges at the recorded pace on its clock,
// looping at the end with camera time going on (loop k replays file time
// t as t - first + k * span, span = last - first + 1), and offers the
// tools that act on a stream in software (region of interest, event rate
// control, trail filter, anti-flicker, trigger in); no biases.
//
// Names and serials: a file NAME.raw (the ending in any case) is the replay
// NAME. Its serial is "KVREPLAY-" + the name's first 24 bytes, each letter
// upper-cased and each byte that is not a letter or digit made '_', + "-" +
// the 32-bit FNV-1a hash of the name's bytes in 8 lower-case hex digits
// (e.g. "KVREPLAY-DRIVE_1-1a2b3c4d"): the same name always gives the same
// serial, different names practically never one serial, and the serial
// holds only letters, digits, '-' and '_'.
//
// Failures: files that are not regular, hidden (a leading '.'), not RAW or
// unreadable are left out of the list; one that holds no events fails to
// open, with the reason from openFile(). A listed file removed while its
// camera is open unplugs the camera.
//
// Threads: any; the list of open cameras is locked.

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "korvane/camera/DvsCameraManager.h"
#include "korvane/sim/SimulatedDvsCamera.h"

namespace korvane {

// The camera libraries' per-user data folder (calibrations, replays).
std::string driverDataFolder();

struct ReplayEntry {
    std::string name;
    std::string serial;
    std::string path;    // in the folder
    std::string target;  // the recording the link points to (the path itself when no link)
    bool readable = false;
    std::string error;        // why not
    std::string description;  // the camera's, when readable
};

class ReplayBackend : public CameraBackend {
public:
    static constexpr const char* kProduct = "Replay";

    // clock: null gives each camera wall time; a test's manual clock is
    // shared by the cameras this backend opens.
    explicit ReplayBackend(std::string folder = defaultFolder(),
                           std::shared_ptr<CameraClock> clock = nullptr);

    std::vector<CameraDescription> listCameras() override;
    std::shared_ptr<DvsCamera> openCamera(const std::string& serial) override;

    // Every NAME.raw of the folder by name, readable or not (never throws).
    std::vector<ReplayEntry> entries() const;
    const std::string& folder() const { return folder_; }

    static std::string defaultFolder();
    static std::string serialFor(const std::string& name);
    // A camera on the recording at path (local 8-bit encoding). Null, with
    // the reason in *error, when the file cannot be read or holds no events.
    static std::shared_ptr<SimulatedDvsCamera> openFile(const std::string& path,
                                                        const std::string& serial,
                                                        std::shared_ptr<CameraClock> clock,
                                                        std::string* error);

    // The folder's management (kvcam replay). add links file into folder as
    // name.raw (name empty: the file's name without its .raw ending); it
    // refuses a file that is not a readable RAW recording with events, a
    // name already taken and a name with separators or control characters.
    // remove deletes the link only, never the recording it points to, and
    // refuses a recording put in the folder itself (on Windows, where add
    // copies, it removes the copy).
    static bool add(const std::string& folder, const std::string& file, std::string name,
                    std::string* error, ReplayEntry* added = nullptr);
    static bool remove(const std::string& folder, const std::string& name, std::string* error);

private:
    std::string folder_;
    std::shared_ptr<CameraClock> clock_;
    std::mutex mutex_;
    std::map<std::string, std::weak_ptr<SimulatedDvsCamera>> open_;
};

}  // namespace korvane
