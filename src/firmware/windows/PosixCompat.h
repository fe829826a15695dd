// The few POSIX names the firmware file code uses that MinGW's C runtime
// spells differently or lacks. Included ahead of every firmware source in a
// Windows build (src/firmware/CMakeLists.txt). Files are always opened in
// binary mode: the line reader sees every CR and 0x1A byte itself.
#pragma once

#include <fcntl.h>
#include <io.h>
#include <sys/types.h>

#ifndef O_CLOEXEC
#define O_CLOEXEC (O_NOINHERIT | O_BINARY)
#endif
#ifndef O_NONBLOCK
#define O_NONBLOCK 0  // files do not block; a device path opens as a file would
#endif

// Windows keeps no POSIX permission bits beyond read-only: nothing to copy.
inline int fchmod(int /*fd*/, int /*mode*/) {
    return 0;
}

inline int fsync(int fd) {
    return _commit(fd);
}
