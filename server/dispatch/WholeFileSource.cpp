#include "server/dispatch/WholeFileSource.h"

#include <mutex>

CWholeFileSource::CWholeFileSource(LONG handle, size_t size)
    : handle_(handle), size_(size), file_(CFileHandleTable::Process().GetFile(handle))
{
}

CWholeFileSource::~CWholeFileSource()
{
    CFileHandleTable& table = CFileHandleTable::Process();
    // A client may have closed the handle meanwhile; then it is not ours to take.
    if (file_ != nullptr && table.GetFile(handle_) == file_)
        table.TakeFile(handle_);
    if (file_ != nullptr) {
        std::lock_guard<std::mutex> guard(file_->lock);
        file_->file.Close();
    }
}

bool CWholeFileSource::Read(size_t offset, BYTE* to, size_t length)
{
    if (file_ == nullptr || offset > size_ || length > size_ - offset)
        return false;
    // Positioned reads: a client reading through the same handle moves
    // nothing here, nor this its position.
    std::lock_guard<std::mutex> guard(file_->lock);
    size_t got = 0;
    return file_->file.IsOpen() && file_->file.ReadAt(offset, to, length, &got) && got == length;
}
