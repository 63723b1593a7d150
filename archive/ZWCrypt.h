// CRC-32 (reflected polynomial 0xEDB88320) and the traditional ZIP cipher.
//
// `UpdateCrc32` neither starts the register at 0xFFFFFFFF nor inverts it at the end:
// callers do both. The table is the one the cipher's key update uses;
// `FastUpdateCrc32` gives the same results through zlib, for entry data.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "ZWTypes.h"

namespace zw {

extern const std::array<uint32_t, 256> kCrcTable;

uint32_t UpdateCrc32(const void* buffer, int64_t length, uint32_t crc);
uint32_t FastUpdateCrc32(const void* buffer, int64_t length, uint32_t crc);

struct TZipKeys {
  uint64_t Keys[3] = {0, 0, 0};  // each holds an unsigned 32-bit value
};

void InitEncryptionKeys(const std::string& password, TZipKeys& keys);
void UpdateEncryptionKeys(uint8_t b, TZipKeys& keys);
uint8_t EncryptionStreamByte(const TZipKeys& keys);
uint8_t EncryptByte(uint8_t plain, TZipKeys& keys);
// Encrypts bytes start .. start + count - 1 of `buffer` in place.
void EncryptBuffer(int64_t count, int64_t start, uint8_t* buffer, TZipKeys& keys);

// The pseudo-random bytes 0-9 of the encryption header: the generator is seeded once
// per header from `seed` (by default the low 32 bits of a high-resolution clock; see
// TZWSeedSource).
uint32_t DefaultEncryptionSeed();
// Fills `out[0..9]` and finishes the 12-byte header with the CRC's check bytes.
void MakeEncryptionHeader(uint32_t seed, uint32_t finalCrc, uint8_t out[12]);

}  // namespace zw
