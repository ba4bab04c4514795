// Packs a folder into a stored RAR 4 or RAR 5 archive with the test fixture
// writers, so the benchmark can time RAR extraction where no RAR packer exists.
// "5v" writes a RAR 5 volume set of 32 MiB of data per volume: archive names
// its first volume, "name.part1.rar", and the others follow it.
//
//   tenvo_bench_makerar 4|5|5v <folder> <archive>
#include "rar4writer.h"
#include "rar5writer.h"

#include <QCoreApplication>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

using namespace tenvo::fixture;
namespace fs = std::filesystem;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const std::string kind = argc == 4 ? argv[1] : "";
    if (kind != "4" && kind != "5" && kind != "5v") {
        std::fprintf(stderr, "usage: tenvo_bench_makerar 4|5|5v <folder> <archive>\n");
        return 2;
    }
    const fs::path root = argv[2];
    std::vector<fs::path> paths;
    for (const fs::directory_entry &entry : fs::recursive_directory_iterator(root))
        paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());

    FixtureEntries entries;
    for (const fs::path &path : paths) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0)
            return 1;
        const std::string name = fs::relative(path, root).generic_string();
        FixtureEntry entry;
        if (S_ISDIR(st.st_mode)) {
            entry = FixtureEntry::directory(name, st.st_mode & 0777);
        } else if (S_ISREG(st.st_mode)) {
            std::ifstream in(path, std::ios::binary);
            entry = FixtureEntry::file(name, std::string(std::istreambuf_iterator<char>(in), {}),
                                       st.st_mode & 0777);
        } else {
            continue;
        }
        entry.mtime = st.st_mtime;
        entries.push_back(std::move(entry));
    }

    if (kind == "5v") {
        const std::string first = argv[3];
        const std::size_t number = first.rfind("part1.rar");
        if (number == std::string::npos) {
            std::fprintf(stderr, "tenvo_bench_makerar: a set's first volume is named name.part1.rar\n");
            return 2;
        }
        const std::vector<std::string> volumes = makeRar5Volumes(entries, std::size_t(32) << 20);
        for (std::size_t i = 0; i < volumes.size(); ++i) {
            std::ofstream out(first.substr(0, number) + "part" + std::to_string(i + 1) + ".rar",
                              std::ios::binary);
            out.write(volumes[i].data(), std::streamsize(volumes[i].size()));
            if (!out)
                return 1;
        }
        return 0;
    }

    // RAR 4 as archives made on Windows are (names with "\\", FAT attributes).
    std::string error;
    const std::string bytes = std::string(argv[1]) == "4" ? makeRar4(entries, {}, &error)
                                                          : makeRar5(entries, {}, &error);
    if (bytes.empty()) {
        std::fprintf(stderr, "tenvo_bench_makerar: %s\n", error.c_str());
        return 1;
    }
    std::ofstream out(argv[3], std::ios::binary);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return out ? 0 : 1;
}
