#include "Journal.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "Format.h"
#include "Paths.h"
#include "ZWExcept.h"
#include "ZipRecords.h"

namespace zw {

namespace {

// Layout: magic, records, trailer. Restore record: kind 'R', name, alternate, keep (u64),
// count (u64), bytes. Packed restore record (version 2): kind 'T' (or 'Z'), name,
// alternate, keep, count, then chunks until their raw lengths add up to count, each its
// raw length (u32, 1 to kPackChunk), its packed length (u32), the CRC-32 of its raw
// bytes (u32) and its raw deflate stream: of the raw bytes ('Z'), or of them regrouped
// ('T', see JournalPacking.h). Remove-volumes record: kind 'V', prefix, suffix, width (u32), from
// (u32). Names: u16 length and bytes. Trailer: kTrailerMark, CRC-32 of everything
// before the trailer, and that length (u64).
constexpr char kMagic[8] = {'Z', 'W', 'J', 'R', 'N', 'L', 2, 0};
// Version 1 (no packed records) is what earlier releases left: still replayed.
constexpr char kMagicV1[8] = {'Z', 'W', 'J', 'R', 'N', 'L', 1, 0};
constexpr uint32_t kRestoreKind = 'R';
constexpr uint32_t kPackedRestoreKind = 'Z';
constexpr uint32_t kRegroupedRestoreKind = 'T';
constexpr uint32_t kRemoveVolumesKind = 'V';
constexpr uint32_t kTrailerMark = 0x21444E45;  // "END!"
constexpr int64_t kTrailerSize = 16;
constexpr int64_t kChunkHeaderSize = 12;
constexpr int64_t kChunk = 1 << 20;

uint32_t Crc(uint32_t crc, const void* data, int64_t count) {
  return static_cast<uint32_t>(
      crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(count)));
}

std::string FolderOf(const std::string& archiveName) { return ExtractFilePath(archiveName); }

// Creates the journal file. When the archive's folder does not exist, the failure names
// the archive: that is the file the user asked for, and it cannot be made either.
std::unique_ptr<TFileStream> CreateJournalFile(FileSystem& fs, const std::string& path,
                                               const std::string& archiveName) {
  try {
    return std::make_unique<TFileStream>(fs, path, FileMode::fmCreate);
  } catch (const EFCreateError&) {
    std::string why = fs.LastError().message;
    std::string folder = ExtractFileDir(archiveName);
    if (folder.empty() || fs.DirectoryExists(folder)) throw;
    throw EFCreateError(
        Format("Cannot create file \"%s\". %s", {fs.DisplayName(archiveName), why}));
  }
}

// A parsed journal. Restore bytes stay in the file: `bytesAt` is where they start.
struct Record {
  uint32_t kind = 0;
  std::string name, alternate;
  uint64_t keep = 0;
  int64_t bytesAt = 0, count = 0;
  bool packed = false;
  std::vector<TZWPackedChunk> chunks;
  TZWVolumeNaming naming;
  int32_t from = 0;
};

// Reads the records of a sealed journal; false when it is incomplete or damaged (it
// was never sealed, so the archive was not touched).
class Reader {
 public:
  explicit Reader(TStream& file) : file_(file) {}

  bool Parse(std::vector<Record>& records) {
    int64_t size = file_.GetSize();
    if (size < static_cast<int64_t>(sizeof kMagic) + kTrailerSize) return false;
    uint8_t trailer[kTrailerSize];
    file_.SetPosition(size - kTrailerSize);
    file_.ReadBuffer(trailer, kTrailerSize);
    end_ = size - kTrailerSize;
    if (GetU32(trailer) != kTrailerMark || GetU64(trailer + 8) != static_cast<uint64_t>(end_))
      return false;
    if (CrcOfBody() != GetU32(trailer + 4)) return false;
    char magic[sizeof kMagic];
    file_.SetPosition(0);
    file_.ReadBuffer(magic, sizeof magic);
    packedKnown_ = std::memcmp(magic, kMagic, sizeof kMagic) == 0;
    if (!packedKnown_ && std::memcmp(magic, kMagicV1, sizeof kMagic) != 0) return false;
    at_ = sizeof kMagic;
    while (at_ < end_) {
      Record r;
      if (!ReadRecord(r)) return false;
      records.push_back(std::move(r));
    }
    return at_ == end_;
  }

 private:
  uint32_t CrcOfBody() {
    std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(kChunk, end_)));
    uint32_t crc = 0;
    file_.SetPosition(0);
    for (int64_t left = end_; left > 0;) {
      int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
      file_.ReadBuffer(buffer.data(), n);
      crc = Crc(crc, buffer.data(), n);
      left -= n;
    }
    return crc;
  }

  bool Take(void* out, int64_t count) {
    if (count > end_ - at_) return false;
    file_.SetPosition(at_);
    file_.ReadBuffer(out, count);
    at_ += count;
    return true;
  }
  bool TakeU32(uint32_t& v) {
    uint8_t b[4];
    if (!Take(b, 4)) return false;
    v = GetU32(b);
    return true;
  }
  bool TakeU64(uint64_t& v) {
    uint8_t b[8];
    if (!Take(b, 8)) return false;
    v = GetU64(b);
    return true;
  }
  bool TakeName(std::string& name) {
    uint8_t b[2];
    if (!Take(b, 2)) return false;
    name.resize(GetU16(b));
    return name.empty() || Take(name.data(), static_cast<int64_t>(name.size()));
  }

  bool ReadRecord(Record& r) {
    if (!TakeU32(r.kind)) return false;
    if (r.kind == kRestoreKind) {
      uint64_t count = 0;
      if (!TakeName(r.name) || !TakeName(r.alternate) || !TakeU64(r.keep) || !TakeU64(count))
        return false;
      if (count > static_cast<uint64_t>(end_ - at_)) return false;
      r.bytesAt = at_;
      r.count = static_cast<int64_t>(count);
      at_ += r.count;
      return !r.name.empty();
    }
    if ((r.kind == kPackedRestoreKind || r.kind == kRegroupedRestoreKind) && packedKnown_)
      return ReadPackedRecord(r);
    if (r.kind == kRemoveVolumesKind) {
      uint32_t width = 0, from = 0;
      if (!TakeName(r.naming.prefix) || !TakeName(r.naming.suffix) || !TakeU32(width) ||
          !TakeU32(from) || width > 9 || from > 0xFFFF)
        return false;
      r.naming.width = static_cast<int32_t>(width);
      r.from = static_cast<int32_t>(from);
      return true;
    }
    return false;
  }

  // The chunks are checked against the bytes present, and each raw length against the
  // chunk size, so nothing is allocated beyond what the journal backs.
  bool ReadPackedRecord(Record& r) {
    uint64_t count = 0;
    if (!TakeName(r.name) || !TakeName(r.alternate) || !TakeU64(r.keep) || !TakeU64(count))
      return false;
    r.packed = true;
    uint64_t raw = 0;
    while (raw < count) {
      uint8_t b[kChunkHeaderSize];
      if (!Take(b, kChunkHeaderSize)) return false;
      TZWPackedChunk c;
      c.rawAt = static_cast<int64_t>(raw);
      c.packedAt = at_;
      c.rawLength = GetU32(b);
      c.packedLength = GetU32(b + 4);
      c.rawCrc = GetU32(b + 8);
      c.regrouped = r.kind == kRegroupedRestoreKind;
      if (c.rawLength == 0 || c.rawLength > kPackChunk || c.rawLength > count - raw ||
          c.packedLength > MaxPackedLength() || c.packedLength > end_ - at_)
        return false;
      at_ += c.packedLength;
      raw += c.rawLength;
      r.chunks.push_back(c);
    }
    r.count = static_cast<int64_t>(count);
    return !r.name.empty();
  }

  TStream& file_;
  int64_t end_ = 0;
  int64_t at_ = 0;
  bool packedKnown_ = false;
};

// Inflates one chunk read from the journal into `raw`.
void InflateChunk(TStream& journal, const TZWPackedChunk& c, std::vector<uint8_t>& packed,
                  std::vector<uint8_t>& raw) {
  packed.resize(c.packedLength);
  journal.SetPosition(c.packedAt);
  if (c.packedLength > 0) journal.ReadBuffer(packed.data(), c.packedLength);
  UnpackChunk(packed.data(), c, raw);
}

void CopyPacked(TStream& journal, const std::vector<TZWPackedChunk>& chunks, TStream& file) {
  std::vector<uint8_t> packed, raw;
  for (const TZWPackedChunk& c : chunks) {
    InflateChunk(journal, c, packed, raw);
    file.WriteBuffer(raw.data(), c.rawLength);
  }
}

[[noreturn]] void RaiseNotRestored(FileSystem& fs, const std::string& archiveName,
                                   const std::string& cause) {
  throw EZWException(ecRestorePending, {fs.DisplayName(archiveName), cause});
}

void CheckedSyncFolder(FileSystem& fs, const std::string& path) {
  if (!fs.SyncFolderOf(path)) throw EStreamError("Cannot sync folder: " + fs.LastError().message);
}

void RemoveVolumes(FileSystem& fs, const std::string& folder, const Record& r, bool sync) {
  // Volumes are made one after another, and removed here from the highest down, so
  // the ones present always form one run of numbers, even after an interruption.
  int32_t last = r.from - 1;
  while (last < 0xFFFF && fs.FileExists(folder + r.naming.NameOf(last + 1))) ++last;
  for (int32_t n = last; n >= r.from; --n) {
    std::string name = folder + r.naming.NameOf(n);
    if (!fs.DeleteFile(name)) throw EStreamError("Cannot delete \"" + name + "\"");
  }
  if (sync && last >= r.from) CheckedSyncFolder(fs, folder + r.naming.NameOf(r.from));
}

void ApplyRestore(FileSystem& fs, const std::string& folder, const Record& r, TStream& journal,
                  bool sync) {
  std::string name = folder + r.name;
  if (!r.alternate.empty() && fs.FileExists(folder + r.alternate)) {
    if (fs.FileExists(name) && !fs.DeleteFile(name))
      throw EStreamError("Cannot delete \"" + name + "\"");
    if (!fs.RenameFile(folder + r.alternate, name))
      throw EStreamError("Cannot rename \"" + folder + r.alternate + "\"");
    if (sync) CheckedSyncFolder(fs, name);
  }
  bool existed = fs.FileExists(name);
  TFileStream file(
      fs, name,
      existed ? FileMode::fmOpenReadWrite | FileMode::fmShareExclusive : FileMode::fmCreate);
  file.SetSize(static_cast<int64_t>(r.keep));
  file.SetPosition(static_cast<int64_t>(r.keep));
  if (r.packed) {
    CopyPacked(journal, r.chunks, file);
  } else {
    journal.SetPosition(r.bytesAt);
    if (r.count > 0) file.CopyFrom(journal, r.count);
  }
  FlushToDevice(file, sync);
  if (sync && !existed) CheckedSyncFolder(fs, name);
}

void ReplayRecords(FileSystem& fs, const std::string& archiveName,
                   const std::vector<Record>& records, TStream& journal, bool sync) {
  std::string folder = FolderOf(archiveName);
  for (const Record& r : records) {
    if (r.kind == kRemoveVolumesKind)
      RemoveVolumes(fs, folder, r, sync);
    else
      ApplyRestore(fs, folder, r, journal, sync);
  }
}

// Deletes the journal file and makes that durable.
void DeleteJournal(FileSystem& fs, const std::string& path, bool sync) {
  if (!fs.DeleteFile(path)) throw EStreamError("Cannot delete \"" + path + "\"");
  if (sync) CheckedSyncFolder(fs, path);
}

}  // namespace

void FlushToDevice(TStream& stream, bool wanted) {
  auto* file = dynamic_cast<TFileStream*>(&stream);
  if (file && wanted && !file->Flush())
    throw EStreamError("Cannot flush \"" + file->FileName() + "\"");
}

std::string TZWVolumeNaming::NameOf(int32_t n) const {
  std::string number = std::to_string(n + 1);
  if (static_cast<int32_t>(number.size()) < width)
    number.insert(0, static_cast<size_t>(width) - number.size(), '0');
  return prefix + number + suffix;
}

namespace {

// Saved bytes as a read-only stream of their own; subclasses read them.
class SavedBytesView : public TStream {
 public:
  explicit SavedBytesView(int64_t size) : size_(size) {}
  int64_t Write(const void*, int64_t) override { return 0; }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    int64_t base = origin == SeekOrigin::kBegin     ? 0
                   : origin == SeekOrigin::kCurrent ? position_
                                                    : size_;
    if (base + offset < 0) throw EStreamError("Seek before the start of the saved bytes");
    return position_ = base + offset;
  }
  void SetSize(int64_t) override { throw EStreamError("The saved bytes cannot be changed"); }
  int64_t GetSize() override { return size_; }

 protected:
  int64_t size_, position_ = 0;
};

}  // namespace

// The saved bytes of the first restore record, as a stream of their own.
class TZWJournal::Window : public SavedBytesView {
 public:
  Window(TStream& base, int64_t at, int64_t size) : SavedBytesView(size), base_(base), at_(at) {}
  int64_t Read(void* buffer, int64_t count) override {
    count = std::max<int64_t>(0, std::min(count, size_ - position_));
    if (count == 0) return 0;
    base_.SetPosition(at_ + position_);
    int64_t n = base_.Read(buffer, count);
    if (n > 0) position_ += n;
    return n;
  }

 private:
  TStream& base_;
  int64_t at_;
};

// The saved bytes of a packed first restore record, inflated a chunk at a time.
class TZWJournal::PackedWindow : public SavedBytesView {
 public:
  PackedWindow(TStream& base, const std::vector<TZWPackedChunk>& chunks, int64_t size)
      : SavedBytesView(size), base_(base), chunks_(chunks) {}
  int64_t Read(void* buffer, int64_t count) override {
    auto* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < count && position_ < size_) {
      const TZWPackedChunk& c = ChunkAt(position_);
      int64_t inChunk = position_ - c.rawAt;
      int64_t n = std::min<int64_t>(count - done, c.rawLength - inChunk);
      std::memcpy(out + done, raw_.data() + inChunk, static_cast<size_t>(n));
      done += n;
      position_ += n;
    }
    return done;
  }

 private:
  // The chunk holding `position` (< size_), inflated into raw_.
  const TZWPackedChunk& ChunkAt(int64_t position) {
    auto it = std::upper_bound(chunks_.begin(), chunks_.end(), position,
                               [](int64_t p, const TZWPackedChunk& c) { return p < c.rawAt; });
    size_t index = static_cast<size_t>(it - chunks_.begin()) - 1;
    if (index != cached_) {
      cached_ = SIZE_MAX;
      InflateChunk(base_, chunks_[index], packed_, raw_);
      cached_ = index;
    }
    return chunks_[index];
  }

  TStream& base_;
  const std::vector<TZWPackedChunk>& chunks_;
  size_t cached_ = SIZE_MAX;
  std::vector<uint8_t> packed_, raw_;
};

std::string TZWJournal::PathFor(const std::string& archiveName) { return archiveName + "-journal"; }

TZWJournal::Outcome TZWJournal::Recover(FileSystem& fs, const std::string& archiveName, bool sync) {
  std::string path = PathFor(archiveName);
  if (!fs.FileExists(path)) return Outcome::kNone;
  std::vector<Record> records;
  bool sealed = false;
  {
    // Exclusive: a journal that another process holds belongs to an update that runs.
    TFileStream journal(fs, path, FileMode::fmOpenRead | FileMode::fmShareExclusive);
    try {
      sealed = Reader(journal).Parse(records);
      if (sealed) ReplayRecords(fs, archiveName, records, journal, sync);
    } catch (const Exception& e) {
      RaiseNotRestored(fs, archiveName, e.Message());
    }
  }
  try {
    DeleteJournal(fs, path, sync);
  } catch (const Exception& e) {
    if (sealed) RaiseNotRestored(fs, archiveName, e.Message());
    // An unsealed journal left behind does no harm: it is never replayed.
  }
  return sealed ? Outcome::kRestored : Outcome::kDiscarded;
}

TZWJournal::TZWJournal(FileSystem& fs, const std::string& archiveName, bool sync)
    : fs_(fs), archiveName_(archiveName), path_(PathFor(archiveName)), sync_(sync) {
  file_ = CreateJournalFile(fs_, path_, archiveName_);
  try {
    WriteRaw(kMagic, sizeof kMagic);
  } catch (...) {
    file_.reset();
    fs_.DeleteFile(path_);  // never sealed: harmless, but not to be left behind
    throw;
  }
}

TZWJournal::~TZWJournal() { window_.reset(); }

// Chunks end where a central header ends, so that each begins with whole headers.
void TZWJournal::WritePacked(TStream& source, int64_t count, bool first) {
  TZWChunkPacker packer;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<int64_t>(count, kPackChunk)));
  size_t filled = 0;
  int64_t rawAt = 0;
  for (int64_t left = count; left > 0 || filled > 0;) {
    size_t more = static_cast<size_t>(std::min<int64_t>(left, buffer.size() - filled));
    source.ReadBuffer(buffer.data() + filled, static_cast<int64_t>(more));
    filled += more;
    left -= static_cast<int64_t>(more);
    size_t n = NextChunkLength(buffer.data(), filled);
    TZWPackedChunk c;
    c.rawAt = rawAt;
    const uint8_t* packed = packer.Pack(buffer.data(), n, c);
    uint8_t header[kChunkHeaderSize];
    PutU32(header, c.rawLength);
    PutU32(header + 4, c.packedLength);
    PutU32(header + 8, c.rawCrc);
    WriteRaw(header, kChunkHeaderSize);
    c.packedAt = file_->GetPosition();
    WriteRaw(packed, c.packedLength);
    if (first) firstChunks_.push_back(c);
    std::memmove(buffer.data(), buffer.data() + n, filled - n);
    filled -= n;
    rawAt += static_cast<int64_t>(n);
  }
}

void TZWJournal::WriteRaw(const void* data, int64_t count) {
  file_->WriteBuffer(data, count);
  crc_ = Crc(crc_, data, count);
}

void TZWJournal::WriteU16(uint16_t v) {
  uint8_t b[2];
  PutU16(b, v);
  WriteRaw(b, 2);
}

void TZWJournal::WriteU32(uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  WriteRaw(b, 4);
}

void TZWJournal::WriteU64(uint64_t v) {
  uint8_t b[8];
  PutU64(b, v);
  WriteRaw(b, 8);
}

void TZWJournal::WriteName(const std::string& name) {
  std::string leaf = ExtractFileName(name);
  WriteU16(static_cast<uint16_t>(leaf.size()));
  WriteRaw(leaf.data(), static_cast<int64_t>(leaf.size()));
}

void TZWJournal::AddRestore(const std::string& name, const std::string& alternate, uint64_t keep,
                            TStream& source, int64_t count, bool packed) {
  if (count < 0) count = std::max<int64_t>(0, source.GetSize() - source.GetPosition());
  WriteU32(packed ? kRegroupedRestoreKind : kRestoreKind);
  WriteName(name);
  WriteName(alternate);
  WriteU64(keep);
  WriteU64(static_cast<uint64_t>(count));
  bool first = firstBytesAt_ < 0;
  if (first) {
    firstBytesAt_ = file_->GetPosition();
    firstBytesCount_ = count;
    firstPacked_ = packed;
  }
  if (packed) return WritePacked(source, count, first);
  std::vector<uint8_t> buffer(static_cast<size_t>(std::clamp<int64_t>(count, 1, kChunk)));
  for (int64_t left = count; left > 0;) {
    int64_t n = std::min<int64_t>(left, static_cast<int64_t>(buffer.size()));
    source.ReadBuffer(buffer.data(), n);
    WriteRaw(buffer.data(), n);
    left -= n;
  }
}

void TZWJournal::AddRestore(const std::string& name, uint64_t keep,
                            const std::vector<uint8_t>& bytes) {
  TReadOnlyMemoryStream source(bytes.data(), static_cast<int64_t>(bytes.size()));
  AddRestore(name, "", keep, source, -1);
}

void TZWJournal::AddRemoveVolumes(const TZWVolumeNaming& naming, int32_t from) {
  WriteU32(kRemoveVolumesKind);
  WriteName(naming.prefix);
  WriteU16(static_cast<uint16_t>(naming.suffix.size()));
  WriteRaw(naming.suffix.data(), static_cast<int64_t>(naming.suffix.size()));
  WriteU32(static_cast<uint32_t>(naming.width));
  WriteU32(static_cast<uint32_t>(from));
}

void TZWJournal::Seal() {
  uint8_t trailer[kTrailerSize];
  int64_t body = file_->GetPosition();
  PutU32(trailer, kTrailerMark);
  PutU32(trailer + 4, crc_);
  PutU64(trailer + 8, static_cast<uint64_t>(body));
  file_->WriteBuffer(trailer, kTrailerSize);
  if (!sync_) return;
  FlushToDevice(*file_, true);
  CheckedSyncFolder(fs_, path_);
}

TStream* TZWJournal::SavedBytes() {
  if (!file_) return nullptr;
  if (!window_ && firstPacked_)
    window_ = std::make_unique<PackedWindow>(*file_, firstChunks_, firstBytesCount_);
  if (!window_)
    window_ = std::make_unique<Window>(*file_, std::max<int64_t>(firstBytesAt_, 0),
                                       firstBytesAt_ < 0 ? 0 : firstBytesCount_);
  return window_.get();
}

void TZWJournal::Release() {
  window_.reset();
  file_.reset();
}

void TZWJournal::Replay() {
  std::vector<Record> records;
  try {
    if (!file_ || !Reader(*file_).Parse(records))
      throw EStreamError("The journal cannot be read back");
    ReplayRecords(fs_, archiveName_, records, *file_, sync_);
  } catch (const Exception& e) {
    RaiseNotRestored(fs_, archiveName_, e.Message());
  }
  if (!Remove()) RaiseNotRestored(fs_, archiveName_, fs_.LastError().message);
}

bool TZWJournal::Remove() {
  Release();
  if (!fs_.DeleteFile(path_)) {
    // Still there: keep holding it, so that a rollback can read it back.
    try {
      file_ = std::make_unique<TFileStream>(fs_, path_,
                                            FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
    } catch (const Exception&) {
    }
    return false;
  }
  if (sync_) CheckedSyncFolder(fs_, path_);
  return true;
}

}  // namespace zw
