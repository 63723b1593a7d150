// Helpers of the archive component tests: an archiver over an in-memory file system
// with a scripted user interface, a small ZIP reader that checks every entry against
// its stored CRC, and the outside oracles (unzip, Python's zipfile, 7-Zip).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "MemFileSystem.h"
#include "ScriptUserInterface.h"
#include "TempDir.h"
#include "ZipWriter.h"

namespace zw::test {

// One entry as a reader finds it: central and local header values and the data.
struct ReadEntry {
  std::string name;
  uint16_t method = 0;
  uint16_t flags = 0;
  uint16_t localFlags = 0;
  uint32_t crc = 0;
  uint64_t compressedSize = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint32_t attributes = 0;
  std::string comment;
  std::string data;  // decompressed (empty for encrypted entries)
  bool crcOk = false;
};

// Parses a whole archive held in `bytes`: end record, central directory, local
// headers, data (stored or deflated, with Zip64). Fails the running test on any
// inconsistency; `error` names the first one.
std::vector<ReadEntry> ReadArchive(const std::string& bytes, std::string* error = nullptr);
// The entries' names and data only, keyed by name.
std::map<std::string, std::string> ArchiveContents(const std::string& bytes);

// Answers for a ScriptUserInterface, one per line, in a host file it reads.
class ScriptedUi {
 public:
  explicit ScriptedUi(const std::vector<std::string>& answers = {});
  UserInterface& ui() { return *ui_; }
  std::string transcript() const { return out_.str(); }

 private:
  TempDir dir_;
  std::ostringstream out_;
  std::unique_ptr<ScriptUserInterface> ui_;
};

// Deterministic file content that deflate shrinks (text-like) or cannot (random).
std::string TextBytes(size_t count, uint32_t seed);

// Outside checks of a host archive file; each returns "" when the tool accepts the
// archive, else its output. The password is passed when not empty.
std::string UnzipTest(const std::string& path, const std::string& password = "");
std::string PythonTest(const std::string& path, const std::string& password = "");
std::string SevenZipTest(const std::string& path, const std::string& password = "");
// name -> "CRC-32 (8 hex digits) of the data as read, size" for every entry, read
// by Python's zipfile (so the data really was decompressed and checked); "unreadable:
// ..." for an entry it cannot read.
std::map<std::string, std::string> PythonDigests(const std::string& path,
                                                 const std::string& password = "");
// The same digest of bytes held here.
std::string Digest(const std::string& data);

// Writes a file in the in-memory file system, creating the folders on its way.
void PutFile(MemFileSystem& mem, const std::string& path, const std::string& bytes);
void MakeDirs(MemFileSystem& mem, const std::string& folder);
std::string GetFile(MemFileSystem& mem, const std::string& path);

// An archiver over an in-memory file system (drive C: exists) answering questions
// from a script, with the data folder C:\\data.
class MemArchiveTest : public ::testing::Test {
 protected:
  MemArchiveTest();
  // Opens (or creates) `name` with the component's defaults for tests: no recursion,
  // no stored folders.
  void Open(const std::string& name = "C:\\a.zip");
  void Add(const std::string& mask, int32_t attributes = 0x2F, const std::string& exclude = "");
  std::string Bytes(const std::string& name = "C:\\a.zip") { return GetFile(mem, name); }
  std::map<std::string, std::string> Contents(const std::string& name = "C:\\a.zip") {
    return ArchiveContents(Bytes(name));
  }
  std::vector<std::string> Names(const std::string& name = "C:\\a.zip");
  MemFileSystem mem;
  ScriptedUi ui;
  std::unique_ptr<TZipWriter> zip;
};

// The Python interpreter for the oracle script (the system's, which starts fastest).
std::string PythonBin();
std::string OracleScript();

// Path of the zipwriter program.
std::string ZipWriterBin();
// Shell quoting for RunCommand.

}  // namespace zw::test
