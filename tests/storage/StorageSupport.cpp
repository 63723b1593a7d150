#include "StorageSupport.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <sstream>

#include "ArchiverState.h"
#include "DirManager.h"
#include "Exceptions.h"
#include "Streams.h"
#include "TempDir.h"
#include "ZWExcept.h"

namespace zw::test {

DirectoryRead ReadDirectoryOf(const std::string& bytes, bool oemNames) {
  DirectoryRead result;
  TZipWriter zip;
  zip.Options().OEMFileNames = oemNames;
  TReadOnlyMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  TZWDirManager manager(&stream, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(),
                        false);
  try {
    manager.ReadDirectory();
  } catch (const EZWException& e) {
    result.native = e.NativeError();
    result.error = e.Message();
    return result;
  } catch (const EStreamError& e) {
    result.error = e.Message();
    return result;
  }
  result.ok = true;
  for (int32_t i = 0; i < manager.WorkingDirectory.Count(); ++i)
    result.items.push_back(manager.WorkingDirectory.ItemPtr(i));
  result.startOffset = manager.StartOffset;
  result.comment = manager.ArchiveComment;
  result.hasZip64 = manager.HasZip64;
  result.directoryStart = manager.DirectoryStart;
  return result;
}

namespace {

std::string FromHex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  return out;
}

std::string Check(const std::string& command) {
  std::string output;
  int status = RunCommand(command, &output);
  return status == 0 ? "" : "exit " + std::to_string(status) + ": " + output;
}

}  // namespace

std::vector<OracleEntry> PythonEntries(const std::string& path, std::string* error) {
  std::string output;
  RunCommand("python3 " ZW_SOURCE_DIR "/tests/storage/zipentries.py " + ShellQuote(path), &output);
  std::vector<OracleEntry> entries;
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("ERROR", 0) == 0) {
      if (error) *error = line;
      return {};
    }
    if (line.rfind("COUNT", 0) == 0) continue;
    std::istringstream fields(line);
    std::string name, crc;
    OracleEntry e;
    std::getline(fields, name, '\t');
    fields >> e.size >> e.compressedSize >> crc >> e.offset;
    e.name = FromHex(name);
    e.crc = static_cast<uint32_t>(std::stoul(crc, nullptr, 16));
    entries.push_back(e);
  }
  return entries;
}

std::string UnzipTest(const std::string& path, const std::string& password) {
  std::string pw = password.empty() ? "" : " -P " + ShellQuote(password);
  return Check("unzip -tq" + pw + " " + ShellQuote(path));
}

std::string PythonTestZip(const std::string& path, const std::string& password) {
  std::string script =
      "import sys, zipfile\n"
      "z = zipfile.ZipFile(sys.argv[1])\n"
      "if len(sys.argv) > 2: z.setpassword(sys.argv[2].encode())\n"
      "bad = z.testzip()\n"
      "sys.exit('bad entry %s' % bad if bad else 0)\n";
  std::string pw = password.empty() ? "" : " " + ShellQuote(password);
  return Check("python3 -c " + ShellQuote(script) + " " + ShellQuote(path) + pw);
}

std::string SevenZipTest(const std::string& path, const std::string& password) {
  // Without a password 7-Zip must not stop to ask for one.
  std::string pw = " -p" + ShellQuote(password);
  return Check("7zz t -bso0 -bsp0" + pw + " " + ShellQuote(path));
}

uint32_t ReferenceCrc32(const std::string& data) {
  uint32_t crc = 0xFFFFFFFF;
  for (unsigned char byte : data) {
    crc ^= byte;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  }
  return ~crc;
}

namespace {
uint32_t CrcByte(uint32_t crc, uint8_t byte) {
  crc ^= byte;
  for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
  return crc;
}
}  // namespace

ReferenceKeys::ReferenceKeys(const std::string& password)
    : k0(305419896), k1(591751049), k2(878082192) {
  for (unsigned char c : password) Update(c);
}

void ReferenceKeys::Update(uint8_t plain) {
  k0 = CrcByte(k0, plain);
  k1 = k1 + (k0 & 0xFF);
  k1 = k1 * 134775813 + 1;
  k2 = CrcByte(k2, static_cast<uint8_t>(k1 >> 24));
}

uint8_t ReferenceKeys::StreamByte() const {
  uint32_t temp = (k2 | 2) & 0xFFFF;
  return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

std::string ReferenceDecrypt(const std::string& password, const std::string& cipher) {
  ReferenceKeys keys(password);
  std::string plain;
  for (unsigned char c : cipher) {
    uint8_t p = c ^ keys.StreamByte();
    keys.Update(p);
    plain += static_cast<char>(p);
  }
  return plain;
}

std::string RawInflate(const std::string& deflated) {
  z_stream zs{};
  EXPECT_EQ(inflateInit2(&zs, -15), Z_OK);
  std::string out;
  std::vector<unsigned char> buffer(1 << 16);
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
  zs.avail_in = static_cast<uInt>(deflated.size());
  int rc = Z_OK;
  while (rc == Z_OK) {
    zs.next_out = buffer.data();
    zs.avail_out = static_cast<uInt>(buffer.size());
    rc = inflate(&zs, Z_NO_FLUSH);
    out.append(reinterpret_cast<char*>(buffer.data()), buffer.size() - zs.avail_out);
    if (rc == Z_BUF_ERROR && zs.avail_in == 0) break;
  }
  EXPECT_EQ(rc, Z_STREAM_END) << "raw deflate data does not end properly";
  EXPECT_EQ(zs.avail_in, 0u) << "bytes after the end of the deflate data";
  inflateEnd(&zs);
  return out;
}

std::string TextBytes(size_t count, uint32_t seed) {
  static const char* const kWords[] = {"member", "church", "record", "address", "2024",
                                       "index",  "family", " ",      "\r\n",    "Smith"};
  std::string out;
  out.reserve(count + 16);
  uint32_t x = seed * 2654435761u + 1;
  while (out.size() < count) {
    x = x * 1664525u + 1013904223u;
    out += kWords[(x >> 16) % 10];
    if ((x & 0xFF) < 16) out += static_cast<char>('A' + (x >> 8) % 26);
  }
  out.resize(count);
  return out;
}

std::string Hex(const std::string& bytes) {
  static const char* const kDigits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

}  // namespace zw::test
