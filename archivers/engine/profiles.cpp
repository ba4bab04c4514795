// What each of the six archiver libraries accepts: formats and switches.
#include "profiles.h"

namespace tenvo::engine {

const LibraryProfile &unlhaProfile()
{
    static const LibraryProfile profile{
        "unlha32", static_cast<unsigned>(ArchiveFormat::Lzh), {{{"x"}, false}, {{"e"}, true}}};
    return profile;
}

const LibraryProfile &cabProfile()
{
    static const LibraryProfile profile{
        "cab32", static_cast<unsigned>(ArchiveFormat::Cab), {{{"-x"}, false}, {{"-x", "-j"}, true}}};
    return profile;
}

const LibraryProfile &unzipProfile()
{
    static const LibraryProfile profile{
        "unzip32", static_cast<unsigned>(ArchiveFormat::Zip), {{{"-x"}, false}, {{"-x", "-j"}, true}},
        true};
    return profile;
}

const LibraryProfile &sevenZipProfile()
{
    static const LibraryProfile profile{
        "7-zip32", ArchiveFormat::Zip | ArchiveFormat::SevenZip, {{{"x"}, false}, {{"e"}, true}},
        true};
    return profile;
}

const LibraryProfile &unrarProfile()
{
    static const LibraryProfile profile{
        "unrar32", ArchiveFormat::Rar4 | ArchiveFormat::Rar5, {{{"-x"}, false}}};
    return profile;
}

const LibraryProfile &tarProfile()
{
    static const LibraryProfile profile{
        "tar32", static_cast<unsigned>(ArchiveFormat::Tar), {{{"x"}, false}, {{"e"}, true}}};
    return profile;
}

const LibraryProfile *profileByName(const std::string &name)
{
    for (const LibraryProfile *profile : {&unlhaProfile(), &cabProfile(), &unzipProfile(),
                                          &sevenZipProfile(), &unrarProfile(), &tarProfile()}) {
        if (name == profile->name)
            return profile;
    }
    return nullptr;
}

} // namespace tenvo::engine
