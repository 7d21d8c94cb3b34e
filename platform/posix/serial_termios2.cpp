// Arbitrary baud rates through termios2 (BOTHER). Kept apart because the
// kernel's <asm/termbits.h> and glibc's <termios.h> cannot share a file.
#include <asm/termbits.h>
#include <sys/ioctl.h>

namespace winapi_posix {

bool SetCustomBaudRate(int fd, unsigned baud)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return false;
    tio.c_cflag &= ~CBAUD;
    tio.c_cflag |= BOTHER;
    tio.c_cflag &= ~(CBAUD << IBSHIFT);
    tio.c_cflag |= BOTHER << IBSHIFT;
    tio.c_ispeed = baud;
    tio.c_ospeed = baud;
    return ioctl(fd, TCSETS2, &tio) == 0;
}

unsigned CurrentBaudRate(int fd)
{
    struct termios2 tio;
    if (ioctl(fd, TCGETS2, &tio) != 0) return 0;
    return tio.c_ospeed;
}

}  // namespace winapi_posix
