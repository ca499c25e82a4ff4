#pragma once
// The names of a path, one at a time, as they lie between its slashes. An
// empty name (a doubled or a trailing slash) comes out too: each caller
// says what it means.
#include <cstddef>
#include <string>
#include <string_view>

namespace rivak::posix {

inline bool IsDotOrDotDot(std::string_view name) { return name == "." || name == ".."; }

// The last name of a path and the folder before it, split the way the walk
// joins them (folder + "/" + name), so the folder is the walk's own string.
struct LastName {
    std::string folder;
    std::string name;
    bool hasFolder;
};
inline LastName SplitLast(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/') --end;
    const std::size_t slash = end == 0 ? std::string::npos : path.rfind('/', end - 1);
    if (slash == std::string::npos || end == 1) return {std::string(), path.substr(0, end), false};  // a name, or "/"
    return {slash == 0 ? std::string("/") : path.substr(0, slash), path.substr(slash + 1, end - slash - 1), true};
}

class PathNames {
public:
    explicit PathNames(std::string_view path, std::size_t from = 0) : path_(path), next_(from) {}
    // The next name; false once the path is read to its end.
    bool Next(std::string_view& name) {
        if (next_ > path_.size()) return false;
        std::size_t end = path_.find('/', next_);
        if (end == std::string_view::npos) end = path_.size();
        name = path_.substr(next_, end - next_);
        end_ = end;
        next_ = end + 1;
        return true;
    }
    // Whether the name read last was the path's last.
    bool Last() const { return next_ > path_.size(); }
    // Where the name read last ends in the path.
    std::size_t End() const { return end_; }

private:
    std::string_view path_;
    std::size_t next_ = 0;
    std::size_t end_ = 0;
};

}  // namespace rivak::posix
