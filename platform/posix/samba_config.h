#pragma once
// The shares smbd serves and how each keeps the DOS attributes, read from
// smb.conf as smbd reads it: sections and "name = value" lines, names in any
// case and with any blanks, lines continued by a trailing backslash, comments
// from '#' or ';', "include =" read where it stands, and [global] giving the
// shares that follow it their defaults. Only the settings rivak needs.
#include <string>
#include <vector>

namespace rivak::posix {

// How smbd keeps the attributes in one share; smbd's own defaults.
struct ShareRule {
    enum class MapReadOnly { No, Yes, Permissions };
    bool storeDosAttributes = true;  // in user.DOSATTRIB; without it, in the mode
    MapReadOnly mapReadOnly = MapReadOnly::No;
    bool mapArchive = true;  // without the value: archive, system and hidden
    bool mapSystem = false;  // as the owner's, the group's and the others'
    bool mapHidden = false;  // execute bits
    bool hideDotFiles = true;
};

struct SambaShare {
    std::string name;  // as the section names it
    std::string path;  // as written (it may hold % substitutions)
    bool printable = false;
    ShareRule rule;
};

// What the reader could not take in, for -v.
struct SambaNote {
    enum class Kind {
        Unreadable,          // `what`, a file, could not be read (`error`)
        IncludeNotFollowed,  // an include names its file by the client (% substitutions)
        PathPerUser,         // share `what`: its path depends on the user or the client
        PathMissing,         // share `what`: its folder cannot be found (`error`)
        RulePerUser,         // share `what`: map readonly = permissions, without the value
    };
    Kind kind;
    std::string what;
    int error = 0;
};

struct SambaConfig {
    std::vector<SambaShare> shares;
    std::vector<SambaNote> notes;
    int error = 0;  // the file itself could not be read (errno)
};

inline constexpr char kSmbConf[] = "/etc/samba/smb.conf";

SambaConfig ReadSambaConfig(const std::string& file);

}  // namespace rivak::posix
