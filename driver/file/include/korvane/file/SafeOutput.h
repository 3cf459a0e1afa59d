#pragma once

// All-or-nothing replacement of one output file, shared by every writer of
// the file side (cut, generated recordings, index cache).
//
// The data goes to a temporary created with O_CREAT|O_EXCL beside the target
// (never through a link planted at its name), which commit() syncs and
// renames over the target. Rules:
// - A target that exists and is not a regular file (device, FIFO, folder,
//   symbolic link) is refused, and so is a target that is one of the
//   protected inputs (same file through another path or a hard link).
// - A new file gets the mode 0666 less the umask; a replaced file keeps its
//   permission bits.
// - Until commit() or destruction the temporary is registered for removal on
//   SIGTERM and SIGINT (a handler is installed only where the process has
//   none of its own); a failure or destruction without commit removes it.
// - A writer killed outright (SIGKILL, crash) leaves its hidden temporary
//   ".NAME.part-PID-XXXXXXXX"; the next open() for the same target removes
//   such leftovers once their process is gone and they are a minute old.
// Owned by one thread; the signal cleanup is async-signal-safe.

#include <cstdint>
#include <string>
#include <vector>

namespace korvane {

// Identity of an open file, to recognise it under another name.
struct FileIdentity {
    uint64_t device = 0;
    uint64_t inode = 0;
};

class SafeOutput {
public:
    SafeOutput() = default;
    ~SafeOutput();
    SafeOutput(const SafeOutput&) = delete;
    SafeOutput& operator=(const SafeOutput&) = delete;

    // Checks the target and creates the temporary. False with a one-line
    // reason in *error ("output is the input", "not a regular file", errno text).
    bool open(const std::string& target, const std::vector<FileIdentity>& inputs,
              std::string* error);

    // Descriptor of the temporary; -1 before open() or after commit/abandon.
    int fd() const { return fd_; }
    const std::string& temporaryPath() const { return tmp_; }

    // Syncs, sets the mode, renames over the target. False (temporary removed,
    // target untouched) with the reason in *error.
    bool commit(std::string* error);
    // Removes the temporary; the target stays as it was.
    void abandon();

    // Longest file name part (bytes) of the target's own name used in the
    // temporary's name, so a target name near the system limit still works.
    static constexpr size_t kMaxNameStem = 96;

private:
    int fd_ = -1;
    int slot_ = -1;  // signal cleanup registration
    std::string target_;
    std::string tmp_;
    bool keepMode_ = false;
    unsigned mode_ = 0;
};

// Opens a file that is written in place under its final name, so that it
// plays while it grows and after its writer was killed (camera recordings).
// The rules of SafeOutput hold: a link at the target is never followed and
// a target that exists and is not a regular file is refused. A target that
// another writer holds is refused too: the file is locked (flock, exclusive,
// on the open file) before it is truncated. A lock rather than an O_EXCL
// marker file because the kernel drops it with the descriptor, so a writer
// killed outright leaves nothing that would refuse the next recording. The
// caller keeps the descriptor (and so the lock) open until the file is done.
// New files get the mode 0666 less the umask. -1 with a one-line reason in
// *error ("output is a symbolic link", "output exists and is not a regular
// file", "output is being written by another recording", errno text).
int openInPlaceOutput(const std::string& target, std::string* error);

// Removes files in `dir` named PREFIX + PID + "-" + anything that a killed
// process of ours left: only when no process PID exists, the file is a
// regular file of this user, and it was not modified for minAge_s (a process
// in another namespace may share the folder). Any thread.
void removeOrphanedFiles(const std::string& dir, const std::string& prefix, long minAge_s);

// Identity of the file behind a path (following links); false when it cannot be stat'ed.
bool fileIdentity(const std::string& path, FileIdentity& id);

// errno as one line of text.
std::string errnoText(int error);

}  // namespace korvane
