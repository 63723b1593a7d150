#include "Streams.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "Exceptions.h"
#include "Format.h"
#include "Paths.h"

namespace zw {

int64_t TStream::GetSize() {
  int64_t position = Seek(0, SeekOrigin::kCurrent);
  int64_t size = Seek(0, SeekOrigin::kEnd);
  Seek(position, SeekOrigin::kBegin);
  return size;
}

void TStream::ReadBuffer(void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && Read(buffer, count) != count)) throw EReadError();
}

void TStream::WriteBuffer(const void* buffer, int64_t count) {
  if (count < 0 || (count > 0 && Write(buffer, count) != count)) throw EWriteError();
}

int64_t TStream::CopyFrom(TStream& source, int64_t count) {
  if (count < 0) count = std::max<int64_t>(0, source.GetSize() - source.GetPosition());
  constexpr int64_t kBlock = 1 << 20;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(count, kBlock)));
  int64_t done = 0;
  while (done < count) {
    int64_t n = std::min(kBlock, count - done);
    source.ReadBuffer(buffer.data(), n);
    WriteBuffer(buffer.data(), n);
    done += n;
  }
  return done;
}

// --- TMemoryStream ---------------------------------------------------------------

int64_t TMemoryStream::Read(void* buffer, int64_t count) {
  int64_t size = GetSize();
  if (count <= 0 || position_ >= size) return 0;
  int64_t n = std::min(count, size - position_);
  std::memcpy(buffer, data_.data() + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  // Seek allows any position; a block that could not reach it is a short write.
  if (count > static_cast<int64_t>(data_.max_size()) - position_) return 0;
  int64_t end = position_ + count;
  if (end > GetSize()) data_.resize(static_cast<size_t>(end));
  std::memcpy(data_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  return count;
}

int64_t TMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = origin == SeekOrigin::kBegin     ? 0
                 : origin == SeekOrigin::kCurrent ? position_
                                                  : GetSize();
  if (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)
    throw EStreamError("Stream seek error");
  int64_t target = base + offset;
  if (target < 0) throw EStreamError("Stream seek error");
  position_ = target;
  return position_;
}

void TMemoryStream::SetSize(int64_t size) {
  if (size < 0) throw EStreamError("Stream size error");
  data_.resize(static_cast<size_t>(size));
  if (position_ > size) position_ = size;
}

// --- TReadOnlyMemoryStream ----------------------------------------------------------

int64_t TReadOnlyMemoryStream::Read(void* buffer, int64_t count) {
  if (count <= 0 || position_ >= size_) return 0;
  int64_t n = std::min(count, size_ - position_);
  std::memcpy(buffer, data_ + position_, static_cast<size_t>(n));
  position_ += n;
  return n;
}

int64_t TReadOnlyMemoryStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t base = origin == SeekOrigin::kBegin     ? 0
                 : origin == SeekOrigin::kCurrent ? position_
                                                  : size_;
  if (offset > 0 && base > std::numeric_limits<int64_t>::max() - offset)
    throw EStreamError("Stream seek error");
  if (base + offset < 0) throw EStreamError("Stream seek error");
  position_ = base + offset;
  return position_;
}

void TReadOnlyMemoryStream::SetSize(int64_t) { throw EStreamError("Stream is read-only"); }

// --- TFileStream -----------------------------------------------------------------

TFileStream::TFileStream(const std::string& fileName, uint16_t mode) : fileName_(fileName) {
  Open(ActiveFileSystem(), mode);
}

TFileStream::TFileStream(FileSystem& fs, const std::string& fileName, uint16_t mode)
    : fileName_(fileName) {
  Open(fs, mode);
}

void TFileStream::Open(FileSystem& fs, uint16_t mode) {
  handle_ = fs.Open(fileName_, mode);
  if (handle_) return;
  std::string message = fs.LastError().message;  // before anything else can replace it
  std::string expanded = fs.DisplayName(fileName_);
  if (mode == FileMode::fmCreate)
    throw EFCreateError(Format("Cannot create file \"%s\". %s", {expanded, message}));
  throw EFOpenError(Format("Cannot open file \"%s\". %s", {expanded, message}));
}

int64_t TFileStream::Read(void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = handle_->Read(buffer, count);
  return n < 0 ? 0 : n;
}

int64_t TFileStream::Write(const void* buffer, int64_t count) {
  if (count <= 0) return 0;
  int64_t n = handle_->Write(buffer, count);
  return n < 0 ? 0 : n;
}

int64_t TFileStream::Seek(int64_t offset, SeekOrigin origin) {
  int64_t position = handle_->Seek(offset, origin);
  if (position < 0)
    throw EStreamError(Format("Stream seek error. %s", {handle_->LastError().message}));
  return position;
}

void TFileStream::SetSize(int64_t size) {
  if (!handle_->Truncate(size))
    throw EStreamError(Format("Stream size error. %s", {handle_->LastError().message}));
  if (GetPosition() > size) Seek(size, SeekOrigin::kBegin);
}

int64_t TFileStream::GetSize() {
  int64_t size = handle_->Size();
  if (size < 0) throw EStreamError(Format("Stream size error. %s", {handle_->LastError().message}));
  return size;
}

bool TFileStream::Flush() { return handle_->Flush(); }

}  // namespace zw
