#pragma once
// A walk over objects gathered beforehand.

#include "platform/directory/DirectoryEnumerator.h"
#include "platform/directory/DirectoryObject.h"

#include <memory>
#include <vector>

class CWinNTEnumerator : public IDirectoryEnumerator {
public:
    explicit CWinNTEnumerator(std::vector<std::unique_ptr<IDirectoryObject>> objects) : objects_(std::move(objects)) {}

    HRESULT Next(std::unique_ptr<IDirectoryObject>& object) override;

private:
    std::vector<std::unique_ptr<IDirectoryObject>> objects_;
    size_t next_ = 0;
};
