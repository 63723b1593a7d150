#include "UpdateEngine.h"

#include <algorithm>
#include <memory>
#include <utility>
#include <vector>

#include "ArchiveSink.h"
#include "ArchiverState.h"
#include "CodePage.h"
#include "Compress.h"
#include "DirManager.h"
#include "EntryAhead.h"
#include "FileSystem.h"
#include "Format.h"
#include "Paths.h"
#include "Volumes.h"
#include "ZWExcept.h"

namespace zw {

namespace {

// Deflate can make data a little longer than its source (block headers, a sync marker
// per chunk) and encryption adds its 12-byte header, so a source just below 4 GiB may
// end with a compressed size that needs Zip64. The local header is written before the
// data: its Zip64 block must be reserved whenever that can happen.
bool MayOutgrow32Bits(int64_t sourceSize) {
  uint64_t size = static_cast<uint64_t>(sourceSize);
  return size + size / 1024 + 4096 >= kAllOnes32;
}

uint16_t ShareModeToFileMode(TZWFileShareMode mode) {
  switch (mode) {
    case smShareCompat:
      return 0x00;
    case smShareExclusive:
      return 0x10;
    case smShareDenyWrite:
      return 0x20;
    case smShareDenyRead:
      return 0x30;
    case smShareDenyNone:
      return 0x40;
  }
  return 0x40;
}

class UpdateRun {
 public:
  explicit UpdateRun(const TZWUpdateContext& c)
      : c_(c),
        settings_(c.settings),
        s_(c.session),
        run_(c.run),
        files_(c.files),
        volumeContext_{c.settings, c.session, c.files, c.volumeRequests, c.sender},
        compress_{c.settings, c.run, c.services, c.progress, c.files, c.zip64, c.sender},
        dm_(*s_.dirManager),
        zip64_(c.zip64) {}
  void Run();
  // The new directory has been written: the file holds the batch's result.
  bool Committed() const { return sink_ && sink_->Committed(); }

 private:
  int32_t FirstChangedIndex() const;
  int32_t KeepOrderedPrefix(int32_t first) const;
  uint64_t LowestOffsetFrom(int32_t first) const;
  TZWRunCut CutFor(int32_t first) const;
  void MainLoop(int32_t first);
  bool ProcessEntry(int32_t i);
  bool WriteEntry(TDirItem& item, TStream* source);
  std::vector<uint8_t> LocalHeaderBytes(const TLocalFileHeader& h, const std::string& name,
                                        bool wideSize) const;
  void CopyUnchangedEntry(int32_t i);
  int64_t DescriptorLength(int64_t dataEnd, const TDirItem& saved);
  void RollBack();
  std::string EncodedName(const TDirItem& item) const;

  const TZWUpdateContext& c_;
  const TZWSettings& settings_;
  TZWSession& s_;
  TZWRunCounters& run_;
  FileSystem& files_;
  TZWVolumeContext volumeContext_;
  TZWCompressContext compress_;
  TZWDirManager& dm_;
  TZip64Mode zip64_;
  TZWAction action_ = fxaIgnore;
  uint64_t truncationPoint_ = 0;
  // The old archive from the cut on, as the sink kept it.
  TStream* tail_ = nullptr;
  // Where the directory was before the run: writing the new one moves it.
  struct DirectoryPlace {
    TZip64Locator locator;
    TZip64EndRecord zip64End;
    TEndOfCentralDir end;
    bool hasZip64;
    int64_t start;
  } oldPlace_{};
  // Where the run's bytes go, from the cut on: the archive stream or its volumes. It
  // keeps what lies behind the cut and the journal, commits and rolls back.
  std::unique_ptr<TZWArchiveSink> sink_;
  // Small entries read and deflated ahead on the workers (single-file archives with
  // more than one thread only); released when the main loop ends.
  std::unique_ptr<TZWEntryAhead> ahead_;
};

int32_t UpdateRun::FirstChangedIndex() const {
  const TZWDirArray& saved = dm_.SavedDirectory;
  const TZWDirArray& working = dm_.WorkingDirectory;
  int32_t n = std::min(saved.Count(), working.Count());
  for (int32_t i = 0; i < n; ++i) {
    const TDirItem& w = working.ItemPtr(i);
    if (w.Modified || w.FileName != saved.ItemPtr(i).FileName) return i;
  }
  return n;
}

// Entries kept in place must all lie in front of the cut. Directories need not list
// entries in file order, so move the first change back until every kept entry lies
// before every entry that is rewritten.
int32_t UpdateRun::KeepOrderedPrefix(int32_t first) const {
  const TZWDirArray& saved = dm_.SavedDirectory;
  int32_t n = saved.Count();
  if (first >= n) return first;
  std::vector<uint64_t> suffixMin(static_cast<size_t>(n) + 1, UINT64_MAX);
  for (int32_t k = n - 1; k >= 0; --k)
    suffixMin[static_cast<size_t>(k)] =
        std::min(suffixMin[static_cast<size_t>(k) + 1], saved.ItemPtr(k).RealLocalHeaderOffset());
  uint64_t prefixMax = 0;
  int32_t best = 0;
  for (int32_t k = 0; k <= first; ++k) {
    if (k == 0 || prefixMax < suffixMin[static_cast<size_t>(k)]) best = k;
    if (k < n) prefixMax = std::max(prefixMax, saved.ItemPtr(k).RealLocalHeaderOffset());
  }
  return best;
}

uint64_t UpdateRun::LowestOffsetFrom(int32_t first) const {
  uint64_t lowest = UINT64_MAX;
  for (int32_t k = first; k < dm_.SavedDirectory.Count(); ++k)
    lowest = std::min(lowest, std::as_const(dm_.SavedDirectory).ItemPtr(k).RealLocalHeaderOffset());
  return lowest;
}

// Where the run cuts the archive: at the first entry it rewrites; an append at the old
// directory (after the stub of an archive without entries).
TZWRunCut UpdateRun::CutFor(int32_t first) const {
  const TZWDirArray& saved = dm_.SavedDirectory;
  bool append = first >= saved.Count();
  uint64_t from = !append                   ? LowestOffsetFrom(first)
                  : saved.Count() == 0      ? dm_.StartOffset
                  : dm_.DirectoryStart >= 0 ? static_cast<uint64_t>(dm_.DirectoryStart)
                                            : TZWRunCut::kToEnd;
  return {from, append, dm_};
}

std::string UpdateRun::EncodedName(const TDirItem& item) const {
  return EncodeEntryName(item.FileName, item.Flags, settings_.options.OEMFileNames);
}

void UpdateRun::Run() {
  s_.updateLevel = 0;
  run_.filesProcessed = run_.filesToProcess = 0;
  run_.cancelled = false;
  run_.progressOn = true;
  TZWDirArray& working = dm_.WorkingDirectory;
  TZWProcessOperation overall = poDelete;
  for (int32_t i = working.Count() - 1; i >= 0; --i) {
    const TDirItem& item = std::as_const(working).ItemPtr(i);  // shared items stay shared
    if (!item.Modified) continue;
    ++run_.filesToProcess;
    overall = item.Operation;
  }
  int32_t first = KeepOrderedPrefix(FirstChangedIndex());
  oldPlace_ = {dm_.Zip64Locator, dm_.Zip64EndRecord, dm_.EndRecord, dm_.HasZip64,
               dm_.DirectoryStart};
  c_.progress.OverallProgress(0.0, overall, ppStart, run_.cancelled);
  if (run_.cancelled) {
    working.Assign(dm_.SavedDirectory);  // nothing was written; the batch is dropped
    return;
  }
  try {
    // The sink saves what lies behind the cut and cuts the archive (volumes are
    // continued where the old directory began; a run that would rewrite stored
    // entries there is refused before anything is touched).
    sink_ = MakeRunSink(volumeContext_);
    truncationPoint_ = sink_->Cut(CutFor(first));
    tail_ = sink_->SavedTail();
    action_ = fxaIgnore;
    bool volumes = settings_.spanningMode != smNone;
    TZWDeflatePool* pool = volumes ? nullptr : DeflatePoolOf(settings_, c_.services);
    if (pool)
      ahead_ = std::make_unique<TZWEntryAhead>(settings_, s_, files_, *pool,
                                               ShareModeToFileMode(settings_.options.ShareMode));
    MainLoop(first);
    ahead_.reset();
    if (!run_.cancelled && action_ != fxaAbort) {
      dm_.WriteDirectory(*sink_);
      sink_->Commit();
      s_.directoryPending = false;
    }
  } catch (...) {
    if (!Committed()) RollBack();
    throw;
  }
  if (!Committed()) return RollBack();
  // The update is complete: a Cancel set now has nothing left to stop.
  bool ignored = false;
  c_.progress.OverallProgress(100.0, overall, ppEnd, ignored);
}

void UpdateRun::MainLoop(int32_t first) {
  TZWDirArray& working = dm_.WorkingDirectory;
  int32_t i = first;
  while (i < working.Count() && !run_.cancelled) {
    if (ahead_) ahead_->Advance(i);
    bool written = true;
    do {
      action_ = fxaIgnore;
      written = true;
      if (working.ItemPtr(i).Modified)
        written = ProcessEntry(i);
      else
        CopyUnchangedEntry(i);
    } while (action_ == fxaRetry);
    if (action_ == fxaAbort || run_.cancelled) break;
    if (written) {
      ++run_.filesProcessed;
      ++i;
    } else if (working.ItemPtr(i).Operation == poAdd) {
      working.Delete(i);
      if (ahead_) ahead_->Removed(i);
    } else {
      CopyUnchangedEntry(i);  // a replacement that failed keeps its stored form
      ++i;
    }
  }
}

bool UpdateRun::ProcessEntry(int32_t i) {
  TDirItem& item = dm_.WorkingDirectory.ItemPtr(i);
  std::string name = item.Operation == poAdd ? item.SourceFileName : item.FileName;
  c_.progress.FileProgress(name, 0.0, item.Operation, ppStart, run_.cancelled);
  if (run_.cancelled) return false;
  TZWArchiveMark mark = sink_->Mark();
  std::unique_ptr<TStream> opened;
  try {
    item.NeedsZip64 = false;
    TStream* source = nullptr;
    const TZWChunkJob* deflated = nullptr;
    if (item.SourceStream) {
      source = item.SourceStream.get();
    } else if (TStream* read = ahead_ ? ahead_->Source(i, &deflated) : nullptr) {
      source = read;
    } else if (!(item.ExternalAttributes & 0x10)) {
      try {
        opened = std::make_unique<TFileStream>(
            files_, item.SourceFileName,
            FileMode::fmOpenRead | ShareModeToFileMode(settings_.options.ShareMode));
      } catch (const EStreamError&) {
        throw EZWException(ecCannotOpenSource, {files_.DisplayName(item.SourceFileName)},
                           c_.sender);
      }
      source = opened.get();
    }
    c_.services.deflatedAhead = deflated;
    bool result = false;
    try {
      result = WriteEntry(item, source);
    } catch (...) {
      c_.services.deflatedAhead = nullptr;
      throw;
    }
    c_.services.deflatedAhead = nullptr;
    opened.reset();
    if (!result) return false;
    c_.progress.FileProgress(name, 100.0, item.Operation, ppEnd, run_.cancelled);
    return true;
  } catch (const EZWException& e) {
    opened.reset();
    // Whatever this entry left behind goes, so a retry or the next entry starts clean.
    // Bytes the sink cannot take back (a disk out of reach) and a cancelled volume
    // request end the run: it is rolled back and the error reaches the caller.
    if (!sink_->Undo(mark)) throw;
    TDirItem& failed = dm_.WorkingDirectory.ItemPtr(i);
    std::string shown = failed.Operation == poUpdate ? failed.FileName : failed.SourceFileName;
    c_.failures.ProcessFileFailure(shown, failed.Operation, e.NativeError(), e.ErrorCode(),
                                   e.Message(), action_);
    return false;
  }
}

// The local header, its name and the room of its Zip64 block (values known once the
// data is written).
std::vector<uint8_t> UpdateRun::LocalHeaderBytes(const TLocalFileHeader& h, const std::string& name,
                                                 bool wideSize) const {
  std::vector<uint8_t> bytes(TLocalFileHeader::kSize);
  h.Encode(bytes.data());
  bytes.insert(bytes.end(), name.begin(), name.end());
  bytes.resize(bytes.size() + (wideSize ? TZip64Extra::kLocalBlockSize : 0));
  return bytes;
}

bool UpdateRun::WriteEntry(TDirItem& item, TStream* source) {
  item.SetLocalHeaderOffset(static_cast<uint64_t>(sink_->Position().offset), zip64_ == zmAlways);
  int64_t sourceSize = source ? source->GetSize() : 0;
  bool nearLimit = source && zip64_ != zmDisabled && MayOutgrow32Bits(sourceSize);
  bool wideSize = source && (static_cast<uint64_t>(sourceSize) >= kAllOnes32 ||
                             zip64_ == zmAlways || nearLimit);
  uint16_t version =
      EntryVersion(item.NeedsZip64 || static_cast<uint64_t>(sourceSize) >= kAllOnes32 || nearLimit,
                   settings_.options.OEMFileNames);
  std::string name = EncodedName(item);
  TLocalFileHeader h;
  h.VersionNeeded = version;
  // The local flags equal the central ones (a directory carries 0x0002 in both):
  // readers that compare the two refuse an entry whose headers disagree.
  h.Flags = item.Flags;
  h.CompressionMethod = item.CompressionMethod;
  h.LastModTime = item.LastModTime;
  h.LastModDate = item.LastModDate;
  h.Crc32 = item.Crc32;
  h.CompressedSize = 0;
  h.UncompressedSize = wideSize ? kAllOnes32 : static_cast<uint32_t>(sourceSize);
  h.FileNameLength = static_cast<uint16_t>(name.size());
  h.ExtraFieldLength = wideSize ? TZip64Extra::kLocalBlockSize : 0;
  item.VersionNeeded = item.VersionMadeBy = version;
  item.VersionMadeBy = MadeByVersion(version, item.Flags);
  if (wideSize) item.NeedsZip64 = true;
  if (zip64_ == zmDisabled && item.NeedsZip64)
    throw EZWException(ecEntryZip64Disabled, {files_.DisplayName(item.SourceFileName)}, c_.sender);

  struct EntryGuard {
    TZWArchiveSink& sink;
    ~EntryGuard() { sink.DropEntry(); }
  } guard{*sink_};
  sink_->BeginEntry(LocalHeaderBytes(h, name, wideSize), sourceSize);
  if (source) {
    if (!CompressEntry(compress_, *source, sink_->EntryData(), item, sourceSize)) return false;
    h.CompressionMethod = item.CompressionMethod;
    h.Crc32 = item.Crc32;
    // With a local Zip64 block both sizes live there, and both fields say so (readers
    // that compare the local header with the central one insist on it).
    h.CompressedSize =
        (item.CompressedSize == kAllOnes32 || wideSize) ? kAllOnes32 : item.CompressedSize;
    uint8_t raw[TLocalFileHeader::kSize];
    h.Encode(raw);
    sink_->PatchHeader(0, raw, sizeof raw);
    if (wideSize) {
      std::vector<uint8_t> zip64Block;
      TZip64Extra::ForLocal(item.RealUncompressedSize(), item.RealCompressedSize())
          .Encode(zip64Block);
      sink_->PatchHeader(static_cast<int64_t>(TLocalFileHeader::kSize + name.size()),
                         zip64Block.data(), static_cast<int64_t>(zip64Block.size()));
    }
  }
  if (run_.cancelled) return false;
  TZWArchivePlace header;
  // A short write (a full disk) is this entry's failure, as it is for an entry
  // written straight to the archive: the user is asked, the batch goes on.
  if (!sink_->EndEntry(header))
    throw EZWException(ecShortData, {static_cast<long long>(sourceSize), 0LL}, c_.sender);
  item.DiskNumberStart = static_cast<uint16_t>(header.volume);
  item.SetLocalHeaderOffset(static_cast<uint64_t>(header.offset), zip64_ == zmAlways);
  return true;
}

int64_t UpdateRun::DescriptorLength(int64_t dataEnd, const TDirItem& saved) {
  uint8_t raw[TDataDescriptor::kMaxSize] = {};
  int64_t available = std::min<int64_t>(sizeof raw, tail_->GetSize() - dataEnd);
  if (available < static_cast<int64_t>(TDataDescriptor::SizeOf(false, false))) return 0;
  tail_->SetPosition(dataEnd);
  tail_->ReadBuffer(raw, available);
  return static_cast<int64_t>(TDataDescriptor::LengthBehind(
      raw, static_cast<size_t>(available), saved.Crc32, saved.RealCompressedSize()));
}

void UpdateRun::CopyUnchangedEntry(int32_t i) {
  TZWDirArray& working = dm_.WorkingDirectory;
  const TZWDirArray& saved = dm_.SavedDirectory;
  TDirItem& item = working.ItemPtr(i);
  // Unchanged entries keep their index; search by name only for a moved one, so
  // archives holding one name twice keep both entries.
  int32_t k = i < saved.Count() && saved.ItemPtr(i).FileName == item.FileName ? i : -1;
  // A replacement that failed takes back the entry it replaced, which stands at its
  // place; its stored name may differ in letter case from the new one.
  if (k < 0 && item.Operation == poUpdate && i < saved.Count() &&
      AnsiSameText(saved.ItemPtr(i).FileName, item.FileName))
    k = i;
  for (int32_t j = 0; j < saved.Count() && k < 0; ++j)
    if (saved.ItemPtr(j).FileName == item.FileName) k = j;
  if (k < 0) throw EZWException(ecEntryNotInArchive, c_.sender);
  const TDirItem& stored = saved.ItemPtr(k);
  if (item.Operation == poUpdate) item = stored;
  if (!tail_ || stored.RealLocalHeaderOffset() < truncationPoint_)
    throw EZWException(ecEntryNotInArchive, c_.sender);
  // The record as it lies in the saved tail, checked before a single byte is copied.
  uint64_t at = stored.RealLocalHeaderOffset() - truncationPoint_;
  uint64_t tailSize = static_cast<uint64_t>(tail_->GetSize());
  if (at > tailSize || tailSize - at < TLocalFileHeader::kSize)
    throw EZWException(ecArchiveDamaged, c_.sender);
  uint8_t raw[TLocalFileHeader::kSize];
  tail_->SetPosition(static_cast<int64_t>(at));
  tail_->ReadBuffer(raw, sizeof raw);
  TLocalFileHeader h = TLocalFileHeader::Decode(raw);
  uint64_t length = TLocalFileHeader::kSize + h.FileNameLength + h.ExtraFieldLength;
  uint64_t data = stored.RealCompressedSize();
  if (h.Signature != kLocalHeaderSignature || data > tailSize || length + data > tailSize - at)
    throw EZWException(ecArchiveDamaged, c_.sender);
  length += data;
  if (stored.Flags & kFlagDataDescriptor)
    length += static_cast<uint64_t>(DescriptorLength(static_cast<int64_t>(at + length), stored));
  item.SetLocalHeaderOffset(static_cast<uint64_t>(sink_->Position().offset), false);
  tail_->SetPosition(static_cast<int64_t>(at));
  sink_->CopyFrom(*tail_, static_cast<int64_t>(length));
}

// Puts the archive back as it was before the run.
void UpdateRun::RollBack() {
  dm_.WorkingDirectory.Assign(dm_.SavedDirectory);
  dm_.Zip64Locator = oldPlace_.locator;
  dm_.Zip64EndRecord = oldPlace_.zip64End;
  dm_.EndRecord = oldPlace_.end;
  dm_.HasZip64 = oldPlace_.hasZip64;
  dm_.DirectoryStart = oldPlace_.start;
  tail_ = nullptr;
  if (sink_) sink_->RollBack();
}

}  // namespace

void ApplyUpdate(const TZWUpdateContext& context) {
  TZWSession& s = context.session;
  if (s.updateLevel <= 0) return;
  s.batchPending = false;
  if (s.journalHeld) {
    // An earlier rollback could not complete: the archive must be reopened first.
    s.updateLevel = 0;
    if (s.dirManager) s.dirManager->WorkingDirectory.Assign(s.dirManager->SavedDirectory);
    throw EZWException(ecRestorePending,
                       {ExpandFileName(context.files, context.settings.fileName),
                        "an earlier rollback did not complete"},
                       context.sender);
  }
  // The saved directory serves this batch only: kept, it would keep sharing items that
  // later changes then copy.
  struct ReleaseSaved {
    TZWSession& s;
    ~ReleaseSaved() {
      if (s.dirManager) s.dirManager->SavedDirectory.SetCount(0);
    }
  } release{s};
  UpdateRun run(context);
  try {
    run.Run();
  } catch (...) {
    context.run.progressOn = false;
    // Whatever failed before the new directory was written, the directory describes
    // the file as it was before the batch. An exception of the closing progress
    // event comes after the commit: the directory already matches the file.
    if (s.dirManager && !run.Committed())
      s.dirManager->WorkingDirectory.Assign(s.dirManager->SavedDirectory);
    throw;
  }
  context.run.progressOn = false;
}

}  // namespace zw
