#include "ComponentSupport.h"

#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <cstring>

namespace zw::test {

namespace {

uint16_t U16(const std::string& b, uint64_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t U32(const std::string& b, uint64_t at) {
  return static_cast<uint32_t>(U16(b, at)) | static_cast<uint32_t>(U16(b, at + 2)) << 16;
}
uint64_t U64(const std::string& b, uint64_t at) {
  return static_cast<uint64_t>(U32(b, at)) | static_cast<uint64_t>(U32(b, at + 4)) << 32;
}

bool Inflate(const std::string& in, uint64_t size, std::string& out) {
  z_stream zs{};
  if (inflateInit2(&zs, -15) != Z_OK) return false;
  out.assign(size, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
  zs.avail_in = static_cast<uInt>(in.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  int rc = inflate(&zs, Z_FINISH);
  bool ok = rc == Z_STREAM_END && zs.total_out == size;
  inflateEnd(&zs);
  return ok;
}

// Applies the Zip64 block of an extra field to the values that are all ones.
void ApplyZip64(const std::string& extra, uint64_t& size, uint64_t& csize, uint64_t* offset) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = U16(extra, at), len = U16(extra, at + 2);
    if (at + 4 + len > extra.size()) return;
    if (id == 1) {
      size_t p = at + 4, end = p + len;
      if (size == 0xFFFFFFFF && p + 8 <= end) size = U64(extra, p), p += 8;
      if (csize == 0xFFFFFFFF && p + 8 <= end) csize = U64(extra, p), p += 8;
      if (offset && *offset == 0xFFFFFFFF && p + 8 <= end) *offset = U64(extra, p);
    }
    at += 4 + len;
  }
}

}  // namespace

std::vector<ReadEntry> ReadArchive(const std::string& b, std::string* error) {
  std::vector<ReadEntry> out;
  std::string problem;
  auto fail = [&](const std::string& what) {
    if (problem.empty()) problem = what;
    return out;
  };
  auto finish = [&]() {
    if (error)
      *error = problem;
    else if (!problem.empty())
      ADD_FAILURE() << "archive: " << problem;
    return out;
  };
  if (b.size() < 22) return fail("shorter than an end record"), finish();
  int64_t eocd = -1;
  for (int64_t at = static_cast<int64_t>(b.size()) - 22; at >= 0 && eocd < 0; --at)
    if (U32(b, static_cast<uint64_t>(at)) == 0x06054B50) eocd = at;
  if (eocd < 0) return fail("no end record"), finish();
  uint64_t count = U16(b, static_cast<uint64_t>(eocd) + 10);
  uint64_t dirSize = U32(b, static_cast<uint64_t>(eocd) + 12);
  uint64_t dirOffset = U32(b, static_cast<uint64_t>(eocd) + 16);
  if (eocd >= 20 && U32(b, static_cast<uint64_t>(eocd) - 20) == 0x07064B50) {
    uint64_t z64 = U64(b, static_cast<uint64_t>(eocd) - 20 + 8);
    if (z64 + 56 > b.size() || U32(b, z64) != 0x06064B50)
      return fail("bad Zip64 end record"), finish();
    count = U64(b, z64 + 32);
    dirSize = U64(b, z64 + 40);
    dirOffset = U64(b, z64 + 48);
  }
  if (dirOffset + dirSize > b.size()) return fail("directory past the end"), finish();
  uint64_t at = dirOffset;
  for (uint64_t i = 0; i < count; ++i) {
    if (at + 46 > b.size() || U32(b, at) != 0x02014B50) return fail("bad central header"), finish();
    ReadEntry e;
    e.flags = U16(b, at + 8);
    e.method = U16(b, at + 10);
    e.crc = U32(b, at + 16);
    e.compressedSize = U32(b, at + 20);
    e.size = U32(b, at + 24);
    uint16_t nameLen = U16(b, at + 28), extraLen = U16(b, at + 30), commentLen = U16(b, at + 32);
    e.attributes = U32(b, at + 38);
    e.offset = U32(b, at + 42);
    if (at + 46 + nameLen + extraLen + commentLen > b.size())
      return fail("header past the end"), finish();
    e.name = b.substr(at + 46, nameLen);
    e.comment = b.substr(at + 46 + nameLen + extraLen, commentLen);
    ApplyZip64(b.substr(at + 46 + nameLen, extraLen), e.size, e.compressedSize, &e.offset);
    at += 46u + nameLen + extraLen + commentLen;
    // The local header must agree with the central one.
    uint64_t l = e.offset;
    if (l + 30 > b.size() || U32(b, l) != 0x04034B50)
      return fail("bad local header: " + e.name), finish();
    e.localFlags = U16(b, l + 6);
    if (e.localFlags != e.flags) fail("local flags differ: " + e.name);
    if (U16(b, l + 8) != e.method) fail("local method differs: " + e.name);
    uint16_t lName = U16(b, l + 26), lExtra = U16(b, l + 28);
    if (b.substr(l + 30, lName) != e.name) fail("local name differs: " + e.name);
    uint64_t data = l + 30 + lName + lExtra;
    if (data + e.compressedSize > b.size()) return fail("data past the end: " + e.name), finish();
    std::string raw = b.substr(data, e.compressedSize);
    if (e.flags & 1) {
      out.push_back(e);
      continue;
    }
    if (e.method == 0)
      e.data = raw;
    else if (e.method != 8 || !Inflate(raw, e.size, e.data))
      fail("cannot inflate: " + e.name);
    e.crcOk = crc32(0, reinterpret_cast<const Bytef*>(e.data.data()),
                    static_cast<uInt>(e.data.size())) == e.crc &&
              e.data.size() == e.size;
    if (!e.crcOk) fail("CRC or size mismatch: " + e.name);
    out.push_back(e);
  }
  return finish();
}

std::map<std::string, std::string> ArchiveContents(const std::string& bytes) {
  std::map<std::string, std::string> out;
  for (const ReadEntry& e : ReadArchive(bytes)) out[e.name] = e.data;
  return out;
}

ScriptedUi::ScriptedUi(const std::vector<std::string>& answers) {
  std::string text;
  for (const std::string& a : answers) text += a + "\n";
  std::string file = dir_.Write("answers.txt", text);
  ui_ = std::make_unique<ScriptUserInterface>(file, &out_);
}

std::string TextBytes(size_t count, uint32_t seed) {
  static const char* const kWords[] = {"record ",      "member ",  "church ", "2024-01-", "amount ",
                                       "Vessimbrant ", "address ", "\n",      "0001 ",    "total "};
  std::string out;
  out.reserve(count);
  uint64_t x = seed * 2654435761u + 7;
  while (out.size() < count) {
    x ^= x << 13;
    x ^= x >> 7;
    x ^= x << 17;
    out += kWords[x % 10];
  }
  out.resize(count);
  return out;
}

std::string PythonBin() {
  static const std::string bin =
      access("/usr/bin/python3", X_OK) == 0 ? "/usr/bin/python3" : "python3";
  return bin;
}
std::string OracleScript() { return std::string(ZW_SOURCE_DIR) + "/tests/component/zipcheck.py"; }

namespace {
std::string Run(const std::string& command) {
  std::string output;
  int rc = RunCommand(command, &output);
  return rc == 0 ? std::string() : "exit " + std::to_string(rc) + ": " + output;
}
}  // namespace

std::string UnzipTest(const std::string& path, const std::string& password) {
  return Run("unzip -tq " + (password.empty() ? "" : "-P " + ShellQuote(password) + " ") +
             ShellQuote(path));
}

std::string PythonTest(const std::string& path, const std::string& password) {
  return Run(PythonBin() + " " + ShellQuote(OracleScript()) + " test " + ShellQuote(path) + " " +
             ShellQuote(password));
}

std::string SevenZipTest(const std::string& path, const std::string& password) {
  return Run("7zz t -bd -bso0 -bsp0 -p" + ShellQuote(password) + " " + ShellQuote(path));
}

std::map<std::string, std::string> PythonDigests(const std::string& path,
                                                 const std::string& password) {
  std::string output;
  int rc = RunCommand(PythonBin() + " " + ShellQuote(OracleScript()) + " digest " +
                          ShellQuote(path) + " " + ShellQuote(password),
                      &output);
  std::map<std::string, std::string> out;
  if (rc != 0) {
    ADD_FAILURE() << "python zipfile: " << output;
    return out;
  }
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    size_t tab = line.rfind('\t');
    if (tab != std::string::npos) out[line.substr(0, tab)] = line.substr(tab + 1);
  }
  return out;
}

std::string Digest(const std::string& data) {
  char text[32];
  std::snprintf(text, sizeof text, "%08x %zu",
                static_cast<unsigned>(crc32(0, reinterpret_cast<const Bytef*>(data.data()),
                                            static_cast<uInt>(data.size()))),
                data.size());
  return text;
}

void MakeDirs(MemFileSystem& mem, const std::string& folder) {
  std::string partial;
  for (size_t i = 0; i <= folder.size(); ++i) {
    if (i == folder.size() || folder[i] == '\\' || folder[i] == '/') {
      if (!partial.empty()) mem.CreateDirectory(partial.back() == ':' ? partial + "\\" : partial);
    }
    if (i < folder.size()) partial += folder[i];
  }
}

void PutFile(MemFileSystem& mem, const std::string& path, const std::string& bytes) {
  size_t slash = path.find_last_of("\\/");
  if (slash != std::string::npos) MakeDirs(mem, path.substr(0, slash));
  ASSERT_TRUE(mem.WriteWholeFile(path, bytes)) << path;
}

std::string GetFile(MemFileSystem& mem, const std::string& path) {
  auto bytes = mem.ReadWholeFile(path);
  return bytes ? *bytes : std::string();
}

MemArchiveTest::MemArchiveTest() {
  MakeDirs(mem, "C:\\data");
  zip = std::make_unique<TZipWriter>();
  zip->SetFileSystem(&mem);
  zip->SetUserInterface(&ui.ui());
  zip->Options().Recurse = false;
  zip->Options().StorePath = spNoPath;
}

void MemArchiveTest::Open(const std::string& name) {
  zip->SetFileName(name);
  zip->OpenArchiveFile();
}

void MemArchiveTest::Add(const std::string& mask, int32_t attributes, const std::string& exclude) {
  zip->AddFilesByMask(mask, attributes, exclude);
}

std::vector<std::string> MemArchiveTest::Names(const std::string& name) {
  std::vector<std::string> out;
  for (const ReadEntry& e : ReadArchive(Bytes(name))) out.push_back(e.name);
  return out;
}

std::string ZipWriterBin() { return std::string(ZW_BIN_DIR) + "/zipwriter"; }

}  // namespace zw::test
