// Helpers of the storage engine tests: reading a directory from bytes, the outside
// oracles, and reference implementations (bitwise CRC-32, the traditional cipher as
// the ZIP application note gives it, raw inflate) that share no code with the engine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "DirItem.h"
#include "ZipWriter.h"

namespace zw::test {

// What reading a directory from a block of bytes gave.
struct DirectoryRead {
  bool ok = false;
  int native = 0;     // EZWException's internal code, 0 otherwise
  std::string error;  // message when !ok
  std::vector<TDirItem> items;
  uint64_t startOffset = 0;
  std::string comment;
  bool hasZip64 = false;
  int64_t directoryStart = -1;
};
DirectoryRead ReadDirectoryOf(const std::string& bytes, bool oemNames = false);

// One entry as Python's zipfile sees it (name as stored, cut at a zero byte).
struct OracleEntry {
  std::string name;
  uint64_t size = 0, compressedSize = 0, offset = 0;
  uint32_t crc = 0;
};
// Entries of an archive file by Python's zipfile; `error` set when it refuses.
std::vector<OracleEntry> PythonEntries(const std::string& path, std::string* error);

// Outside checks of an archive file: "" when the tool tests it clean, else its output.
std::string UnzipTest(const std::string& path, const std::string& password = "");
std::string PythonTestZip(const std::string& path, const std::string& password = "");
std::string SevenZipTest(const std::string& path, const std::string& password = "");

// Reference algorithms.
uint32_t ReferenceCrc32(const std::string& data);  // bitwise, started and inverted
struct ReferenceKeys {
  explicit ReferenceKeys(const std::string& password);
  void Update(uint8_t plain);
  uint8_t StreamByte() const;
  uint32_t k0, k1, k2;
};
std::string ReferenceDecrypt(const std::string& password, const std::string& cipher);
// Inflates raw deflate data (no zlib header); fails the test on an error.
std::string RawInflate(const std::string& deflated);

// Text-like bytes deflate shrinks, from a seed.
std::string TextBytes(size_t count, uint32_t seed);
std::string Hex(const std::string& bytes);

}  // namespace zw::test
