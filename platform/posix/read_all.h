#pragma once
// Everything left to read on a descriptor: a configuration file, a save
// file, standard input.
#include <unistd.h>

#include <cerrno>
#include <optional>
#include <string>

namespace rivak::posix {

// Nothing when a read fails; errno says why.
inline std::optional<std::string> ReadAll(int fd) {
    std::string text;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return std::nullopt;
        if (n == 0) return text;
        text.append(buffer, static_cast<std::size_t>(n));
    }
}

}  // namespace rivak::posix
