// The AES-256 encryption of 7z archives, through nettle's AES and SHA-256.
#include "sevenzipcrypt.h"

#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <nettle/sha2.h>

#include <cstring>
#include <vector>

namespace tenvo::engine {

void wipeSecret(void *data, std::size_t size)
{
    if (size > 0)
        explicit_bzero(data, size);
}

bool SevenZipAesProperties::parse(const std::string &properties)
{
    const auto *p = reinterpret_cast<const unsigned char *>(properties.data());
    const std::size_t size = properties.size();
    if (size < 1)
        return false;
    cyclesPower = p[0] & 0x3F;
    if ((p[0] & 0xC0) == 0)
        return size == 1;
    if (size < 2)
        return false;
    const std::size_t saltSize = ((p[0] >> 7) & 1) + (p[1] >> 4);
    const std::size_t ivSize = ((p[0] >> 6) & 1) + (p[1] & 0x0F);
    if (size != 2 + saltSize + ivSize)
        return false;
    salt.assign(properties, 2, saltSize);
    std::memset(iv, 0, sizeof iv);
    std::memcpy(iv, p + 2 + saltSize, ivSize);
    return true;
}

namespace {

// The password as UTF-16LE; false for text that is no valid UTF-8.
bool utf16le(const std::string &text, std::vector<unsigned char> &out)
{
    out.reserve(text.size() * 4);
    auto put = [&](uint32_t unit) {
        out.push_back(static_cast<unsigned char>(unit & 0xFF));
        out.push_back(static_cast<unsigned char>(unit >> 8));
    };
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        uint32_t point = 0;
        std::size_t length = 0;
        if (c < 0x80) {
            point = c;
            length = 1;
        } else if ((c & 0xE0) == 0xC0) {
            point = c & 0x1F;
            length = 2;
        } else if ((c & 0xF0) == 0xE0) {
            point = c & 0x0F;
            length = 3;
        } else if ((c & 0xF8) == 0xF0) {
            point = c & 0x07;
            length = 4;
        } else {
            return false;
        }
        if (i + length > text.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            point = (point << 6) | (next & 0x3F);
        }
        i += length;
        if (point > 0x10FFFF || (point >= 0xD800 && point < 0xE000))
            return false;
        if (point >= 0x10000) {
            point -= 0x10000;
            put(0xD800 | (point >> 10));
            put(0xDC00 | (point & 0x3FF));
        } else {
            put(point);
        }
    }
    return true;
}

// The last key made, by a digest of what it was made from.
struct KeptKey {
    bool held = false;
    unsigned char source[SHA256_DIGEST_SIZE] = {};
    unsigned char key[32] = {};
};
KeptKey g_kept;

void sourceDigest(const std::vector<unsigned char> &unit, unsigned cyclesPower,
                  unsigned char digest[SHA256_DIGEST_SIZE])
{
    sha256_ctx context;
    sha256_init(&context);
    const auto power = static_cast<unsigned char>(cyclesPower);
    sha256_update(&context, 1, &power);
    sha256_update(&context, unit.size(), unit.data());
    sha256_digest(&context, SHA256_DIGEST_SIZE, digest);
    wipeSecret(&context, sizeof context);
}

} // namespace

void forgetSevenZipKeys() { wipeSecret(&g_kept, sizeof g_kept); }

SevenZipKey::~SevenZipKey() { wipeSecret(m_key, sizeof m_key); }

bool SevenZipKey::derive(const std::string &password, const std::string &salt, unsigned cyclesPower)
{
    // 7-Zip itself stops at 2^24 rounds; a hostile archive asks for more
    // only to keep the decoder busy.
    if (cyclesPower > 24 && cyclesPower != 0x3F)
        return false;
    std::vector<unsigned char> unit;
    // The salt, the password and the counter in one buffer, hashed in one
    // call per round.
    unit.reserve(salt.size() + password.size() * 4 + 8);
    unit.insert(unit.end(), salt.begin(), salt.end());
    std::vector<unsigned char> text;
    const bool valid = utf16le(password, text);
    unit.insert(unit.end(), text.begin(), text.end());
    wipeSecret(text.data(), text.size());
    if (!valid) {
        wipeSecret(unit.data(), unit.size());
        return false;
    }
    if (cyclesPower == 0x3F) {
        // No hashing: the salt and password themselves, cut to the key.
        std::memset(m_key, 0, sizeof m_key);
        std::memcpy(m_key, unit.data(), std::min(unit.size(), sizeof m_key));
        wipeSecret(unit.data(), unit.size());
        return true;
    }
    // The salt and password apart by their lengths, as unit joins them.
    unit.push_back(static_cast<unsigned char>(salt.size()));
    unsigned char source[SHA256_DIGEST_SIZE];
    sourceDigest(unit, cyclesPower, source);
    unit.pop_back();
    if (g_kept.held && std::memcmp(g_kept.source, source, sizeof source) == 0) {
        std::memcpy(m_key, g_kept.key, sizeof m_key);
        wipeSecret(source, sizeof source);
        wipeSecret(unit.data(), unit.size());
        return true;
    }
    const std::size_t counterAt = unit.size();
    unit.resize(counterAt + 8, 0);
    sha256_ctx context;
    sha256_init(&context);
    const uint64_t rounds = uint64_t(1) << cyclesPower;
    for (uint64_t round = 0; round < rounds; ++round) {
        for (int k = 0; k < 8; ++k)
            unit[counterAt + k] = static_cast<unsigned char>(round >> (8 * k));
        sha256_update(&context, unit.size(), unit.data());
    }
    sha256_digest(&context, sizeof m_key, m_key);
    wipeSecret(&context, sizeof context);
    wipeSecret(unit.data(), unit.size());
    g_kept.held = true;
    std::memcpy(g_kept.source, source, sizeof source);
    std::memcpy(g_kept.key, m_key, sizeof m_key);
    wipeSecret(source, sizeof source);
    return true;
}

struct AesCbcDecryptor::Context {
    aes256_ctx aes;
};

AesCbcDecryptor::AesCbcDecryptor(const SevenZipKey &key, const unsigned char iv[16])
    : m_context(new Context)
{
    aes256_set_decrypt_key(&m_context->aes, key.bytes());
    std::memcpy(m_iv, iv, sizeof m_iv);
}

AesCbcDecryptor::~AesCbcDecryptor()
{
    wipeSecret(m_context, sizeof *m_context);
    delete m_context;
    wipeSecret(m_iv, sizeof m_iv);
}

void AesCbcDecryptor::decrypt(unsigned char *data, std::size_t size, const unsigned char *previous) const
{
    unsigned char chain[16];
    std::memcpy(chain, previous ? previous : m_iv, sizeof chain);
    cbc_decrypt(&m_context->aes, reinterpret_cast<nettle_cipher_func *>(aes256_decrypt),
                AES_BLOCK_SIZE, chain, size - size % AES_BLOCK_SIZE, data, data);
}

} // namespace tenvo::engine
