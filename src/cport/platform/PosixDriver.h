// Placeholder until the POSIX device driver lands: every operation fails with ENOSYS.
#pragma once

namespace cport {
class TPosixDriver {};
} // namespace cport
