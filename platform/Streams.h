// Byte streams with 64-bit positions and sizes.
//
// `TStream` is the interface the component reads and writes archives through.
// `Read`/`Write` report how many bytes were done (short counts are not errors);
// `ReadBuffer`/`WriteBuffer` demand the full count and raise `EReadError` /
// `EWriteError` otherwise. `Seek` and `SetSize` raise `EStreamError` when the
// underlying file refuses, so a failed seek can never redirect a later write.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FileSystem.h"

namespace zw {

class TStream {
 public:
  virtual ~TStream() = default;
  virtual int64_t Read(void* buffer, int64_t count) = 0;
  virtual int64_t Write(const void* buffer, int64_t count) = 0;
  virtual int64_t Seek(int64_t offset, SeekOrigin origin) = 0;
  virtual void SetSize(int64_t size) = 0;
  virtual int64_t GetSize();

  int64_t GetPosition() { return Seek(0, SeekOrigin::kCurrent); }
  void SetPosition(int64_t position) { Seek(position, SeekOrigin::kBegin); }
  void ReadBuffer(void* buffer, int64_t count);
  void WriteBuffer(const void* buffer, int64_t count);
  // Copies `count` bytes from the current position of `source` (count < 0: up to its
  // end) to this stream's position. Raises EReadError/EWriteError on a short count.
  int64_t CopyFrom(TStream& source, int64_t count);
};

// A growable block of memory.
class TMemoryStream : public TStream {
 public:
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t GetSize() override { return static_cast<int64_t>(data_.size()); }
  void Clear() {
    data_.clear();
    position_ = 0;
  }
  const std::vector<uint8_t>& Data() const { return data_; }

 private:
  std::vector<uint8_t> data_;
  int64_t position_ = 0;
};

// A read-only view of a caller's bytes (no copy); for parsing untrusted input.
class TReadOnlyMemoryStream : public TStream {
 public:
  TReadOnlyMemoryStream(const void* data, int64_t size)
      : data_(static_cast<const uint8_t*>(data)), size_(size < 0 ? 0 : size) {}
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t) override;
  int64_t GetSize() override { return size_; }

 private:
  const uint8_t* data_;
  int64_t size_;
  int64_t position_ = 0;
};

// A file opened through a `FileSystem` with a `FileMode` value. Construction raises
// EFCreateError ("Cannot create file "%s". %s") for fmCreate or EFOpenError
// ("Cannot open file "%s". %s") otherwise, with the expanded path and the system's
// message.
class TFileStream : public TStream {
 public:
  TFileStream(const std::string& fileName, uint16_t mode);
  TFileStream(FileSystem& fs, const std::string& fileName, uint16_t mode);
  int64_t Read(void* buffer, int64_t count) override;
  int64_t Write(const void* buffer, int64_t count) override;
  int64_t Seek(int64_t offset, SeekOrigin origin) override;
  void SetSize(int64_t size) override;
  int64_t GetSize() override;
  // Writes the file's buffers to the device; false when the system refuses.
  bool Flush();
  const std::string& FileName() const { return fileName_; }

 private:
  void Open(FileSystem& fs, uint16_t mode);
  std::string fileName_;
  std::unique_ptr<FileHandle> handle_;
};

}  // namespace zw
