#include "platform/posix/drive_map.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>

namespace rivak::posix {

namespace {


std::string Folded(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = AsciiLower(c == '/' ? '\\' : c);
    return out;
}

bool SameFolded(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    return true;
}

bool IsDrive(std::string_view root) {
    return root.size() == 2 && root[1] == ':' && AsciiLower(root[0]) >= 'a' && AsciiLower(root[0]) <= 'z';
}

// "\\server\share": two names, neither empty.
bool IsShare(std::string_view root) {
    if (root.size() < 5 || root[0] != '\\' || root[1] != '\\') return false;
    const std::size_t slash = root.find('\\', 2);
    return slash != std::string_view::npos && slash > 2 && slash + 1 < root.size() &&
           root.find('\\', slash + 1) == std::string_view::npos;
}

bool Exists(const Path& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// `name` in `folder`, or the one entry that equals it without regard to ASCII case.
std::optional<std::string> FindName(const Path& folder, const std::string& name) {
    if (Exists(folder + '/' + name)) return name;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(folder.c_str()), closedir);
    if (!dir) return std::nullopt;
    while (const dirent* d = readdir(dir.get())) {
        if (SameFolded(d->d_name, name)) return std::string(d->d_name);
    }
    return std::nullopt;
}

// `folder` followed by the names of a Windows path (either separator).
Path AppendNames(Path out, std::string_view names) {
    std::size_t pos = 0;
    while (pos < names.size()) {
        std::size_t end = names.find_first_of("\\/", pos);
        if (end == std::string_view::npos) end = names.size();
        const std::string name(names.substr(pos, end - pos));
        pos = end + 1;
        if (name.empty() || name == ".") continue;
        const bool dots = name == "..";
        const std::optional<std::string> found = dots ? std::optional<std::string>(name) : FindName(out, name);
        if (out.back() != '/') out += '/';
        out += found ? *found : name;
    }
    return out;
}

}  // namespace


bool DriveMap::Add(std::string_view root, const Path& folder) {
    const std::string key = Folded(root);
    if (folder.empty() || (!IsDrive(key) && !IsShare(key))) return false;
    for (const Entry& e : entries_)
        if (e.root == key) return true;
    Path trimmed = folder;
    while (trimmed.size() > 1 && trimmed.back() == '/') trimmed.pop_back();
    entries_.push_back(Entry{key, trimmed});
    return true;
}

void DriveMap::AddWinePrefix(const Path& prefix) {
    const Path devices = prefix + "/dosdevices";
    const auto resolved = [](const Path& p) {
        std::unique_ptr<char, void (*)(void*)> real(realpath(p.c_str(), nullptr), std::free);
        return real ? Path(real.get()) : p;
    };
    for (char letter = 'a'; letter <= 'z'; ++letter) {
        const std::string drive{letter, ':'};
        if (Exists(devices + '/' + drive)) Add(drive, resolved(devices + '/' + drive));
    }
    std::unique_ptr<DIR, int (*)(DIR*)> servers(opendir((devices + "/unc").c_str()), closedir);
    if (!servers) return;
    while (const dirent* s = readdir(servers.get())) {
        const std::string server = s->d_name;
        if (server == "." || server == "..") continue;
        std::unique_ptr<DIR, int (*)(DIR*)> shares(opendir((devices + "/unc/" + server).c_str()), closedir);
        if (!shares) continue;
        while (const dirent* h = readdir(shares.get())) {
            const std::string share = h->d_name;
            if (share == "." || share == "..") continue;
            Add("\\\\" + server + "\\" + share, resolved(devices + "/unc/" + server + "/" + share));
        }
    }
}

std::optional<Path> DriveMap::Map(std::string_view windowsPath) const {
    const std::string folded = Folded(windowsPath);
    for (const Entry& e : entries_) {
        if (folded.compare(0, e.root.size(), e.root) != 0) continue;
        if (folded.size() > e.root.size() && folded[e.root.size()] != '\\') continue;  // "\\s\sharex"
        Path out = AppendNames(e.folder, windowsPath.substr(e.root.size()));
        return out;
    }
    return std::nullopt;
}

Path JoinRelative(const Path& folder, std::string_view relative) {
    return AppendNames(folder.empty() ? Path(".") : folder, relative);
}

}  // namespace rivak::posix
