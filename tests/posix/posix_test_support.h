#pragma once
// A fresh temporary folder per test, and what the disk holds, read without
// the code under test.
#include <sys/types.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "engine/file_system.h"

namespace rivak::posix::testing {

class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

private:
    std::string path_;
};

void MakeFolder(const std::string& path, mode_t mode = 0755);
void MakeFile(const std::string& path, mode_t mode = 0644, const std::string& content = "x");
void MakeLink(const std::string& target, const std::string& path);
void SetRecord(const std::string& path, const std::string& value);
std::optional<std::string> RecordOf(const std::string& path);  // empty: no value
mode_t ModeOf(const std::string& path);                        // permission bits, links not followed
bool IsLink(const std::string& path);
// The attribute word as Samba and Wine would both read it (hex values only):
// read-only from the value, and for a file also missing write bits; hidden
// from the value or a dot name.
AttributeWord WordOnDisk(const std::string& path);
// What a tree holds as Samba and Wine keep it: each entry's mode and
// user.DOSATTRIB (links not followed), by its path below the tree.
struct EntryState {
    mode_t mode = 0;
    std::optional<std::string> record;
    bool operator==(const EntryState&) const = default;
};
using TreeState = std::map<std::string, EntryState>;
TreeState StateOf(const std::string& tree);
// How many entries of `now` differ from `then` (or are not in both).
std::size_t Differences(const TreeState& then, const TreeState& now);
struct ProgramResult {
    int status = -1;  // exit status; -1 when it did not exit normally
    std::string out, err;
};
// Runs `program` with `args`, `input` on its standard input, and an
// environment of PATH plus `env` only.
// rivak's arguments as a test gives them, after --jobs=N when the test runs
// as its -j column (RIVAK_TEST_JOBS=N).
std::vector<std::string> WithJobs(std::vector<std::string> args);

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::string& input = "", const std::map<std::string, std::string>& env = {});

// Runs `body` in a child process under another user id and group id;
// returns its exit status (-1 when it died).
int RunAs(uid_t uid, gid_t gid, int (*body)(void*), void* arg);

}  // namespace rivak::posix::testing
