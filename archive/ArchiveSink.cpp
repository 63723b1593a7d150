#include "ArchiveSink.h"

#include "ArchiverState.h"
#include "FileSystem.h"
#include "Journal.h"
#include "ZWExcept.h"

namespace zw {

namespace {

// Entries whose source is at most this size are built in memory before they are
// written (one compression chunk of the largest kind, so the buffer stays small).
constexpr int64_t kStagingLimit = 1 << 20;
constexpr size_t kPendingPiece = 65536;

}  // namespace

TZWArchivePlace TZWStreamSink::Position() const {
  return {0, position_ + static_cast<int64_t>(pending_.size())};
}

void TZWStreamSink::WritePending() {
  if (pending_.empty()) return;
  stream_.WriteBuffer(pending_.data(), static_cast<int64_t>(pending_.size()));
  position_ += static_cast<int64_t>(pending_.size());
  pending_.clear();
}

void TZWStreamSink::Write(const void* data, int64_t count, int64_t) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  pending_.insert(pending_.end(), bytes, bytes + count);
  if (pending_.size() >= kPendingPiece) WritePending();
}

void TZWStreamSink::CopyFrom(TStream& source, int64_t count) {
  WritePending();
  stream_.CopyFrom(source, count);
  position_ += count;
}

void TZWStreamSink::BeginEntry(const std::vector<uint8_t>& header, int64_t sourceSize) {
  WritePending();
  // A small entry is built in memory and written with one call; a large one goes
  // straight to the archive, so memory stays bounded whatever the file size.
  bool staged = sourceSize <= kStagingLimit;
  if (staged) staging_.Clear();
  entry_ = staged ? static_cast<TStream*>(&staging_) : &stream_;
  entryStart_ = position_;
  headerAt_ = entry_->GetPosition();
  entry_->WriteBuffer(header.data(), static_cast<int64_t>(header.size()));
}

void TZWStreamSink::PatchHeader(int64_t at, const void* data, int64_t count) {
  int64_t end = entry_->GetPosition();
  entry_->SetPosition(headerAt_ + at);
  entry_->WriteBuffer(data, count);
  entry_->SetPosition(end);
}

bool TZWStreamSink::EndEntry(TZWArchivePlace& header) {
  header = {0, entryStart_};
  entry_->Seek(0, SeekOrigin::kEnd);
  if (entry_ == &staging_) {
    if (stream_.Write(staging_.Data().data(), staging_.GetSize()) != staging_.GetSize())
      return false;
    position_ += staging_.GetSize();
  } else {
    position_ = stream_.GetPosition();
  }
  entry_ = nullptr;
  return true;
}

TZWArchiveMark TZWStreamSink::Mark() const {
  TZWArchiveMark mark;
  mark.size = Position().offset;
  return mark;
}

bool TZWStreamSink::Undo(const TZWArchiveMark& mark) {
  pending_.clear();
  entry_ = nullptr;
  if (stream_.GetSize() > mark.size) stream_.SetSize(mark.size);
  stream_.SetPosition(mark.size);
  position_ = mark.size;
  return true;
}

// ---------------------------------------------------------------------------
// One update run.

// The new directory is in the archive and durable: remove the journal. Until that
// removal an interruption gives back the old archive.
void TZWArchiveSink::CommitJournal(TZWSession& s, const TZWSettings& settings, FileSystem& files,
                                   bool syncFolder) {
  // Renamed and created volumes are names in the archive's folder: durable first.
  if (s.journal && syncFolder && settings.options.FlushBuffers &&
      !files.SyncFolderOf(settings.fileName))
    throw EStreamError("Cannot sync the folder of \"" + settings.fileName + "\"");
  if (s.journal) {
    tail_ = nullptr;
    committed_ = true;
    bool removed = false;
    try {
      removed = s.journal->Remove();
    } catch (...) {
      // Deleted, but the deletion may not be durable: the new archive stands.
      s.journal.reset();
      s.journalForNewArchive = false;
      throw;
    }
    if (!removed) {
      committed_ = false;
      tail_ = ownJournal_ ? s.journal->SavedBytes() : &memoryTail_;
      throw EStreamError("Cannot delete \"" + TZWJournal::PathFor(settings.fileName) + "\"");
    }
    s.journal.reset();
    s.journalForNewArchive = false;
    ownJournal_ = false;
  }
  committed_ = true;
}

// The position is taken once the archive is cut.
TZWStreamSink::TZWStreamSink(const TZWVolumeContext& run)
    : stream_(*run.session.archiveStream), position_(0) {
  run_.emplace(run);
}

uint64_t TZWStreamSink::Cut(const TZWRunCut& cut) {
  TZWSession& s = run_->session;
  uint64_t size = static_cast<uint64_t>(stream_.GetSize());
  cut_ = cut.from == TZWRunCut::kToEnd ? size : cut.from;
  // The directory points past the end of the file.
  if (cut_ > size) throw EZWException(ecArchiveDamaged, run_->sender);
  SaveBehindCut(cut.append);
  stream_.SetPosition(static_cast<int64_t>(cut_));
  touched_ = true;
  stream_.SetSize(static_cast<int64_t>(cut_));
  s.currentVolume.SetFirst(true);
  position_ = stream_.GetPosition();
  return cut_;
}

// Keeps what lies behind the cut so that the run can be undone. For an archive file it
// goes into the journal, which is durable before the archive is touched; a new
// archive's journal already restores it (empty), and an in-memory archive keeps it in
// memory. An append saves only the old directory and end records, read back only by a
// rollback: the journal keeps them deflated.
void TZWStreamSink::SaveBehindCut(bool append) {
  TZWSession& s = run_->session;
  const TZWSettings& settings = run_->settings;
  stream_.SetPosition(static_cast<int64_t>(cut_));
  if (!dynamic_cast<TFileStream*>(&stream_) || s.journal) {
    memoryTail_.CopyFrom(stream_, -1);
    tail_ = &memoryTail_;
    return;
  }
  s.journal =
      std::make_unique<TZWJournal>(run_->files, settings.fileName, settings.options.FlushBuffers);
  ownJournal_ = true;
  try {
    s.journal->AddRestore(settings.fileName, "", cut_, stream_, -1, append);
    s.journal->Seal();
  } catch (...) {
    DiscardJournal();  // the archive is untouched; a partial journal is of no use
    throw;
  }
  tail_ = s.journal->SavedBytes();
}

// The run's journal is no longer needed: the archive is as it was before the run. A
// journal that cannot be deleted does no harm: replaying it gives the same bytes.
void TZWStreamSink::DiscardJournal() {
  if (!ownJournal_) return;
  ownJournal_ = false;
  tail_ = nullptr;
  TZWSession& s = run_->session;
  try {
    s.journal->Remove();
  } catch (const Exception&) {
  }
  s.journal.reset();
}

void TZWStreamSink::Commit() {
  FlushToDevice(stream_, run_->settings.options.FlushBuffers);
  CommitJournal(run_->session, run_->settings, run_->files, false);
}

// Puts the saved bytes back behind the cut. When that fails, the journal stays (held
// until the archive is closed) and the next opening restores the archive.
void TZWStreamSink::RestoreTail() {
  TZWSession& s = run_->session;
  const std::string& name = run_->settings.fileName;
  try {
    stream_.SetPosition(static_cast<int64_t>(cut_));
    stream_.SetSize(static_cast<int64_t>(cut_));
    tail_->SetPosition(0);
    stream_.CopyFrom(*tail_, -1);
    FlushToDevice(stream_, run_->settings.options.FlushBuffers);
  } catch (const Exception& e) {
    if (!s.journal) throw;
    ownJournal_ = false;
    s.journalHeld = true;
    throw EZWException(ecRestorePending, {run_->files.DisplayName(name), e.Message()},
                       run_->sender);
  }
}

void TZWStreamSink::RollBack() {
  TZWSession& s = run_->session;
  if (!s.archiveStream) return;
  if (touched_ && !tail_) {
    s.journalHeld = true;  // the journal could not be read back: the next opening restores
    throw EZWException(ecRestorePending,
                       {run_->files.DisplayName(run_->settings.fileName), "journal not readable"},
                       run_->sender);
  }
  if (touched_) RestoreTail();
  DiscardJournal();
}

}  // namespace zw
