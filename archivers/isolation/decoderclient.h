// Hands one library call to the decoder program, a small single-threaded
// process (tenvo-decoder) that the library starts once beside itself.
//
// Why a separate program: a caller may now make library calls from several
// threads at once. A child forked from a threaded process may call only
// async-signal-safe functions until it execs (another thread may have held
// the allocator's or a converter's lock at the moment of the fork), yet each
// decoder child runs libarchive, iconv and the allocator. So the library
// starts the decoder program with posix_spawn (which execs at once and is
// safe from any thread), and the program, having a single thread, forks the
// decoder child of each call and watches all of them from one loop, with
// the same bounds as before (IsolatedChild in isolation.h). The program
// loads the converters and the locale once, so a call costs one fork of a
// small process and no loading.
#pragma once

#include "decoderprotocol.h"
#include "result.h"

namespace tenvo::isolation {

// Reports bytes of the archive read so far out of total; a non-zero answer
// asks the call to stop. Called on the calling thread.
using ProgressCall = TenvoProgressCall;

// Runs request in the decoder program found in the folder of the library
// holding this code, starting it on first use (and again when it has gone).
// Calls from several threads run at once, each on a socket of its own.
// total is the archive's size, for progress; progress may be null. Returns
// false, touching nothing, when the decoder program cannot be had; otherwise
// sets result (kStopped after a stop) and message.
bool runInDecoder(const DecoderRequest &request, unsigned long long total, ProgressCall progress,
                  void *context, int &result, std::string &message);

} // namespace tenvo::isolation
