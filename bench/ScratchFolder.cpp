#include "bench/ScratchFolder.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace tqbench {

ScratchFolder::ScratchFolder()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/tqbench.XXXXXX";
    std::vector<char> text(pattern.begin(), pattern.end());
    text.push_back('\0');
    if (::mkdtemp(text.data()) != nullptr)
        path_ = text.data();
}

ScratchFolder::~ScratchFolder()
{
    if (!path_.empty() && !keep_) {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
}

} // namespace tqbench
