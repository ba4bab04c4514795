// tenvo-decoders.so: the decoders built on the decoding libraries, as the
// decoder program loads them (librarydecoders.h).
#include "librarydecoders.h"

extern "C" __attribute__((visibility("default"))) const tenvo::engine::LibraryDecoders *
tenvo_library_decoders()
{
    return &tenvo::engine::kLinkedLibraryDecoders;
}
