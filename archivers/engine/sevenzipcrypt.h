// The AES-256 encryption of 7z archives: the key made from a password, and
// decryption of any range of an encrypted stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace tenvo::engine {

// The coder that encrypts a 7z folder's stream.
inline constexpr char kSevenZipAesId[] = "\x06\xF1\x07\x01";

// What an AES coder's properties hold. Parsed from at most the property
// bytes given; false when they do not describe a key this reader makes.
struct SevenZipAesProperties {
    unsigned cyclesPower = 0;
    std::string salt;
    unsigned char iv[16] = {};
    bool parse(const std::string &properties);
};

// A 256-bit key made from a password (UTF-8 text) as 7-Zip makes it:
// SHA-256 over salt, the password in UTF-16LE and a counter, repeated
// 2^cyclesPower times. Holds the key only; it is wiped when destroyed.
class SevenZipKey {
public:
    SevenZipKey() = default;
    ~SevenZipKey();
    SevenZipKey(const SevenZipKey &) = delete;
    SevenZipKey &operator=(const SevenZipKey &) = delete;

    // False when the password is no valid UTF-8 text or the count of rounds
    // is beyond what 7-Zip itself accepts. The same password, salt and
    // count as the last time give the key kept then (forgetSevenZipKeys).
    bool derive(const std::string &password, const std::string &salt, unsigned cyclesPower);
    const unsigned char *bytes() const { return m_key; }

private:
    unsigned char m_key[32] = {};
};

// Decrypts any whole blocks of an AES-256-CBC stream: a block needs only the
// cipher block before it (or the IV), so a stream can be read from any
// place without the blocks before it. The expanded key is wiped when
// destroyed.
class AesCbcDecryptor {
public:
    AesCbcDecryptor(const SevenZipKey &key, const unsigned char iv[16]);
    ~AesCbcDecryptor();
    AesCbcDecryptor(const AesCbcDecryptor &) = delete;
    AesCbcDecryptor &operator=(const AesCbcDecryptor &) = delete;

    // Decrypts size bytes (a multiple of 16) in place; previous is the
    // cipher block before them, null at the stream's start.
    void decrypt(unsigned char *data, std::size_t size, const unsigned char *previous) const;

private:
    struct Context;
    Context *m_context;
    unsigned char m_iv[16];
};

// The key last made is kept, so that trying a password and then decoding
// with it make the key once; this wipes it. Called when the archive is done.
void forgetSevenZipKeys();

// Overwrites memory that held a secret, in a way the compiler keeps.
void wipeSecret(void *data, std::size_t size);

} // namespace tenvo::engine
