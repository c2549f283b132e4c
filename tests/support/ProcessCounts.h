// What a test counts of its own process to see that nothing is left behind (Linux).
#pragma once

#include <cstddef>
#include <dirent.h>

namespace cport::test {

// Entries of a /proc/self folder, "." and ".." left out.
inline std::size_t ProcEntries(const char* AFolder) {
    std::size_t count = 0;
    if (DIR* dir = ::opendir(AFolder)) {
        while (const dirent* entry = ::readdir(dir))
            count += entry->d_name[0] != '.' ? 1 : 0;
        ::closedir(dir);
    }
    return count;
}

inline std::size_t OpenDescriptors() {
    return ProcEntries("/proc/self/fd");
}

inline std::size_t Threads() {
    return ProcEntries("/proc/self/task");
}

} // namespace cport::test
