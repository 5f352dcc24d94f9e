#include "platform/directory/WinNTEnumerator.h"

HRESULT WinNTEnumerator::Next(std::unique_ptr<DirectoryObject>& object)
{
    if (next_ >= objects_.size()) {
        object.reset();
        return S_FALSE;
    }
    object = std::move(objects_[next_++]);
    return S_OK;
}
