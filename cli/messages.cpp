#include "cli/messages.h"

#include <locale.h>
#include <string.h>

#include <clocale>
#include <cstring>
#include <string>

namespace rivak::cli {

namespace {

struct Pair {
    const char* en;
    const char* ja;
};

const Pair& Lookup(Text text) {
    static const Pair kTexts[] = {
        // Usage
        {"Usage: rivak [OPTION]... PATH...\n"
         "  or:  rivak --restore=FILE [-n] [-v]\n"
         "Clear or set the read-only and hidden attributes of files and folders,\n"
         "and of everything below the folders: on FAT, exFAT and NTFS volumes and SMB\n"
         "shares in their own attribute word, elsewhere as Samba and Wine store them.\n"
         "\n"
         "  --readonly=clear|set|keep  read-only attribute (default: clear)\n"
         "  --hidden=clear|set|keep    hidden attribute (default: clear)\n"
         "  --system=clear|set|keep    system attribute (default: keep, and files\n"
         "                             that have it are left alone)\n"
         "  +r, -r, +h, -h, +s, -s     as attrib: set (+) or clear (-) read-only,\n"
         "                             hidden, system; the others are then kept\n"
         "  --no-shortcuts             change shortcut files (.lnk) themselves,\n"
         "                             not their targets\n"
         "  --keep-folders             walk folders but leave their own attributes\n"
         "  --max-depth=N              walk N levels below a folder (default: 25)\n"
         "  --map=ROOT=FOLDER          where a shortcut's drive or share lies:\n"
         "                             'X:=/srv/share' or '\\\\server\\share=/srv/share'\n"
         "  --codepage=CP              code page of shortcuts' ANSI paths (default: 932)\n"
         "  --follow-outside           follow shortcuts met in a walk wherever they\n"
         "                             point, even outside the PATH walked\n"
         "  --smb-conf=FILE            the Samba configuration that says how shares\n"
         "                             keep read-only (default: smbd's own smb.conf)\n"
         "  --save=FILE                write each entry's state to FILE before it is\n"
         "                             changed (with --list: of each entry listed)\n"
         "  --restore=FILE             put back the states FILE saved; no PATH\n"
         "  -j, --jobs=N               work with N threads (default: one a CPU, 16\n"
         "                             on an SMB share; at most 64)\n"
         "  -n, --dry-run              show what would change; change nothing\n"
         "  -l, --list                 show each entry's attributes; change nothing\n"
         "  -v, --verbose              show each entry whose attributes changed, and\n"
         "                             the store of each mount, share and Wine prefix\n"
         "  -0                         read NUL-separated paths from standard input\n"
         "      --help                 show this help and exit\n"
         "      --version              show the version and exit\n"
         "\n"
         "Drive letters in shortcuts are found through $WINEPREFIX/dosdevices\n"
         "(default ~/.wine). Symbolic links named as PATH are followed; those met\n"
         "below are neither followed nor changed. A shortcut named as PATH is\n"
         "followed wherever it points; one met below is followed only to a target\n"
         "inside the PATH walked. As root, another user's link or shortcut named as\n"
         "PATH leads only below the folder that holds it, unless --follow-outside.\n"
         "A PATH that begins with + goes after -- or as ./+h.\n"
         "\n"
         "Exit status: 0 all done, 1 some entries could not be changed, 2 bad usage.\n",
         "使い方: rivak [オプション]... パス...\n"
         "   または: rivak --restore=ファイル [-n] [-v]\n"
         "ファイルとフォルダ (フォルダの中身も含む) の読取専用属性と隠し属性を\n"
         "解除または設定します。FAT、exFAT、NTFS のボリュームと SMB 共有では\n"
         "それぞれの属性に、その他では Samba と Wine が保存する形で保存します。\n"
         "\n"
         "  --readonly=clear|set|keep  読取専用属性 (既定: clear 解除)\n"
         "  --hidden=clear|set|keep    隠し属性 (既定: clear 解除)\n"
         "  --system=clear|set|keep    システム属性 (既定: keep 変更せず、\n"
         "                             この属性のファイルは変更しない)\n"
         "  +r, -r, +h, -h, +s, -s     attrib と同じく読取専用、隠し、システム属性を\n"
         "                             設定 (+) または解除 (-) し、ほかは変更しない\n"
         "  --no-shortcuts             ショートカットファイル (.lnk) 自体を変更し、\n"
         "                             リンク先は変更しない\n"
         "  --keep-folders             フォルダの中身は処理し、フォルダ自体の属性は\n"
         "                             変更しない\n"
         "  --max-depth=N              フォルダの下を N 階層まで処理する (既定: 25)\n"
         "  --map=ルート=フォルダ      ショートカットのドライブや共有の場所:\n"
         "                             'X:=/srv/share' または '\\\\server\\share=/srv/share'\n"
         "  --codepage=CP              ショートカットの ANSI パスのコードページ\n"
         "                             (既定: 932)\n"
         "  --follow-outside           たどったフォルダ内のショートカットを、\n"
         "                             指定したパスの外を指していてもたどる\n"
         "  --smb-conf=ファイル        共有の読取専用属性の保存方法を読む Samba の設定\n"
         "                             (既定: smbd が読む smb.conf)\n"
         "  --save=ファイル            変更する前に各項目の状態をファイルに保存する\n"
         "                             (--list と共に: 表示する各項目の状態)\n"
         "  --restore=ファイル         ファイルに保存した状態に戻す (パスは指定しない)\n"
         "  -j, --jobs=N               N 個のスレッドで処理する (既定: CPU の数、\n"
         "                             SMB 共有では 16、最大 64)\n"
         "  -n, --dry-run              変更される内容を表示し、何も変更しない\n"
         "  -l, --list                 各項目の属性を表示し、何も変更しない\n"
         "  -v, --verbose              属性が変わった項目を 1 行ずつ表示する\n"
         "                             (マウント、共有、Wine プレフィックスの保存先も)\n"
         "  -0                         標準入力から NUL 区切りのパスを読む\n"
         "      --help                 この説明を表示して終了する\n"
         "      --version              バージョンを表示して終了する\n"
         "\n"
         "ショートカットのドライブ文字は $WINEPREFIX/dosdevices (既定 ~/.wine) で\n"
         "探します。パスに指定したシンボリックリンクはたどり、その下で見つけたものは\n"
         "たどらず変更もしません。パスに指定したショートカットはどこを指していても\n"
         "たどり、その下で見つけたものはリンク先が指定したパスの中にあるときだけ\n"
         "たどります。root で実行すると、パスに指定した他のユーザーのリンクや\n"
         "ショートカットは、それを置いたフォルダの下でだけたどります\n"
         "(--follow-outside で解除)。+ で始まるパスは -- の後に置くか ./+h のように\n"
         "書きます。\n"
         "\n"
         "終了ステータス: 0 すべて完了、1 変更できない項目があった、2 使い方の誤り。\n"},
        {"Try 'rivak --help' for more information.", "詳しくは 'rivak --help' を実行してください。"},
        {"unknown option '%s'", "不明なオプション '%s'"},
        {"option '%s' is ambiguous: %s", "オプション '%s' はあいまいです (候補: %s)"},
        {"option '%s' needs a value", "オプション '%s' には値が必要です"},
        {"option '%s' takes no value", "オプション '%s' は値を取りません"},
        {"%s takes clear, set or keep, not '%s'", "%s には clear、set、keep のどれかを指定します ('%s' は使えません)"},
        {"--max-depth takes a whole number from 0 to 1000000, not '%s'",
         "--max-depth には 0 から 1000000 までの整数を指定します ('%s' は使えません)"},
        {"--jobs takes a whole number from 1 to 64, not '%s'",
         "--jobs には 1 から 64 までの整数を指定します ('%s' は使えません)"},
        {"--map takes X:=FOLDER or \\\\server\\share=FOLDER, not '%s'",
         "--map には X:=フォルダ または \\\\server\\share=フォルダ を指定します ('%s' は使えません)"},
        {"unknown code page '%s'", "不明なコードページ '%s'"},
        {"no path given", "パスが指定されていません"},
        {"cannot read standard input: %s", "標準入力を読めません: %s"},
        {"entries not changed: %s", "変更できなかった項目: %s 個"},
        {"entries not listed: %s", "表示できなかった項目: %s 個"},
        {"cannot change %s: %s", "%s を変更できません: %s"},
        {"cannot list %s: %s", "%s の属性を表示できません: %s"},
        {"write error: %s", "書き込みエラー: %s"},
        {"%s entries", "%s 個"},
        {"%s", "%s"},
        {"neither a file nor a folder; left alone", "ファイルでもフォルダでもないため変更しません"},
        {"cannot list the folder: %s", "フォルダの中身を読めません: %s"},
        {"replaced by a symbolic link during the run; left alone", "処理中にシンボリックリンクに置き換えられたため変更しません"},
        {"user.DOSATTRIB holds a value that cannot be read; left alone",
         "user.DOSATTRIB の値を読み取れないため変更しません"},
        {"%s", "%s"},
        {"this file system cannot store the hidden attribute", "このファイルシステムには隠し属性を保存できません"},
        {"this file system cannot store the read-only attribute of a folder",
         "このファイルシステムにはフォルダの読取専用属性を保存できません"},
        {"this file system keeps no DOS attributes that rivak can change; nothing on it is changed "
         "(said once for the mount)",
         "このファイルシステムには rivak が変更できる DOS 属性がないため、その中は何も変更しません "
         "(マウントごとに一度だけ表示)"},
        {"hidden by its name: Samba and Wine hide names that start with a dot",
         "名前で隠されています: Samba と Wine はドットで始まる名前を隠します"},
        {"cannot change: %s (the entry has the system attribute: changing it needs CAP_LINUX_IMMUTABLE, as root has)",
         "変更できません: %s (システム属性があるため、変更には root などの CAP_LINUX_IMMUTABLE 権限が必要です)"},
        {"the root folder of a FAT or exFAT volume has no attributes; left alone",
         "FAT と exFAT のボリュームのルートフォルダには属性がないため変更しません"},
        {"the server did not keep the change", "サーバーが変更を保存しませんでした"},
        {"the write permission lent to store the value could not be taken back: %s",
         "値の保存のために一時的に与えた書き込み許可を元に戻せません: %s"},
        {"Not a directory", "フォルダではありません"},
        {"target outside the named folders: not followed", "リンク先が指定したフォルダの外にあるため、たどりません"},
        {"its target %s does not exist", "リンク先 %s がありません"},
        {"shortcut not followed: %s", "ショートカットをたどれません: %s"},
        {"shortcut not followed: larger than any shortcut (more than %s bytes)",
         "ショートカットをたどれません: ショートカットとしては大きすぎます (%s バイトを超えています)"},
        {"shortcut not followed: its target is known only to Windows (%s)",
         "ショートカットをたどれません: リンク先は Windows でしか分かりません (%s)"},
        {"shortcut not followed: no drive or share maps %s",
         "ショートカットをたどれません: %s に当たるドライブや共有がありません"},
        {"read-only kept: the folder holds desktop.ini, which Windows reads only in a read-only or system folder",
         "読取専用属性を残しました: フォルダに desktop.ini があります (Windows は読取専用かシステム属性のフォルダでだけ desktop.ini を読みます)"},
        {"this Samba share keeps no such attribute for its clients; not changed",
         "この Samba 共有はクライアントに対してこの属性を保存しないため変更しません"},
        {"Samba share [%s]: read-only in user.DOSATTRIB alone (write bits left as they are)",
         "Samba 共有 [%s]: 読取専用属性は user.DOSATTRIB だけに保存 (書き込み許可はそのまま)"},
        {"Samba share [%s]: read-only as the owner's write bit (store dos attributes = no, map readonly = yes)",
         "Samba 共有 [%s]: 読取専用属性は所有者の書き込み許可で表す (store dos attributes = no、map readonly = yes)"},
        {"Samba share [%s]: clients see no read-only (store dos attributes = no, map readonly = no)",
         "Samba 共有 [%s]: クライアントには読取専用属性が見えない (store dos attributes = no、map readonly = no)"},
        {"Wine prefix %s: read-only as a mode with no write bit",
         "Wine プレフィックス %s: 読取専用属性は書き込み許可のないモードで表す"},
        {"cannot read the Samba configuration %s: %s", "Samba の設定 %s を読めません: %s"},
        {"Samba configuration: 'include = %s' not followed: it names a file per client",
         "Samba の設定: 'include = %s' はクライアントごとのファイルを指すため読みません"},
        {"Samba share [%s] not matched: its folder depends on the user or the client",
         "Samba 共有 [%s] のフォルダはユーザーやクライアントによって変わるため、共有として扱いません"},
        {"Samba share [%s] not matched: its folder cannot be found: %s",
         "Samba 共有 [%s] のフォルダが見つからないため、共有として扱いません: %s"},
        {"Samba share [%s] not matched: read-only depends on the user connected (map readonly = permissions)",
         "Samba 共有 [%s] の読取専用属性は接続したユーザーによって変わるため (map readonly = permissions)、共有として扱いません"},
        {"system file left alone (--system=clear or --system=set changes it)",
         "システムファイルのため変更しません (--system=clear か --system=set で変更できます)"},
        {"folders not walked, below the depth limit (--max-depth=%s): %s; the first: %s",
         "深さの上限 (--max-depth=%s) より下にあるため処理しなかったフォルダ: %s 個、最初のもの: %s"},
        {"entries that stay hidden by their names (Samba and Wine hide names that start with a dot): %s",
         "名前で隠されたままの項目 (Samba と Wine はドットで始まる名前を隠します): %s 個"},
        {"%s entries, %s changed, %s failed", "%s 個の項目、変更 %s 個、失敗 %s 個"},
        {"%s entries, %s would change, %s failed (dry run: nothing changed)",
         "%s 個の項目、変更対象 %s 個、失敗 %s 個 (試行のみ: 何も変更していません)"},
        {"%s entries listed, %s failed", "%s 個の項目を表示、失敗 %s 個"},
        {"--restore takes no path and no option but -n and -v",
         "--restore にはパスも、-n と -v 以外のオプションも指定できません"},
        {"--save has nothing to save in a dry run (-n)", "ドライラン (-n) では --save で保存するものがありません"},
        {"%s exists; a save file is never written over", "%s は既にあります。保存ファイルは上書きしません"},
        {"cannot create the save file %s: %s", "保存ファイル %s を作成できません: %s"},
        {"cannot write the save file %s: %s; no entry was changed before its state was written there",
         "保存ファイル %s に書き込めません: %s。状態を書き込めなかった項目は変更していません"},
        {"cannot read the save file %s: %s", "保存ファイル %s を読めません: %s"},
        {"%s, line %s: %s; nothing was changed", "%s の %s 行目: %s。何も変更していません"},
        {"the file is empty (a run stopped before it saved anything had changed nothing)",
         "ファイルが空です (何かを保存する前に止まった実行は、何も変更していません)"},
        {"not a rivak save file", "rivak の保存ファイルではありません"},
        {"written in format %s by a newer rivak; this one reads format 1",
         "新しい rivak が形式 %s で書いたファイルです。この rivak が読めるのは形式 1 です"},
        {"the file ends inside this line: it was cut short", "ファイルがこの行の途中で終わっています: 途中で切れています"},
        {"%s: the lines from line %s on have no seal line: the run that saved them was stopped before it changed "
         "their entries, or the file was cut short there; they are put back too, entries after them may be missing",
         "%s: %s 行目からの行には seal 行がありません: それらを保存した実行がその項目を変更する前に止まったか、ファイルがそこで途中で切れています。それらの行も元に戻しますが、その後の項目が欠けているかもしれません"},
        {"the line does not match its check: damaged or edited", "行がチェック値と合いません: 壊れているか、編集されています"},
        {"not a line rivak writes", "rivak が書く形の行ではありません"},
        {"lines are missing before this line", "この行より前の行が欠けています"},
        {"%s: the run that saved it did not finish; what it saved is put back",
         "%s: 保存した実行は最後まで終わっていません。保存されている分を元に戻します"},
        {"not changed: the save file could not be written: %s", "保存ファイルに書き込めなかったため変更しません: %s"},
        {"no longer there as a file or folder; left alone", "ファイルまたはフォルダとしてもう存在しないため、そのままにします"},
        {"another file or folder has taken its place since it was saved; left alone",
         "保存した後で別のファイルまたはフォルダに置き換えられたため、そのままにします"},
        {"its volume keeps the attributes another way now; left alone",
         "ボリュームが今は別の方法で属性を保存しているため、そのままにします"},
    };
    return kTexts[static_cast<int>(text)];
}

}  // namespace

namespace {

// System errors in Japanese, with UTF-8 text as the program's own messages
// have whatever the character set of LC_CTYPE (null: none to be had).
locale_t japaneseErrors = nullptr;

locale_t Utf8Locale(const std::string& name) {
    const std::string base = name.substr(0, name.find_first_of(".@"));
    for (const std::string& candidate : {base + ".UTF-8", std::string("ja_JP.UTF-8")})
        if (locale_t l = newlocale(LC_ALL_MASK, candidate.c_str(), nullptr)) return l;
    return nullptr;
}

}  // namespace

// Japanese only where its system errors can be had too: one language for both.
Language LanguageOfLocale() {
    const char* messages = std::setlocale(LC_MESSAGES, nullptr);
    if (!messages || std::strncmp(messages, "ja", 2) != 0) return Language::English;
    if (!japaneseErrors) japaneseErrors = Utf8Locale(messages);
    return japaneseErrors ? Language::Japanese : Language::English;
}

std::string SystemError(Language language, int error) {
    static const locale_t english = newlocale(LC_ALL_MASK, "C", nullptr);
    const locale_t l = language == Language::Japanese && japaneseErrors ? japaneseErrors : english;
    return l ? strerror_l(error, l) : std::strerror(error);
}

std::string Format(Language language, Text text, const std::vector<std::string>& args) {
    const Pair& pair = Lookup(text);
    const std::string pattern = language == Language::Japanese ? pair.ja : pair.en;
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size() && pattern[i + 1] == 's') {
            if (next < args.size()) out += args[next++];
            ++i;
        } else {
            out += pattern[i];
        }
    }
    return out;
}

}  // namespace rivak::cli
