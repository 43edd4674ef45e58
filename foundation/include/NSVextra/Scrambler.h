// The light scrambling of stored settings files: each full 8-byte block is
// permuted and combined with a fixed key, a shorter tail is only combined
// with the key. It hides the text from a casual look; it is not encryption
// in any cryptographic sense.
#pragma once

namespace NSVextra {

// The key (8 bytes, followed by a terminating zero) and the permutation of
// byte positions within a block. Files scrambled with one pair can only be
// read back with the same pair.
extern const unsigned char g_cEncKey[9];
extern const int g_nEncPrmTbl[8];

// Scramble / unscramble `size` bytes in place; sizes of 0 or less do nothing.
void encryptDataBuf(void* data, int size);
void decryptDataBuf(void* data, int size);

// Reads the whole source file, scrambles (encrypt true) or unscrambles it and
// writes the result to the destination (created or truncated). False when the
// source cannot be opened or read completely, is 2 GiB or larger, or the
// destination cannot be opened or written. The source is read completely
// before the destination is opened, so both may name the same file.
bool encryptFile(const char* srcPath, const char* dstPath, bool encrypt);

} // namespace NSVextra
