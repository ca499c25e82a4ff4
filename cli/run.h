#pragma once
// One run of rivak for Linux: the batch over the paths, what it prints, and
// the exit status (0 all done, 1 some entries could not be changed).
#include <cstdio>

#include "cli/arguments.h"

namespace rivak::cli {

struct Streams {
    std::FILE* out = stdout;
    std::FILE* err = stderr;
    bool errIsTerminal = false;
    bool outOnErrTerminal = false;  // a line printed there first takes the count away
};

struct Undo;

// `undo`: the save file of --save, opened, or that of --restore, read (cli/restore.h).
int Run(const Arguments& arguments, Language language, const Streams& streams, Undo* undo = nullptr);

}  // namespace rivak::cli
