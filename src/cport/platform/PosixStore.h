// Placeholder until the POSIX registry and profile store lands: every operation fails with ENOSYS.
#pragma once

namespace cport {
class TPosixStore {};
} // namespace cport
