#pragma once
// Shortcuts built for every way a target can be stored, with the target the
// reader must give: the reader's tests check them, the fuzzer starts from them.
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/lnk/shell_link.h"
#include "tests/lnk/cp932.h"
#include "tests/lnk/lnk_writer.h"

namespace rivak::test::lnk {

using rivak::lnk::AnsiDecoder;
using rivak::lnk::ShellLinkTarget;
using Kind = ShellLinkTarget::Kind;

inline const AnsiDecoder kCp932 = DecodeCp932;
inline const AnsiDecoder kNoDecoder;

inline ShellLinkTarget Target(Kind kind, std::u16string path, std::optional<std::u16string> localPath = {}) {
    return {kind, std::move(path), std::move(localPath)};
}

// C:\samples\フォルダ\対象.txt, as Wine's fixtures hold it.
inline const std::u16string kSample = u"C:\\samples\\\u30D5\u30A9\u30EB\u30C0\\\u5BFE\u8C61.txt";
inline const std::string kSampleCp932 = "C:\\samples\\\x83\x74\x83\x48\x83\x8B\x83\x5F\\\x91\xCE\x8F\xDB.txt";
inline const std::u16string kArabic = u"C:\\data\\\u0645\u0631\u062D\u0628\u0627.txt";
inline const std::u16string kOutsideCodePage = u"C:\\data\\\u0645\u0631\u062D\u0628\u0627 \U0001F600.txt";

inline std::vector<Blob> SampleItems(int version, bool shortNames = true) {
    return {RootItem(kMyComputer), DriveItem('C'), FileItem(u"samples", "samples", true, version),
            FileItem(u"\u30D5\u30A9\u30EB\u30C0", shortNames ? "9B7F~1" : "????", true, version),
            FileItem(u"\u5BFE\u8C61.txt", shortNames ? "0E0F~1.TXT" : "??.txt", false, version)};
}

inline Blob UnicodeInfo(const std::u16string& base, const std::u16string& suffix = u"") {
    LinkInfoFields fields;
    fields.localBase = std::string(base.size(), '?');
    fields.suffix = std::string(suffix.size(), '?');
    fields.unicode = true;
    fields.localBaseW = base;
    fields.suffixW = suffix;
    return LinkInfo(fields);
}

inline Blob AnsiInfo(const std::string& base, const std::string& suffix = "") {
    LinkInfoFields fields;
    fields.localBase = base;
    fields.suffix = suffix;
    return LinkInfo(fields);
}

struct Case {
    const char* what;
    LinkSpec fields;
    std::optional<ShellLinkTarget> expected;
    const AnsiDecoder* decoder = &kCp932;
    // The line of lnkinfo's report that must show the same path; "" for none.
    const char* oracle = "";
};

inline std::vector<Case> Cases() {
    std::vector<Case> c;
    const auto add = [&](const char* what, LinkSpec fields, std::optional<ShellLinkTarget> expected,
                         const AnsiDecoder* decoder = &kCp932, const char* oracle = "") {
        c.push_back({what, std::move(fields), std::move(expected), decoder, oracle});
    };
    LinkSpec s;

    // LinkInfo in Unicode.
    s = {};
    s.linkInfo = UnicodeInfo(kOutsideCodePage);
    s.items = SampleItems(9);
    s.description = u"a note";
    // lnkinfo 20181227 decodes a surrogate pair wrongly ("\U0001F601" for
    // "\U0001F600"): it checks only the name without the emoji.
    add("unicode LinkInfo, name outside the code page", s, Target(Kind::Absolute, kOutsideCodePage));
    s.linkInfo = UnicodeInfo(kArabic);
    add("unicode LinkInfo, Arabic name", s, Target(Kind::Absolute, kArabic), &kCp932, "Local path");
    s = {};
    s.linkInfo = UnicodeInfo(u"C:\\Users\\", u"Administrator");
    add("base and suffix joined", s, Target(Kind::Absolute, u"C:\\Users\\Administrator"));
    s.linkInfo = UnicodeInfo(u"C:\\Users", u"Administrator");
    add("base without a separator and suffix", s, Target(Kind::Absolute, u"C:\\Users\\Administrator"));
    s.linkInfo = AnsiInfo("C:\\Users\\", "Administrator");
    add("ANSI base and suffix joined", s, Target(Kind::Absolute, u"C:\\Users\\Administrator"));
    s = {};
    s.linkInfo = UnicodeInfo(u"C:\\a\\x.txt");
    s.items = SampleItems(9);
    add("unicode LinkInfo before the item list", s, Target(Kind::Absolute, u"C:\\a\\x.txt"));
    s.moreFlags = 0x100;  // ForceNoLinkInfo
    add("LinkInfo ignored by its flag", s, Target(Kind::Absolute, kSample));

    // The item list.
    for (int version : {9, 8, 7, 3, 0}) {
        s = {};
        s.items = SampleItems(version);
        add(version ? "item list, extension blocks" : "item list, Wine's blocks", s, Target(Kind::Absolute, kSample),
            &kNoDecoder);
    }
    s = {};
    s.items = {RootItem(kMyComputer), DriveItem('D'), UnicodeFileItem(u"\u0645\u0631\u062D\u0628\u0627"),
               UnicodeFileItem(u"\U0001F600.txt")};
    add("item list, UTF-16 primary names", s, Target(Kind::Absolute, u"D:\\\u0645\u0631\u062D\u0628\u0627\\\U0001F600.txt"));
    s.items = {RootItem(kMyComputer), DriveItem('C'), FileItem(u"", "samples", true, -1),
               FileItem(u"", "\x83\x74\x83\x48\x83\x8B\x83\x5F", true, -1), FileItem(u"", "\x91\xCE\x8F\xDB.txt", false, -1)};
    add("item list, ANSI names only", s, Target(Kind::Absolute, kSample));
    add("item list, ANSI names without a decoder", s, Target(Kind::Unresolvable, u""), &kNoDecoder);
    s.items = {RootItem(kMyComputer), DriveItem('C')};
    add("item list of a drive", s, Target(Kind::Absolute, u"C:\\"));
    s = {};
    s.items = SampleItems(9, false);
    s.linkInfo = AnsiInfo("C:\\samples\\????\\??.txt");
    add("item list before a lost ANSI path", s, Target(Kind::Absolute, kSample));

    // LinkInfo in ANSI.
    s = {};
    s.linkInfo = AnsiInfo(kSampleCp932);
    add("code page 932 LinkInfo", s, Target(Kind::Absolute, kSample), &kCp932, "Local path");
    add("code page 932 LinkInfo, no decoder", s, Target(Kind::Unresolvable, u""), &kNoDecoder);
    s.linkInfo = AnsiInfo("C:\\samples\\????\\??.txt");
    add("ANSI path that lost its names", s, Target(Kind::Unresolvable, u""));
    s.relative = u".\\\u5BFE\u8C61.txt";
    add("relative path after a lost ANSI path", s, Target(Kind::Relative, u".\\\u5BFE\u8C61.txt"));

    // Network shares.
    LinkInfoFields net;
    net.netName = "\\\\server\\share";
    net.suffix = "dir\\?.txt";
    net.unicode = true;
    net.netNameW = u"\\\\server\\share";
    net.suffixW = u"dir\\\u30D5\u30A1\u30A4\u30EB.txt";
    s = {};
    s.linkInfo = LinkInfo(net);
    add("network share, unicode", s, Target(Kind::Absolute, u"\\\\server\\share\\dir\\\u30D5\u30A1\u30A4\u30EB.txt"),
        &kCp932, "Network path");
    net = {};
    net.netName = "\\\\server\\\x8B\xA4\x97\x4C";  // 共有
    net.suffix = "\x83\x74\x83\x48\x83\x8B\x83\x5F";
    s.linkInfo = LinkInfo(net);
    add("network share, code page 932", s, Target(Kind::Absolute, u"\\\\server\\\u5171\u6709\\\u30D5\u30A9\u30EB\u30C0"),
        &kCp932, "Network path");
    net.netName = "\\\\server";
    net.suffix = "";
    s.linkInfo = LinkInfo(net);
    add("network name without a share", s, Target(Kind::Unresolvable, u""));

    // The relative path alone.
    s = {};
    s.relative = u"..\\docs\\\u5831\u544A.txt";
    s.workingDir = u"C:\\docs";
    add("relative path, unicode", s, Target(Kind::Relative, u"..\\docs\\\u5831\u544A.txt"), &kCp932, "Relative path");
    s = {};
    s.ansi = true;
    s.relativeAnsi = ".\\\x91\xCE\x8F\xDB.txt";
    add("relative path, code page 932", s, Target(Kind::Relative, u".\\\u5BFE\u8C61.txt"), &kCp932, "Relative path");
    s = {};
    s.relative = u"C:\\abs\\olute.txt";
    add("relative field holding a full path", s, Target(Kind::Absolute, u"C:\\abs\\olute.txt"));

    // Environment variables and known folders.
    s = {};
    s.linkInfo = UnicodeInfo(u"C:\\Users\\bob\\a.txt");
    s.extra = {EnvironmentBlock("%USERPROFILE%\\a.txt", u"%USERPROFILE%\\a.txt")};
    // As Windows XP wrote them: Windows opens the LinkInfo's path unless
    // PreferEnvironmentPath is set.
    add("environment variables, before every stored path", s,
        Target(Kind::Unresolvable, u"%USERPROFILE%\\a.txt", u"C:\\Users\\bob\\a.txt"));
    s.moreFlags = 0x2000000;
    add("environment variables, preferred", s, Target(Kind::Unresolvable, u"%USERPROFILE%\\a.txt"));
    s.moreFlags = 0;
    s.extra = {EnvironmentBlock("%APPDATA%\\\x91\xCE\x8F\xDB.txt", u"")};
    add("environment variables, ANSI only", s,
        Target(Kind::Unresolvable, u"%APPDATA%\\\u5BFE\u8C61.txt", u"C:\\Users\\bob\\a.txt"));
    s = {};
    s.items = {RootItem(kUsersFiles), FileItem(u"Documents", "DOCUME~1", true)};
    s.extra = {KnownFolderBlock(kUsersFiles, 0)};
    add("known folder", s, Target(Kind::Unresolvable, u""));
    s.extra = {};
    add("shell folder root that may be a file folder", s, Target(Kind::Unresolvable, u""));
    s.items = {FileItem(u"on the desktop.txt", "ONTHED~1.TXT", false)};
    add("item under the desktop", s, Target(Kind::Unresolvable, u""));

    // Targets that are no file.
    s = {};
    s.items = {RootItem(kControlPanel)};
    add("control panel", s, Target(Kind::NotAFile, u""));
    s.items = {RootItem(kMyComputer)};
    add("my computer", s, Target(Kind::NotAFile, u""));
    s = {};
    s.description = u"nothing else";
    add("nothing stored", s, Target(Kind::NotAFile, u""));

    // Paths made plain, and names no Windows path holds.
    s = {};
    s.linkInfo = UnicodeInfo(u"C:\\a\\..\\..\\..\\b.txt");
    add("dot-dot never above the drive", s, Target(Kind::Absolute, u"C:\\b.txt"));
    s.linkInfo = UnicodeInfo(u"C:/a/./b//c.txt");
    add("slashes and dots", s, Target(Kind::Absolute, u"C:\\a\\b\\c.txt"));
    s.linkInfo = UnicodeInfo(u"\\\\?\\C:\\long\\path");
    add("long-path form", s, Target(Kind::Absolute, u"C:\\long\\path"));
    s.linkInfo = UnicodeInfo(u"\\\\?\\UNC\\srv\\share\\f");
    add("long-path form of a share", s, Target(Kind::Absolute, u"\\\\srv\\share\\f"));
    s.linkInfo = UnicodeInfo(u"\\\\?\\UNC\\srv");
    add("long-path form without a share", s, Target(Kind::Unresolvable, u""));
    s.linkInfo = UnicodeInfo(u"C:\\dir\\");
    add("trailing separator", s, Target(Kind::Absolute, u"C:\\dir"));
    s.linkInfo = UnicodeInfo(u"C:");
    add("drive alone", s, Target(Kind::Absolute, u"C:\\"));
    net = {};
    net.netName = "\\\\srv\\share";
    net.suffix = "..\\..\\x";
    s.linkInfo = LinkInfo(net);
    add("dot-dot never above the share", s, Target(Kind::Absolute, u"\\\\srv\\share\\x"));
    s.linkInfo = UnicodeInfo(u"C:dir\\a.txt");
    add("drive-relative path", s, Target(Kind::Unresolvable, u""));
    s.linkInfo = UnicodeInfo(u"C:\\a\\b.txt:stream");
    add("colon past the drive", s, Target(Kind::Unresolvable, u""));
    s.linkInfo = std::nullopt;
    s.relative = u"D:x.txt";
    add("relative path on another drive's current folder", s, Target(Kind::Unresolvable, u""));
    s.relative = std::nullopt;
    s.linkInfo = UnicodeInfo(u"C:\\a|b\\c.txt");
    s.items = SampleItems(9);
    add("forbidden character", s, Target(Kind::Absolute, kSample));
    s = {};
    s.items = {RootItem(kMyComputer), DriveItem('C'), FileItem(u"..", "..", true), FileItem(u"x", "x", false)};
    add("item named dot-dot", s, Target(Kind::Unresolvable, u""));
    s.items = {RootItem(kMyComputer), DriveItem('C'), FileItem(u"a\\..\\..", "a", true)};
    add("item name holding a separator", s, Target(Kind::Unresolvable, u""));
    return c;
}

}  // namespace rivak::test::lnk
