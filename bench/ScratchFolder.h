#pragma once
// A fresh folder for one run, removed with its content at the end unless
// asked to stay.

#include <string>

namespace tqbench {

class ScratchFolder {
public:
    // Made under the system's temporary folder (TMPDIR or /tmp).
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Valid() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }
    void Keep() { keep_ = true; }

private:
    std::string path_;
    bool keep_ = false;
};

} // namespace tqbench
