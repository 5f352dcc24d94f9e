#include "platform/directory/WinNTEnumerator.h"

HRESULT CWinNTEnumerator::Next(std::unique_ptr<IDirectoryObject>& object)
{
    if (next_ >= objects_.size()) {
        object.reset();
        return S_FALSE;
    }
    object = std::move(objects_[next_++]);
    return S_OK;
}
