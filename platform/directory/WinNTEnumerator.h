#pragma once
// A walk over objects gathered beforehand.

#include "platform/directory/DirectoryEnumerator.h"
#include "platform/directory/DirectoryObject.h"

#include <memory>
#include <vector>

class WinNTEnumerator : public DirectoryEnumerator {
public:
    explicit WinNTEnumerator(std::vector<std::unique_ptr<DirectoryObject>> objects) : objects_(std::move(objects)) {}

    HRESULT Next(std::unique_ptr<DirectoryObject>& object) override;

private:
    std::vector<std::unique_ptr<DirectoryObject>> objects_;
    size_t next_ = 0;
};
