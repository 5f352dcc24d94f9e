#pragma once
// Bulk files: WriteWholeFile (1011) and ReadWholeFile (1012) of a 64 MiB file,
// in MB/s, beside the plain server moving messages of the same sizes and the
// file system doing the same writes and reads on its own.

#include "bench/BenchContext.h"

namespace tqbench {

class FileBench {
public:
    explicit FileBench(BenchContext& context) : context_(context) {}
    void Run();

    static constexpr size_t kFileSize = size_t(64) << 20;

private:
    BenchContext& context_;
};

} // namespace tqbench
