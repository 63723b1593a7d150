#include "EntryAhead.h"

#include "ArchiverState.h"
#include "Compress.h"
#include "DirManager.h"
#include "FileSystem.h"
#include "ZipWriter.h"
#include "ZWExcept.h"

namespace zw {

TZWEntryAhead::TZWEntryAhead(TZWBaseArchiver& archiver, TZWDeflatePool& pool, uint16_t shareMode)
    : archiver_(archiver),
      pool_(pool),
      shareMode_(shareMode),
      capacity_(static_cast<size_t>(pool.Threads()) * 2) {}

TZWEntryAhead::~TZWEntryAhead() { pool_.DropQueuedAndWait(); }

// Entries the engine would deflate from a file into a single-file archive, unencrypted.
bool TZWEntryAhead::Eligible(int32_t index) {
  const TZWBaseArchiver::State& s = ArchiverAccess::S(archiver_);
  const TDirItem& item = s.dirManager->WorkingDirectory.ItemPtr(index);
  return item.Modified && !item.SourceStream && !(item.ExternalAttributes & 0x10) &&
         item.CompressionMethod == 8 && item.CompressionMode > 0 && item.Password.empty() &&
         s.spanningMode == smNone;
}

// Opens and reads the entry's source as the engine would (same sharing mode); a
// source that cannot be, or is too large, is left to the engine.
void TZWEntryAhead::ReadAhead(int32_t index) {
  TZWBaseArchiver::State& s = ArchiverAccess::S(archiver_);
  const TDirItem& item = s.dirManager->WorkingDirectory.ItemPtr(index);
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(archiver_.Files(), item.SourceFileName,
                                         FileMode::fmOpenRead | shareMode_);
  } catch (const EStreamError&) {
    return;
  }
  int64_t size = file->GetSize();
  if (size <= 0 || size > static_cast<int64_t>(CompressionBufferSize(item.CompressionMode))) return;
  auto held = std::make_unique<Held>();
  TZWChunkJob& job = held->job;
  job.input.resize(static_cast<size_t>(size));
  if (file->Read(job.input.data(), size) != size) return;
  file.reset();
  job.length = static_cast<size_t>(size);
  job.dictionaryLength = 0;
  job.level = item.CompressionMode;
  job.last = true;
  job.withCrc = true;
  held->source = std::make_unique<TReadOnlyMemoryStream>(job.input.data(), size);
  pool_.Submit(job);
  held_[index] = std::move(held);
}

void TZWEntryAhead::Advance(int32_t next) {
  // Released entries are done with: written, or past the point where a retry could
  // ask for them again.
  while (!held_.empty() && held_.begin()->first < next) {
    Held& h = *held_.begin()->second;
    pool_.Wait(h.job);
    held_.erase(held_.begin());
  }
  if (scanned_ < next) scanned_ = next;
  const TZWDirArray& working = ArchiverAccess::S(archiver_).dirManager->WorkingDirectory;
  while (held_.size() < capacity_ && scanned_ < working.Count()) {
    int32_t index = scanned_++;
    if (index != next && Eligible(index)) ReadAhead(index);
  }
}

TStream* TZWEntryAhead::Source(int32_t index, const TZWChunkJob** deflated) {
  *deflated = nullptr;
  auto found = held_.find(index);
  if (found == held_.end()) return nullptr;
  Held& h = *found->second;
  pool_.Wait(h.job);
  if (h.job.error) std::rethrow_exception(h.job.error);
  if (!h.job.dropped) *deflated = &h.job;
  h.source->SetPosition(0);
  return h.source.get();
}

void TZWEntryAhead::Removed(int32_t index) {
  std::map<int32_t, std::unique_ptr<Held>> moved;
  for (auto& [at, held] : held_) {
    if (at == index) {
      pool_.Wait(held->job);
      continue;
    }
    moved[at > index ? at - 1 : at] = std::move(held);
  }
  held_.swap(moved);
  if (scanned_ > index) --scanned_;
}

}  // namespace zw
