// Where the next byte of an archive goes while an update writes it: the one writer of
// the archive's bytes during a run (entries, copied entries, the directory and the end
// records).
//
// A single-file archive writes to its stream (TZWStreamSink); a multi-volume archive
// writes through the volume unit (MakeArchiveSink), which keeps the volume rules: a
// group of bytes that must land together (a local header, a central header, the end
// records) is begun only on a volume that can take it whole, entry data runs on across
// volumes, and the end records stay on the last volume, which takes the archive's
// name when the sink is finished.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Streams.h"
#include "Volumes.h"

namespace zw {

class FileSystem;
struct TZWDirectory;
struct TZWSession;
struct TZWSettings;

// Where an update run cuts the archive. `from`: the offset of the first entry it
// rewrites, or for an append where the old directory begins (kToEnd: the end of the
// file); `append`: the run only adds entries behind the old ones; `directory`: the
// directory as last read or written (a multi-volume archive is cut where it begins).
struct TZWRunCut {
  static constexpr uint64_t kToEnd = UINT64_MAX;
  uint64_t from;
  bool append;
  const TZWDirectory& directory;
};

// A place in the archive: the volume (0 for a single file) and the offset on it.
struct TZWArchivePlace {
  int32_t volume = 0;
  int64_t offset = 0;
};

// What has been written up to a point, so that one entry's bytes can be taken back.
struct TZWArchiveMark {
  int32_t volume = 0;
  int64_t size = 0;     // bytes on that volume (-1: no volume open)
  int64_t pending = 0;  // bytes collected for it but not yet written
  std::string file;     // the volume file
  bool operator==(const TZWArchiveMark&) const = default;
};

class TZWArchiveSink {
 public:
  virtual ~TZWArchiveSink() = default;

  virtual TZWArchivePlace Position() const = 0;
  // Writes `count` bytes; the first `whole` of them land on one volume.
  virtual void Write(const void* data, int64_t count, int64_t whole) = 0;
  // Copies `count` bytes from the current position of `source`.
  virtual void CopyFrom(TStream& source, int64_t count) = 0;

  // One entry: its local header (on one volume), its data through EntryData(), the
  // header patched with the values known after the data (`at`: offset in the header),
  // then EndEntry, which places it and tells where its header lies. False: the
  // archive took fewer bytes than the entry has (a full disk). DropEntry forgets an
  // entry that was not ended.
  virtual void BeginEntry(const std::vector<uint8_t>& header, int64_t sourceSize) = 0;
  virtual TStream& EntryData() = 0;
  virtual void PatchHeader(int64_t at, const void* data, int64_t count) = 0;
  virtual bool EndEntry(TZWArchivePlace& header) = 0;
  virtual void DropEntry() {}

  virtual TZWArchiveMark Mark() const = 0;
  // Takes back everything written since `mark`; false when it cannot (the bytes went
  // to a volume out of reach, or no volume is open any more).
  virtual bool Undo(const TZWArchiveMark& mark) = 0;

  // Moves on to a new volume unless the current one has room for `bytes` more.
  virtual void EnsureRoom(int64_t bytes) = 0;
  // Everything is written: pending bytes go out, the last volume takes its name.
  virtual void Finish() = 0;

  // An update run. Cut comes first: what the run may change is saved so that it can be
  // undone (in the journal beside the archive, durable before the archive changes; in
  // memory for an in-memory archive or a new one, whose own journal restores it), then
  // the archive is cut and writing goes on from the cut, whose offset it returns.
  // Commit, after Finish, makes the archive durable and removes the journal: that
  // removal is the commit point. RollBack puts the archive back as it was before the
  // cut, or raises EZWException ecRestorePending and leaves the journal for the next
  // opening.
  virtual uint64_t Cut(const TZWRunCut& cut) = 0;
  // The archive's bytes from the cut on as they were before the run (null when none
  // are kept).
  TStream* SavedTail() const { return tail_; }
  virtual void Commit() = 0;
  // The archive holds the run's result (also when the journal's deletion may not be
  // durable).
  bool Committed() const { return committed_; }
  virtual void RollBack() = 0;

 protected:
  // Removes the run's journal (the one of a new archive too) once the archive is
  // durable; `syncFolder`: volume names changed in the archive's folder.
  void CommitJournal(TZWSession& session, const TZWSettings& settings, FileSystem& files,
                     bool syncFolder);

  TStream* tail_ = nullptr;
  TMemoryStream memoryTail_;
  bool ownJournal_ = false;  // the journal was started by this run
  bool committed_ = false;
};

// A single stream: positions are offsets in it, nothing is refused for lack of room.
// Small entries are built in memory and written with one call; the directory is
// written in pieces of 64 KiB or more.
class TZWStreamSink : public TZWArchiveSink {
 public:
  explicit TZWStreamSink(TStream& stream) : stream_(stream), position_(stream.GetPosition()) {}
  // The sink of an update run of the single-file archive of `run`'s session.
  explicit TZWStreamSink(const TZWVolumeContext& run);

  TZWArchivePlace Position() const override;
  void Write(const void* data, int64_t count, int64_t whole) override;
  void CopyFrom(TStream& source, int64_t count) override;
  void BeginEntry(const std::vector<uint8_t>& header, int64_t sourceSize) override;
  TStream& EntryData() override { return *entry_; }
  void PatchHeader(int64_t at, const void* data, int64_t count) override;
  bool EndEntry(TZWArchivePlace& header) override;
  TZWArchiveMark Mark() const override;
  bool Undo(const TZWArchiveMark& mark) override;
  void EnsureRoom(int64_t) override { WritePending(); }
  void Finish() override { WritePending(); }

  uint64_t Cut(const TZWRunCut& cut) override;
  void Commit() override;
  void RollBack() override;

 private:
  void WritePending();
  void SaveBehindCut(bool append);
  void DiscardJournal();
  void RestoreTail();

  TStream& stream_;
  int64_t position_;
  std::vector<uint8_t> pending_;
  TMemoryStream staging_;
  TStream* entry_ = nullptr;
  int64_t entryStart_ = 0;
  int64_t headerAt_ = 0;
  // An update run's: its parts, and the cut (the archive has been cut once touched).
  std::optional<TZWVolumeContext> run_;
  uint64_t cut_ = 0;
  bool touched_ = false;
};

// The sink of the open archive of the session `volumes` reaches: its stream, or its
// volumes (a volume sink keeps `volumes`, whose events must outlive it).
std::unique_ptr<TZWArchiveSink> MakeArchiveSink(const TZWVolumeContext& volumes);
// The sink of an update run of that archive, to be Cut before anything else.
std::unique_ptr<TZWArchiveSink> MakeRunSink(const TZWVolumeContext& run);

}  // namespace zw
