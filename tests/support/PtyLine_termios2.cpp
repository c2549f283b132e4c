#include "PtyPair.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace cport {

TPtyLine ReadPtyLine(int AFd) {
    termios2 line{};
    if (::ioctl(AFd, TCGETS2, &line) != 0)
        throw std::runtime_error(std::string("TCGETS2: ") + std::strerror(errno));
    TPtyLine result;
    result.IFlag = line.c_iflag;
    result.OFlag = line.c_oflag;
    result.CFlag = line.c_cflag;
    result.LFlag = line.c_lflag;
    std::copy_n(line.c_cc, std::min(result.Cc.size(), sizeof line.c_cc), result.Cc.begin());
    result.ISpeed = line.c_ispeed;
    result.OSpeed = line.c_ospeed;
    return result;
}

} // namespace cport
