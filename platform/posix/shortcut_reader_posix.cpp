#include "platform/posix/shortcut_reader_posix.h"

#include <string>
#include <vector>

#include "platform/posix/file_system_posix.h"

namespace rivak::posix {

namespace {

std::string IconvName(const std::string& codePage) {
    if (codePage == "65001" || codePage == "CP65001" || codePage == "cp65001") return "UTF-8";  // iconv knows no such name
    if (!codePage.empty() && codePage.find_first_not_of("0123456789") == std::string::npos) return "CP" + codePage;
    return codePage;
}

}  // namespace

AnsiCodePage::AnsiCodePage(const std::string& codePage)
    : cd_(iconv_open("UTF-16LE", IconvName(codePage).c_str())) {}

AnsiCodePage::~AnsiCodePage() {
    if (valid()) iconv_close(cd_);
}

std::optional<std::u16string> AnsiCodePage::Decode(std::string_view bytes) {
    if (!valid()) return std::nullopt;
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    std::vector<char> out(bytes.size() * 4 + 8);
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* dst = out.data();
    std::size_t outLeft = out.size();
    if (iconv(cd_, &in, &inLeft, &dst, &outLeft) == static_cast<std::size_t>(-1)) return std::nullopt;
    return lnk::Utf16OfBytes({reinterpret_cast<const unsigned char*>(out.data()), static_cast<std::size_t>(dst - out.data())});
}

std::optional<Path> PosixShortcutReader::Target(const Path& shortcutFile) {
    if (!fs_) return std::nullopt;
    // Why a shortcut keeps its own path is shown to a user who asks (-v).
    const auto note = [&](Problem why, const std::string& detail) -> std::optional<Path> {
        if (refused_.insert(shortcutFile).second) fs_->Refuse(shortcutFile, why, detail);
        return std::nullopt;
    };
    bool tooLarge = false;
    const std::optional<std::vector<unsigned char>> data = fs_->ReadFile(shortcutFile, lnk::kMaxShellLinkSize, &tooLarge);
    if (tooLarge) return note(Problem::ShortcutTooLarge, std::to_string(lnk::kMaxShellLinkSize));
    if (!data) return std::nullopt;
    std::string refusal;
    const std::optional<lnk::ShellLinkTarget> target = lnk::ReadShellLink(
        *data, [this](std::string_view bytes) { return codePage_.Decode(bytes); }, &refusal);
    if (!target) return note(Problem::Shortcut, refusal);

    std::optional<Path> path;
    switch (target->kind) {
    case lnk::ShellLinkTarget::Kind::NotAFile:
        return Path();
    case lnk::ShellLinkTarget::Kind::Unresolvable:
        if (!target->localPath) return note(Problem::WindowsOnly, Utf8(target->path));
        path = drives_.Map(Utf8(*target->localPath));
        if (!path) return note(Problem::Unmapped, Utf8(*target->localPath));
        break;
    case lnk::ShellLinkTarget::Kind::Absolute:
        path = drives_.Map(Utf8(target->path));
        if (!path) return note(Problem::Unmapped, Utf8(target->path));
        break;
    case lnk::ShellLinkTarget::Kind::Relative: {
        const std::size_t slash = shortcutFile.rfind('/');
        const Path folder = slash == Path::npos ? Path(".") : slash == 0 ? Path("/") : shortcutFile.substr(0, slash);
        path = JoinRelative(folder, Utf8(target->path));
        break;
    }
    }
    if (!path) return std::nullopt;
    if (followOutside_ || fs_->LeadsAnywhere(shortcutFile)) {
        // Where the shortcut points is the user's choice, as a path given on
        // the command line is: its links are followed.
        fs_->Follow(*path);
        if (!fs_->Reaches(*path)) {
            fs_->Refuse(shortcutFile, Problem::Dangling, *path);
            return Path();
        }
        return path;
    }
    Path inside;
    switch (fs_->Beneath(shortcutFile, *path, inside)) {
    case PosixFileSystem::Reach::Inside:
        return inside;
    case PosixFileSystem::Reach::Missing:
        fs_->Refuse(shortcutFile, Problem::Dangling, *path);
        return Path();
    case PosixFileSystem::Reach::Outside:
        break;
    }
    if (refused_.insert(shortcutFile).second) fs_->Fail(shortcutFile, Problem::Outside, 0);
    return std::nullopt;
}

}  // namespace rivak::posix
