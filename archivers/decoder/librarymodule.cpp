// The decoder program's way to the decoders built on the decoding
// libraries: the module beside it, loaded the first time a call needs it.
#include "librarydecoders.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace tenvo::engine {

namespace {

const LibraryDecoders *g_loaded = nullptr;

std::string programFolder()
{
    char path[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0)
        return {};
    const std::string program(path, std::size_t(n));
    return program.substr(0, program.rfind('/') + 1);
}

} // namespace

const LibraryDecoders *libraryDecoders() { return g_loaded; }

bool loadLibraryDecoders(std::string &message)
{
    if (g_loaded)
        return true;
    const std::string path = programFolder() + "tenvo-decoders.so";
    // Kept loaded for the life of the program: every later call and child
    // uses it.
    void *module = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!module) {
        const char *error = ::dlerror();
        message = "its decoding module (tenvo-decoders.so) cannot be loaded: "
            + std::string(error ? error : path);
        return false;
    }
    using Entry = const LibraryDecoders *(*)();
    const auto entry = reinterpret_cast<Entry>(::dlsym(module, "tenvo_library_decoders"));
    const LibraryDecoders *table = entry ? entry() : nullptr;
    if (!table || table->version != LibraryDecoders::kVersion) {
        message = "its decoding module (" + path + ") belongs to another build";
        ::dlclose(module);
        return false;
    }
    table->preload(nullptr);
    g_loaded = table;
    return true;
}

} // namespace tenvo::engine
