#pragma once
// A walk over the children of a container or the members of a group.

#include "platform/win/WinTypes.h"

#include <memory>

class IDirectoryObject;

class IDirectoryEnumerator {
public:
    virtual ~IDirectoryEnumerator() = default;

    // S_OK with the next object; S_FALSE with an empty pointer after the last
    // one; a failure when the directory could not be asked.
    virtual HRESULT Next(std::unique_ptr<IDirectoryObject>& object) = 0;
};
