#include "EntryAhead.h"

#include <iterator>

#include "ArchiverState.h"
#include "Compress.h"
#include "DirManager.h"
#include "FileSystem.h"
#include "ZWExcept.h"

namespace zw {

namespace {

// Entries queued per worker when the workers read: enough that the calling thread,
// which only writes, finds them done in runs instead of waiting for each one.
constexpr size_t kQueuedPerWorker = 16;
// Entries held per worker when the calling thread reads.
constexpr size_t kReadPerWorker = 2;
// Source bytes the workers' reads may hold at once (their deflated forms about as
// many again); a source that would pass it is left to the engine.
constexpr int64_t kHeldBytesBudget = 8 << 20;

}  // namespace

TZWEntryAhead::TZWEntryAhead(const TZWSettings& settings, const TZWSession& session,
                             FileSystem& files, TZWDeflatePool& pool, uint16_t shareMode)
    : settings_(settings),
      session_(session),
      files_(files),
      pool_(pool),
      shareMode_(shareMode),
      workersRead_(files.AllowsConcurrentReads()),
      capacity_(static_cast<size_t>(pool.Threads()) *
                (workersRead_ ? kQueuedPerWorker : kReadPerWorker)) {}

TZWEntryAhead::~TZWEntryAhead() { pool_.DropQueuedAndWait(); }

// Entries the engine would deflate from a file into a single-file archive, unencrypted.
bool TZWEntryAhead::Eligible(int32_t index) {
  const TDirItem& item = session_.dirManager->WorkingDirectory.ItemPtr(index);
  return item.Modified && !item.SourceStream && !(item.ExternalAttributes & 0x10) &&
         item.CompressionMethod == 8 && item.CompressionMode > 0 && item.Password.empty() &&
         settings_.spanningMode == smNone;
}

std::unique_ptr<TZWEntryAhead::Held> TZWEntryAhead::TakeSpare() {
  if (spare_.empty()) return std::make_unique<Held>();
  std::unique_ptr<Held> held = std::move(spare_.back());
  spare_.pop_back();
  return held;
}

// Waits for the entry's job; released entries keep their buffers for later ones.
void TZWEntryAhead::Release(std::map<int32_t, std::unique_ptr<Held>>::iterator at) {
  Held& h = *at->second;
  pool_.Wait(h.job);
  if (h.reserved > 0) heldBytes_ -= h.reserved;
  h.reserved = 0;
  h.job.error = nullptr;
  if (spare_.size() < capacity_) spare_.push_back(std::move(at->second));
  held_.erase(at);
}

// Opens and reads the entry's source on the calling thread as the engine would (same
// sharing mode); a source that cannot be, or is too large, is left to the engine.
void TZWEntryAhead::ReadAhead(int32_t index) {
  const TDirItem& item = session_.dirManager->WorkingDirectory.ItemPtr(index);
  std::unique_ptr<TFileStream> file;
  try {
    file = std::make_unique<TFileStream>(files_, item.SourceFileName,
                                         FileMode::fmOpenRead | shareMode_);
  } catch (const EStreamError&) {
    return;
  }
  int64_t size = file->GetSize();
  if (size <= 0 || size > static_cast<int64_t>(CompressionBufferSize(item.CompressionMode))) return;
  std::unique_ptr<Held> held = TakeSpare();
  TZWChunkJob& job = held->job;
  job.input.resize(static_cast<size_t>(size));
  if (file->Read(job.input.data(), size) != size) {
    spare_.push_back(std::move(held));
    return;
  }
  file.reset();
  job.length = static_cast<size_t>(size);
  job.dictionaryLength = 0;
  job.level = item.CompressionMode;
  job.last = true;
  job.withCrc = true;
  job.loader = nullptr;
  pool_.Submit(job);
  held_[index] = std::move(held);
}

// Queues the entry for a worker, which opens, reads and deflates it (Held::Load).
void TZWEntryAhead::QueueForWorker(int32_t index) {
  const TDirItem& item = session_.dirManager->WorkingDirectory.ItemPtr(index);
  std::unique_ptr<Held> held = TakeSpare();
  held->fs = &files_;
  held->path = item.SourceFileName;
  held->mode = FileMode::fmOpenRead | shareMode_;
  held->limit = CompressionBufferSize(item.CompressionMode);
  held->heldBytes = &heldBytes_;
  TZWChunkJob& job = held->job;
  job.dictionaryLength = 0;
  job.length = 0;
  job.level = item.CompressionMode;
  job.last = true;
  job.withCrc = true;
  job.loader = held.get();
  pool_.Submit(job, false);
  held_[index] = std::move(held);
}

// On a worker: the source opened and read as the engine would; false leaves it to
// the engine (missing, locked, empty, too large, short, or over the budget).
bool TZWEntryAhead::Held::Load(TZWChunkJob& j) {
  std::unique_ptr<FileHandle> file = fs->Open(path, mode);
  if (!file) return false;
  int64_t size = file->Size();
  if (size <= 0 || size > static_cast<int64_t>(limit)) return false;
  int64_t before = heldBytes->fetch_add(size);
  reserved = size;
  if (before > 0 && before + size > kHeldBytesBudget) return false;
  j.input.resize(static_cast<size_t>(size));
  if (file->Read(j.input.data(), size) != size) return false;
  j.length = static_cast<size_t>(size);
  return true;
}

void TZWEntryAhead::Advance(int32_t next) {
  // Released entries are done with: written, or past the point where a retry could
  // ask for them again.
  while (!held_.empty() && held_.begin()->first < next) Release(held_.begin());
  if (scanned_ < next) scanned_ = next;
  // The workers' queue is topped up once it is half empty, and they are woken once
  // for the run queued.
  if (workersRead_ && held_.size() > capacity_ / 2) return;
  const TZWDirArray& working = session_.dirManager->WorkingDirectory;
  bool queued = false;
  while (held_.size() < capacity_ && scanned_ < working.Count()) {
    int32_t index = scanned_++;
    if (index == next || !Eligible(index)) continue;
    if (workersRead_) {
      QueueForWorker(index);
      queued = true;
    } else {
      ReadAhead(index);
    }
  }
  if (queued) pool_.WakeAll();
}

// When the entry is not done yet, the calling thread sleeps until the entries half
// a queue behind it are done as well, and then writes them in one run: one wake-up
// for many entries rather than one each.
void TZWEntryAhead::WaitForBatch(int32_t index, Held& held) {
  if (!workersRead_ || pool_.IsDone(held.job)) return;
  auto later = held_.find(index);
  for (size_t k = 0; k < capacity_ / 2 && std::next(later) != held_.end(); ++k) ++later;
  pool_.Wait(later->second->job);
}

TStream* TZWEntryAhead::Source(int32_t index, const TZWChunkJob** deflated) {
  *deflated = nullptr;
  auto found = held_.find(index);
  if (found == held_.end()) return nullptr;
  Held& h = *found->second;
  WaitForBatch(index, h);
  pool_.Wait(h.job);
  if (h.job.error) std::rethrow_exception(h.job.error);
  if (h.job.loader && !h.job.loaded) {  // the worker left it to the engine
    Release(found);
    return nullptr;
  }
  if (!h.job.dropped) *deflated = &h.job;
  h.source = TReadOnlyMemoryStream(h.job.input.data(), static_cast<int64_t>(h.job.length));
  return &h.source;
}

void TZWEntryAhead::Removed(int32_t index) {
  auto at = held_.find(index);
  if (at != held_.end()) Release(at);
  std::map<int32_t, std::unique_ptr<Held>> moved;
  for (auto& [i, held] : held_) moved[i > index ? i - 1 : i] = std::move(held);
  held_.swap(moved);
  if (scanned_ > index) --scanned_;
}

}  // namespace zw
