// CRC-32 and the traditional cipher against independent reference implementations.
#include <gtest/gtest.h>

#include "StorageSupport.h"
#include "TempDir.h"
#include "ZWCrypt.h"

namespace zw::test {
namespace {

TEST(Crc32, KnownValuesAndTable) {
  EXPECT_EQ(kCrcTable[1], 0x77073096u);
  EXPECT_EQ(kCrcTable[255], 0x2D02EF8Du);
  EXPECT_EQ(UpdateCrc32("abc", 3, 0xFFFFFFFF) ^ 0xFFFFFFFF, 0x352441C2u);
  EXPECT_EQ(UpdateCrc32("", 0, 0xFFFFFFFF) ^ 0xFFFFFFFF, 0u);
  // No buffer, or no length, leaves the register as it was.
  EXPECT_EQ(UpdateCrc32(nullptr, 5, 0x1234), 0x1234u);
  EXPECT_EQ(UpdateCrc32("abc", -1, 0x1234), 0x1234u);
  EXPECT_EQ(FastUpdateCrc32(nullptr, 5, 0x1234), 0x1234u);
}

TEST(Crc32, TableAndZlibFormsAgreeWithTheBitwiseReference) {
  for (size_t size : {1u, 7u, 64u, 4096u, 100003u}) {
    std::string data = RandomBytes(size, static_cast<uint32_t>(size));
    uint32_t reference = ReferenceCrc32(data);
    EXPECT_EQ(UpdateCrc32(data.data(), static_cast<int64_t>(size), 0xFFFFFFFF) ^ 0xFFFFFFFF,
              reference);
    // The register carries across pieces, as the chunk loop feeds it.
    size_t half = size / 2;
    uint32_t crc = FastUpdateCrc32(data.data(), static_cast<int64_t>(half), 0xFFFFFFFF);
    crc = FastUpdateCrc32(data.data() + half, static_cast<int64_t>(size - half), crc);
    EXPECT_EQ(crc ^ 0xFFFFFFFF, reference);
  }
}

TEST(Cipher, KeysFollowTheApplicationNote) {
  for (std::string password : {std::string(""), std::string("a"), std::string("secret"),
                               std::string("\xe4\xf6\xfc\xff pass")}) {
    TZipKeys keys;
    InitEncryptionKeys(password, keys);
    ReferenceKeys reference(password);
    EXPECT_EQ(keys.Keys[0], reference.k0) << password;
    EXPECT_EQ(keys.Keys[1], reference.k1) << password;
    EXPECT_EQ(keys.Keys[2], reference.k2) << password;
    EXPECT_EQ(EncryptionStreamByte(keys), reference.StreamByte());
  }
}

TEST(Cipher, EncryptBufferIsUndoneByTheReferenceDecryptor) {
  std::string plain = RandomBytes(5000, 3);
  std::string buffer = "xx" + plain + "yy";
  TZipKeys keys;
  InitEncryptionKeys("pw", keys);
  EncryptBuffer(static_cast<int64_t>(plain.size()), 2, reinterpret_cast<uint8_t*>(buffer.data()),
                keys);
  EXPECT_EQ(buffer.substr(0, 2), "xx");  // only the given range changes
  EXPECT_EQ(buffer.substr(buffer.size() - 2), "yy");
  EXPECT_EQ(ReferenceDecrypt("pw", buffer.substr(2, plain.size())), plain);
  EncryptBuffer(0, 0, nullptr, keys);  // nothing to do
}

TEST(Cipher, HeaderBytesFromTheSeededGenerator) {
  uint8_t header[12];
  MakeEncryptionHeader(1, 0xAABBCCDD, header);
  // The generator: seed = seed * 134775813 + 1, number = high half of seed * 2147483647.
  uint32_t seed = 1;
  for (int i = 0; i < 10; ++i) {
    seed = seed * 134775813u + 1;
    uint64_t number = (static_cast<uint64_t>(seed) * 2147483647u) >> 32;
    EXPECT_EQ(header[i], number % 256) << i;
  }
  EXPECT_EQ(header[10], 0xBB);
  EXPECT_EQ(header[11], 0xAA);
  uint8_t other[12];
  MakeEncryptionHeader(2, 0xAABBCCDD, other);
  EXPECT_NE(std::string(header, header + 10), std::string(other, other + 10));
}

}  // namespace
}  // namespace zw::test
