#include "NSVextra/Scrambler.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <vector>

namespace NSVextra {

const unsigned char g_cEncKey[9] = {0x3C, 0x91, 0xE4, 0x27, 0xB5, 0x0A, 0x6F, 0xD8, 0x00};
const int g_nEncPrmTbl[8] = {5, 2, 7, 0, 3, 6, 1, 4};

namespace {

void combineTail(unsigned char* tail, int count) {
    for (int t = 0; t < count; ++t) {
        tail[t] ^= g_cEncKey[t];
    }
}

} // namespace

void encryptDataBuf(void* data, int size) {
    if (data == nullptr || size <= 0) {
        return;
    }
    auto* bytes = static_cast<unsigned char*>(data);
    const int blocks = size / 8;
    for (int b = 0; b < blocks; ++b) {
        unsigned char* in = bytes + b * 8;
        unsigned char out[8];
        for (int j = 0; j < 8; ++j) {
            const int to = g_nEncPrmTbl[j];
            out[to] = static_cast<unsigned char>(in[j] ^ g_cEncKey[to]);
        }
        std::memcpy(in, out, 8);
    }
    combineTail(bytes + blocks * 8, size % 8);
}

void decryptDataBuf(void* data, int size) {
    if (data == nullptr || size <= 0) {
        return;
    }
    auto* bytes = static_cast<unsigned char*>(data);
    const int blocks = size / 8;
    for (int b = 0; b < blocks; ++b) {
        unsigned char* in = bytes + b * 8;
        unsigned char out[8];
        for (int j = 0; j < 8; ++j) {
            const int from = g_nEncPrmTbl[j];
            out[j] = static_cast<unsigned char>(in[from] ^ g_cEncKey[from]);
        }
        std::memcpy(in, out, 8);
    }
    combineTail(bytes + blocks * 8, size % 8);
}

bool encryptFile(const char* srcPath, const char* dstPath, bool encrypt) {
    if (srcPath == nullptr || dstPath == nullptr) {
        return false;
    }
    FILE* src = std::fopen(srcPath, "rb");
    if (src == nullptr) {
        return false;
    }
    long size = -1;
    if (std::fseek(src, 0, SEEK_END) == 0) {
        size = std::ftell(src);
    }
    if (size < 0 || size >= static_cast<long>(INT_MAX) || std::fseek(src, 0, SEEK_SET) != 0) {
        std::fclose(src);
        return false;
    }
    std::vector<unsigned char> buffer(static_cast<size_t>(size));
    const size_t got = buffer.empty() ? 0 : std::fread(buffer.data(), 1, buffer.size(), src);
    std::fclose(src);
    if (got != buffer.size()) {
        return false;
    }
    if (encrypt) {
        encryptDataBuf(buffer.data(), static_cast<int>(size));
    } else {
        decryptDataBuf(buffer.data(), static_cast<int>(size));
    }
    FILE* dst = std::fopen(dstPath, "wb");
    if (dst == nullptr) {
        return false;
    }
    const size_t put = buffer.empty() ? 0 : std::fwrite(buffer.data(), 1, buffer.size(), dst);
    const bool closed = std::fclose(dst) == 0;
    return put == buffer.size() && closed;
}

} // namespace NSVextra
