// Rollback journal of an archive update.
//
// Before an update changes a byte of an archive file, it writes a journal beside the
// archive ("<archive name>-journal") that says how to put every file of the archive back
// as it was: for each file the length to keep and the bytes that followed (as they were,
// or deflated when the update will not read them back), and which volume files the
// update may create. The journal is sealed (trailer with a CRC-32,
// flushed, its folder synced) before the first change; the update then changes the
// archive, flushes it, and removes the journal: that removal is the commit point.
//
// Any opening of the archive first calls `Recover`: a sealed journal is replayed (the
// archive becomes, byte for byte, what it was before the interrupted update) and
// removed; a journal that was never sealed means the archive was not touched yet and
// is simply removed. Replaying is idempotent, so a recovery that is itself
// interrupted is finished by the next opening.
//
// The journal is held open with exclusive sharing for as long as it exists in this
// process, so another process never replays the journal of a live update.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FileSystem.h"
#include "JournalPacking.h"
#include "Streams.h"

namespace zw {

// Names of numbered volumes: prefix + (n + 1) zero-padded to `width` + suffix.
struct TZWVolumeNaming {
  std::string prefix, suffix;
  int32_t width = 2;
  std::string NameOf(int32_t n) const;
};

// Flushes `stream` to the device when it is a file and `wanted`; raises EStreamError
// when the system refuses (a failed flush must never pass for a durable write).
void FlushToDevice(TStream& stream, bool wanted);

class TZWJournal {
 public:
  // Path of the journal of the archive file `archiveName`.
  static std::string PathFor(const std::string& archiveName);

  // What an opening found.
  enum class Outcome { kNone, kDiscarded, kRestored };
  // Replays or discards the journal of `archiveName`, if there is one. Raises
  // EFOpenError (sharing violation) when another process holds the journal (its update
  // is still running) and EZWException ecRestorePending when the archive cannot be put back now
  // (the journal stays for the next opening). `sync`: flush and sync what is restored.
  static Outcome Recover(FileSystem& fs, const std::string& archiveName, bool sync);

  // Starts a journal for `archiveName`, replacing any earlier one (which Recover has
  // already dealt with). Raises EFCreateError when it cannot be created.
  TZWJournal(FileSystem& fs, const std::string& archiveName, bool sync);
  ~TZWJournal();
  TZWJournal(const TZWJournal&) = delete;
  TZWJournal& operator=(const TZWJournal&) = delete;

  // Records: put file `name` back to its first `keep` bytes followed by `count` bytes
  // read now from `source` (count < 0: to its end). When a file named `alternate`
  // exists at recovery, it is the one to put back: `name` is removed and `alternate`
  // renamed to `name` first. Names are files in the archive's folder. `packed`: the
  // bytes are kept deflated, in chunks; for bytes the update only puts back on failure
  // (an append saves just the old directory), as reading them costs inflating.
  void AddRestore(const std::string& name, const std::string& alternate, uint64_t keep,
                  TStream& source, int64_t count, bool packed = false);
  void AddRestore(const std::string& name, uint64_t keep, const std::vector<uint8_t>& bytes);
  // Record: remove the numbered volumes from number `from` on.
  void AddRemoveVolumes(const TZWVolumeNaming& naming, int32_t from);
  // Writes the trailer and makes the journal durable. Raises on any failure.
  void Seal();

  // The saved bytes of the first restore record, readable while the journal is held
  // (null when it is not).
  TStream* SavedBytes();

  // Replays the journal in this process (rollback) and removes it. Raises as Recover.
  void Replay();
  // Removes the journal: the update it guarded is committed (or rolled back). False
  // when the journal cannot be deleted: it is then still held, and Replay can roll
  // back. Raises EWriteError when the folder cannot be synced after the deletion.
  bool Remove();

 private:
  class Window;
  class PackedWindow;
  void WritePacked(TStream& source, int64_t count, bool first);
  void WriteRaw(const void* data, int64_t count);
  void WriteU16(uint16_t v);
  void WriteU32(uint32_t v);
  void WriteU64(uint64_t v);
  void WriteName(const std::string& name);
  void Release();

  FileSystem& fs_;
  std::string archiveName_;
  std::string path_;
  bool sync_;
  std::unique_ptr<TFileStream> file_;
  uint32_t crc_ = 0;
  int64_t firstBytesAt_ = -1;
  int64_t firstBytesCount_ = 0;
  std::vector<TZWPackedChunk> firstChunks_;  // the first restore record's chunks when packed
  bool firstPacked_ = false;
  std::unique_ptr<TStream> window_;
};

}  // namespace zw
