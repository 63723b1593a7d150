#include "ZWCrypt.h"

#include <zlib.h>

#include <array>
#include <chrono>

namespace zw {
namespace {

constexpr std::array<uint32_t, 256> MakeCrcTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    table[n] = c;
  }
  return table;
}

}  // namespace

constexpr std::array<uint32_t, 256> kCrcTable = MakeCrcTable();

namespace {
uint32_t CrcStep(uint32_t v, uint8_t b) { return kCrcTable[(v ^ b) & 0xFF] ^ (v >> 8); }
}  // namespace

uint32_t UpdateCrc32(const void* buffer, int64_t length, uint32_t crc) {
  if (!buffer || length <= 0) return crc;
  const auto* p = static_cast<const uint8_t*>(buffer);
  for (int64_t i = 0; i < length; ++i) crc = CrcStep(crc, p[i]);
  return crc;
}

uint32_t FastUpdateCrc32(const void* buffer, int64_t length, uint32_t crc) {
  if (!buffer || length <= 0) return crc;
  // zlib inverts on entry and exit; undo both so the register semantics match.
  uLong value = ~crc & 0xFFFFFFFFu;
  const auto* p = static_cast<const Bytef*>(buffer);
  while (length > 0) {
    uInt piece = static_cast<uInt>(length > (1 << 30) ? (1 << 30) : length);
    value = crc32(value, p, piece);
    p += piece;
    length -= piece;
  }
  return ~static_cast<uint32_t>(value);
}

void InitEncryptionKeys(const std::string& password, TZipKeys& keys) {
  keys.Keys[0] = 0x12345678;
  keys.Keys[1] = 0x23456789;
  keys.Keys[2] = 0x34567890;
  for (char c : password) UpdateEncryptionKeys(static_cast<uint8_t>(c), keys);
}

void UpdateEncryptionKeys(uint8_t b, TZipKeys& keys) {
  keys.Keys[0] = CrcStep(static_cast<uint32_t>(keys.Keys[0]), b);
  keys.Keys[1] = ((keys.Keys[1] + (keys.Keys[0] & 0xFF)) * 134775813 + 1) & 0xFFFFFFFFu;
  keys.Keys[2] =
      CrcStep(static_cast<uint32_t>(keys.Keys[2]), static_cast<uint8_t>(keys.Keys[1] >> 24));
}

uint8_t EncryptionStreamByte(const TZipKeys& keys) {
  uint32_t t = static_cast<uint32_t>((keys.Keys[2] | 2) & 0xFFFF);
  return static_cast<uint8_t>(((t * (t ^ 1)) >> 8) & 0xFF);
}

uint8_t EncryptByte(uint8_t plain, TZipKeys& keys) {
  uint8_t s = EncryptionStreamByte(keys);
  UpdateEncryptionKeys(plain, keys);
  return plain ^ s;
}

void EncryptBuffer(int64_t count, int64_t start, uint8_t* buffer, TZipKeys& keys) {
  for (int64_t i = 0; i < count; ++i) buffer[start + i] = EncryptByte(buffer[start + i], keys);
}

uint32_t DefaultEncryptionSeed() {
  auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
  return static_cast<uint32_t>(ticks);
}

void MakeEncryptionHeader(uint32_t seed, uint32_t finalCrc, uint8_t out[12]) {
  for (int i = 0; i < 10; ++i) {
    seed = seed * 134775813u + 1;
    uint32_t number = static_cast<uint32_t>((static_cast<uint64_t>(seed) * 2147483647u) >> 32);
    out[i] = static_cast<uint8_t>(number % 256);
  }
  out[10] = static_cast<uint8_t>(finalCrc >> 16);
  out[11] = static_cast<uint8_t>(finalCrc >> 24);
}

}  // namespace zw
