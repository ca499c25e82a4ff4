// shell_link_seeds FOLDER: writes the reader's test shortcuts into FOLDER,
// one file each, as the fuzzer's first corpus.
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/lnk/lnk_cases.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: shell_link_seeds FOLDER\n");
        return 2;
    }
    int n = 0;
    for (const rivak::test::lnk::Case& c : rivak::test::lnk::Cases()) {
        const rivak::test::lnk::Blob bytes = rivak::test::lnk::Build(c.fields);
        const std::string file = std::string(argv[1]) + "/built-" + std::to_string(++n) + ".lnk";
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        if (!out) {
            std::perror(file.c_str());
            return 1;
        }
    }
    return 0;
}
