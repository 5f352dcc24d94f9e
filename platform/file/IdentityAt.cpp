#include "platform/file/IdentityAt.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h> // makedev

bool IdentityAt(int at, const char* path, int flags, PathIdentity* identity)
{
    struct statx st {};
    if (::statx(at, path, flags, STATX_INO | STATX_BTIME, &st) != 0)
        return false;
    identity->device = makedev(st.stx_dev_major, st.stx_dev_minor);
    identity->inode = st.stx_ino;
    // The inode number alone comes back for a folder made after the first is
    // gone; the birth time tells the two apart where the file system keeps it.
    identity->birth = (st.stx_mask & STATX_BTIME) != 0
                          ? static_cast<ULONGLONG>(st.stx_btime.tv_sec) * 1000000000ULL + st.stx_btime.tv_nsec
                          : 0;
    return true;
}
