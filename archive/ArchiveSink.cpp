#include "ArchiveSink.h"

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

}  // namespace zw
