#include "DirManager.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "ArchiverState.h"
#include "CodePage.h"
#include "Streams.h"
#include "Volumes.h"
#include "ZWExcept.h"
#include "ZWZlib.h"

namespace zw {

// Buffered reads from a stream within [position, end); reading past `end` or past
// what the stream holds raises EReadError.
class BoundedReader {
 public:
  BoundedReader(TStream& stream, int64_t position, int64_t end)
      : stream_(stream), position_(position), end_(end) {}

  void Read(void* out, size_t n) {
    if (static_cast<uint64_t>(Remaining()) < n) throw EReadError();
    auto* dst = static_cast<uint8_t*>(out);
    while (n > 0) {
      if (begin_ == buffer_.size()) Fill();
      size_t take = std::min(n, buffer_.size() - begin_);
      std::memcpy(dst, buffer_.data() + begin_, take);
      begin_ += take;
      dst += take;
      n -= take;
    }
  }
  std::string ReadText(size_t n) {
    if (static_cast<uint64_t>(Remaining()) < n) throw EReadError();
    std::string s(n, '\0');
    if (n) Read(s.data(), n);
    return s;
  }
  int64_t Position() const { return position_ - static_cast<int64_t>(buffer_.size() - begin_); }
  int64_t Remaining() const { return std::max<int64_t>(0, end_ - Position()); }

 private:
  void Fill() {
    int64_t want = std::min<int64_t>(65536, end_ - position_);
    if (want <= 0) throw EReadError();
    buffer_.resize(static_cast<size_t>(want));
    stream_.SetPosition(position_);
    stream_.ReadBuffer(buffer_.data(), want);
    position_ += want;
    begin_ = 0;
  }
  TStream& stream_;
  int64_t position_;
  int64_t end_;
  std::vector<uint8_t> buffer_;
  size_t begin_ = 0;
};

namespace {

std::string UpToZero(std::string text) {
  size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return text;
}

// Zip64 values of a central header, taken for the fields that hold all ones. A block
// that ends before a value such a field asks for leaves the entry's real size or
// position unknown: the archive is refused rather than read with a made-up value.
void TakeZip64Values(TDirItem& item, const std::vector<uint8_t>& data) {
  TZip64Extra values = TZip64Extra::ForCentral(item);
  if (!values.DecodeCentral(data)) throw EZWException(ecInvalidArchive);
  if (values.HasUncompressed) item.Zip64UncompressedSize = values.UncompressedSize;
  if (values.HasCompressed) item.Zip64CompressedSize = values.CompressedSize;
  if (values.HasOffset) item.Zip64LocalHeaderOffset = values.LocalHeaderOffset;
  if (values.HasDisk) item.Zip64DiskNumberStart = values.DiskNumberStart;
}

// An all-ones field without any Zip64 block is the literal value (writers without
// Zip64 support may store it); the Zip64 value then carries the same number.
void LiteralAllOnes(TDirItem& item) {
  if (item.UncompressedSize == kAllOnes32) item.Zip64UncompressedSize = kAllOnes32;
  if (item.CompressedSize == kAllOnes32) item.Zip64CompressedSize = kAllOnes32;
  if (item.LocalHeaderOffset == kAllOnes32) item.Zip64LocalHeaderOffset = kAllOnes32;
  if (item.DiskNumberStart == kAllOnes16) item.Zip64DiskNumberStart = kAllOnes16;
}

// Extra-field blocks in order; a block longer than what remains is cut, a header
// cut short ends the field.
void ParseExtraFields(TDirItem& item, const std::string& field) {
  item.NeedsZip64 = false;
  ByteReader r(reinterpret_cast<const uint8_t*>(field.data()), field.size());
  while (r.Remaining() >= 4) {
    TExtraField block;
    block.HeaderID = r.U16();
    uint16_t declared = r.U16();
    block.DataSize = static_cast<uint16_t>(std::min<size_t>(declared, r.Remaining()));
    std::string_view data = r.Bytes(block.DataSize);
    block.Data.assign(data.begin(), data.end());
    if (block.HeaderID == kZip64ExtraId) {
      TakeZip64Values(item, block.Data);
      item.NeedsZip64 = true;
    }
    item.ExtraFields.push_back(std::move(block));
  }
}

}  // namespace

TZWDirManager::TZWDirManager(TStream* stream, TZWBaseArchiver& archiver, bool newArchive)
    : Stream(stream), NewArchive(newArchive), Archiver(archiver) {
  auto& s = ArchiverAccess::S(archiver);
  FixedStream = stream != s.archiveStream.get();
  ResetDirectory();
  if (newArchive) {
    s.currentVolume.SetFirst(true);
    if (!s.sfxStub.empty()) CopySFXStub();
  }
}

void TZWDirManager::ResetDirectory() {
  WorkingDirectory.SetCount(0);
  EndRecord = TEndOfCentralDir();
}

std::string TZWDirManager::DecodeName(const std::string& raw, uint16_t flags) const {
  return DecodeEntryName(raw, flags, ArchiverAccess::S(Archiver).options.OEMFileNames);
}

std::string TZWDirManager::EncodeName(const TDirItem& item) const {
  return EncodeEntryName(item.FileName, item.Flags,
                         ArchiverAccess::S(Archiver).options.OEMFileNames);
}

void TZWDirManager::CopySFXStub() {
  auto& s = ArchiverAccess::S(Archiver);
  TFileStream stub(Archiver.Files(), s.sfxStub, FileMode::fmOpenRead | FileMode::fmShareDenyNone);
  if (s.spanningMode != smNone) {
    TZWVolumeNumberInfo first;
    first.SetFirst(true);
    int64_t limit = GetVolumeSizeLimit(Archiver, first);
    if (limit > 0 && limit < stub.GetSize()) throw EZWException(ecStubExceedsVolume, &Archiver);
  }
  Stream->SetSize(0);
  Stream->SetPosition(0);
  Stream->CopyFrom(stub, -1);
  StartOffset = static_cast<uint64_t>(stub.GetSize());
}

bool TZWDirManager::FindEndRecord(uint32_t signature, int64_t& position) {
  ArchiveComment.clear();
  position = -1;
  int64_t size = Stream->GetSize();
  int64_t window = std::min<int64_t>(size, 65600);
  if (window < static_cast<int64_t>(TEndOfCentralDir::kSize)) return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(window));
  int64_t base = size - window;
  Stream->SetPosition(base);
  Stream->ReadBuffer(buffer.data(), window);
  uint8_t sig[4];
  PutU32(sig, signature);
  for (int64_t i = window - 4; i >= 0; --i) {
    const uint8_t* p = buffer.data() + i;
    if (p[3] != sig[3] || p[0] != sig[0] || p[1] != sig[1] || p[2] != sig[2]) continue;
    int64_t after = window - i - static_cast<int64_t>(TEndOfCentralDir::kSize);
    if (after < 0) continue;
    TEndOfCentralDir record = TEndOfCentralDir::Decode(p);
    if (record.CommentLength != after) continue;
    EndRecord = record;
    ArchiveComment = UpToZero(std::string(
        reinterpret_cast<const char*>(p + TEndOfCentralDir::kSize), static_cast<size_t>(after)));
    position = base + i;
    return true;
  }
  return false;
}

bool TZWDirManager::ProbeEndRecord() {
  int64_t position = -1;
  bool found = FindEndRecord(kEndRecordSignature, position);
  return ArchiverAccess::S(Archiver).volumeProbing ? found : true;
}

int64_t TZWDirManager::FindSignature(int64_t start, uint32_t signature, int64_t chunkSize) {
  int64_t saved = Stream->GetPosition();
  int64_t size = Stream->GetSize();
  uint8_t sig[4];
  PutU32(sig, signature);
  // The last chunk read is kept: scans for consecutive headers then read each byte of
  // the file once, not once per header.
  ScanCache& cache = scanCaches_[signature == kDataDescriptorSignature ? 1 : 0];
  if (cache.stream != Stream || cache.size != size) {
    cache.chunk.clear();
    cache.stream = Stream;
    cache.size = size;
  }
  int64_t found = -1;
  for (int64_t at = std::max<int64_t>(start, 0); at + 4 <= size && found < 0;) {
    int64_t chunkEnd = cache.at + static_cast<int64_t>(cache.chunk.size());
    if (cache.chunk.empty() || at < cache.at || at + 4 > chunkEnd) {
      int64_t n = std::min(chunkSize, size - at);
      cache.chunk.resize(static_cast<size_t>(n));
      Stream->SetPosition(at);
      Stream->ReadBuffer(cache.chunk.data(), n);
      cache.at = at;
      chunkEnd = at + n;
    }
    const uint8_t* begin = cache.chunk.data();
    const uint8_t* last = begin + (chunkEnd - cache.at) - 4;  // last place a signature fits
    for (const uint8_t* p = begin + (at - cache.at); p <= last; ++p) {
      p = static_cast<const uint8_t*>(std::memchr(p, sig[0], static_cast<size_t>(last - p) + 1));
      if (!p) break;
      if (std::memcmp(p, sig, 4) == 0) {
        found = cache.at + (p - begin);
        break;
      }
    }
    if (chunkEnd >= size) break;
    at = chunkEnd - 3;  // a signature across two chunks is still found
  }
  Stream->SetPosition(saved);
  return found;
}

void TZWDirManager::SwitchReadVolume(TZWVolumeNumberInfo& volume) {
  if (FixedStream) return;
  OpenVolume(Archiver, volume);
  Stream = ArchiverAccess::S(Archiver).archiveStream.get();
}

void TZWDirManager::ReadZip64Records(int64_t& position) {
  if (position > static_cast<int64_t>(TZip64Locator::kSize)) {
    uint8_t raw[TZip64Locator::kSize];
    Stream->SetPosition(position - static_cast<int64_t>(TZip64Locator::kSize));
    Stream->ReadBuffer(raw, sizeof raw);
    TZip64Locator locator = TZip64Locator::Decode(raw);
    if (locator.Signature == kZip64LocatorSignature) {
      Zip64Locator = locator;
      HasZip64 = true;
      position -= static_cast<int64_t>(TZip64Locator::kSize);
    }
  }
  if (!HasZip64) return;
  constexpr int64_t kRecord = TZip64EndRecord::kSize;
  if (position > kRecord && FindZip64EndRecord(position)) return;
  // Without its record the locator can only be bytes that look like one (the end of
  // the last entry's name or comment, say). An end record that needs no Zip64 value
  // is read as it is; one that does cannot be read.
  if (EndRecord.HasZip64Markers()) throw EZWException(ecZip64EndRecordMissing);
  HasZip64 = false;
  Zip64Locator = TZip64Locator();
  position += static_cast<int64_t>(TZip64Locator::kSize);
}

bool TZWDirManager::FindZip64EndRecord(int64_t& position) {
  constexpr int64_t kRecord = TZip64EndRecord::kSize;
  // Where the locator points, a record is taken when it ends exactly at the locator
  // (it may carry extensible data after its 56 bytes). The locator's offset ignores
  // any leading stub in some writers' output; the record then lies directly before
  // the locator, whatever size it states for itself.
  auto recordAt = [&](uint64_t at, bool mustReachLocator) {
    if (at > static_cast<uint64_t>(position - kRecord)) return false;
    uint8_t raw[kRecord];
    Stream->SetPosition(static_cast<int64_t>(at));
    Stream->ReadBuffer(raw, kRecord);
    TZip64EndRecord record = TZip64EndRecord::Decode(raw);
    uint64_t room = static_cast<uint64_t>(position) - at - 12;
    if (record.Signature != kZip64EndRecordSignature) return false;
    if (mustReachLocator && record.SizeOfRecord != room) return false;
    Zip64EndRecord = record;
    position = static_cast<int64_t>(at);
    return true;
  };
  return recordAt(Zip64Locator.Zip64EndOffset, true) ||
         recordAt(static_cast<uint64_t>(position - kRecord), false);
}

bool TZWDirManager::ChainReaches(int64_t from, int64_t target) {
  int64_t at = from;
  while (at < target) {
    if (target - at < static_cast<int64_t>(TCentralFileHeader::kSize)) return false;
    uint8_t raw[TCentralFileHeader::kSize];
    Stream->SetPosition(at);
    Stream->ReadBuffer(raw, sizeof raw);
    TCentralFileHeader h = TCentralFileHeader::Decode(raw);
    if (h.Signature != kCentralHeaderSignature) return false;
    at += static_cast<int64_t>(h.RecordSize());
  }
  return at == target;
}

void TZWDirManager::LocateDirectory(int64_t endPosition, int64_t& start, int64_t& end) {
  uint64_t size = HasZip64 ? Zip64EndRecord.CentralDirSize : EndRecord.CentralDirSize;
  uint64_t offset = HasZip64 ? Zip64EndRecord.CentralDirOffset : EndRecord.CentralDirOffset;
  end = endPosition;
  auto headerAt = [&](int64_t at) {
    if (at < 0 || at + 4 > endPosition) return false;
    uint8_t sig[4];
    Stream->SetPosition(at);
    Stream->ReadBuffer(sig, 4);
    return GetU32(sig) == kCentralHeaderSignature;
  };
  bool sizeFits = size <= static_cast<uint64_t>(endPosition);
  start = sizeFits ? endPosition - static_cast<int64_t>(size) : -1;
  if (start >= 0 && offset < static_cast<uint64_t>(start) &&
      ChainReaches(static_cast<int64_t>(offset), start)) {
    // A size that is too small lands inside the directory; the stored offset holds
    // headers that lead exactly there, so the directory begins at the offset and
    // no entry in front is lost.
    start = static_cast<int64_t>(offset);
    return;
  }
  if (start == endPosition || headerAt(start)) return;
  // A directory size that does not lead to a central header: the stored offset may.
  if (offset < static_cast<uint64_t>(endPosition) && headerAt(static_cast<int64_t>(offset))) {
    start = static_cast<int64_t>(offset);
    return;
  }
  throw EZWException(ecInvalidArchive);
}

void TZWDirManager::ReadCentralHeader(BoundedReader& in, TDirItem& item) {
  uint8_t raw[TDirItem::kHeaderSize];
  in.Read(raw, sizeof raw);
  item.DecodeHeader(raw);
  if (item.Signature != kCentralHeaderSignature) throw EZWException(ecInvalidArchive);
  std::string rawName = in.ReadText(item.FileNameLength);
  item.FileName = DecodeName(rawName, item.Flags);
  if (EncodeName(item) != rawName) item.StoredNameBytes = rawName;
  if (item.ExtraFieldLength) ParseExtraFields(item, in.ReadText(item.ExtraFieldLength));
  if (!item.NeedsZip64) LiteralAllOnes(item);
  item.FileComment = UpToZero(in.ReadText(item.FileCommentLength));
}

void TZWDirManager::ReadCentralHeaders(int64_t start, int64_t end, TZWVolumeNumberInfo& volume,
                                       bool multi) {
  if (!multi) {
    BoundedReader in(*Stream, start, end);
    while (in.Remaining() > 0)
      ReadCentralHeader(in, WorkingDirectory.ItemPtr(WorkingDirectory.Add()));
    return;
  }
  // Across volumes: headers never straddle two volumes; the count says how many.
  uint64_t total = HasZip64 ? (Zip64EndRecord.TotalEntries & 0xFFFFFFFFu) : EndRecord.TotalEntries;
  int64_t position = start;
  for (uint64_t i = 0; i < total; ++i) {
    int64_t volumeEnd = Stream->GetSize();
    if (volumeEnd - position < static_cast<int64_t>(TDirItem::kHeaderSize)) {
      // The directory cannot go on past the last volume, nor start over on a stream
      // that cannot be switched.
      if (FixedStream || volume.VolumeNumber >= volume.LastVolumeNumber) throw EReadError();
      volume.SetVolumeNumber(volume.VolumeNumber + 1);
      SwitchReadVolume(volume);
      position = 0;
      volumeEnd = Stream->GetSize();
    }
    BoundedReader in(*Stream, position, volumeEnd);
    ReadCentralHeader(in, WorkingDirectory.ItemPtr(WorkingDirectory.Add()));
    position = in.Position();
  }
}

void TZWDirManager::ReadDirectory() {
  auto& s = ArchiverAccess::S(Archiver);
  ResetDirectory();
  for (ScanCache& cache : scanCaches_) cache.chunk.clear();
  descriptorFrom_ = descriptorFound_ = -1;
  StartOffset = 0;
  HasZip64 = false;
  DirectoryStart = -1;
  DroppedEntries = 0;
  s.lastOpenDropped = 0;
  int64_t position = -1;
  if (!FindEndRecord(kEndRecordSignature, position)) {
    if (s.spanningMode != smNone) throw EZWException(ecNoEndRecordOnVolumes);
    ScanLocalHeaders();
    s.lastOpenDropped = DroppedEntries;
    return;
  }
  ReadZip64Records(position);
  TZWVolumeNumberInfo volume;
  int64_t dirVolume, lastVolume;
  if (HasZip64) {
    dirVolume = Zip64EndRecord.DiskWithCentralDir;
    lastVolume = static_cast<int64_t>(Zip64Locator.TotalDisks) - 1;
  } else {
    if (EndRecord.NumberOfThisDisk == kAllOnes16) EndRecord.NumberOfThisDisk = 0;
    if (EndRecord.DiskWithCentralDir == kAllOnes16) EndRecord.DiskWithCentralDir = 0;
    dirVolume = EndRecord.DiskWithCentralDir;
    lastVolume = EndRecord.NumberOfThisDisk;
  }
  volume.LastVolumeNumber = static_cast<int32_t>(lastVolume);
  volume.SetVolumeNumber(static_cast<int32_t>(dirVolume));
  bool multi = s.spanningMode != smNone;
  int64_t start = 0, end = 0;
  if (multi) {
    SwitchReadVolume(volume);
    start = static_cast<int64_t>(HasZip64 ? Zip64EndRecord.CentralDirOffset
                                          : EndRecord.CentralDirOffset);
    end = Stream->GetSize();
  } else {
    LocateDirectory(position, start, end);
    DirectoryStart = start;
  }
  ReadCentralHeaders(start, end, volume, multi);
  if (lastVolume == 0 || !multi) FindStartOffset(position);
}

namespace {

// A local header field agrees with the central one when equal, or when the local
// header leaves it to a Zip64 extra (all ones) or to a data descriptor (bit 3: the
// local values then mean nothing, whatever a writer put there).
bool LocalFieldAgrees(uint32_t local, uint32_t central, uint16_t localFlags) {
  return local == central || local == kAllOnes32 || (localFlags & kFlagDataDescriptor);
}

bool LocalHeaderMatches(const TLocalFileHeader& h, const TDirItem& item) {
  return h.VersionNeeded == item.VersionNeeded && h.CompressionMethod == item.CompressionMethod &&
         h.LastModTime == item.LastModTime && h.LastModDate == item.LastModDate &&
         LocalFieldAgrees(h.Crc32, item.Crc32, h.Flags) &&
         LocalFieldAgrees(h.CompressedSize, item.CompressedSize, h.Flags) &&
         LocalFieldAgrees(h.UncompressedSize, item.UncompressedSize, h.Flags);
}

}  // namespace

// Finds item 0's local header (same name, version, method, time, date, CRC and sizes)
// at or after its stored position. Found further on, the
// stored positions leave out leading data (a stub prepended after the archive was
// made) and every item is moved by the difference. StartOffset becomes the position
// of the first local header, i.e. the size of the leading data.
void TZWDirManager::FindStartOffset(int64_t position) {
  if (WorkingDirectory.Count() == 0) {
    StartOffset = static_cast<uint64_t>(position);
    return;
  }
  const TDirItem& first = WorkingDirectory.ItemPtr(0);
  // Local headers lie in front of the central directory, never inside it.
  int64_t size = DirectoryStart >= 0 ? DirectoryStart : Stream->GetSize();
  uint64_t from = first.RealLocalHeaderOffset();
  if (from >= static_cast<uint64_t>(size)) return;
  for (int64_t at = static_cast<int64_t>(from);;) {
    int64_t found = FindSignature(at, kLocalHeaderSignature, 10000);
    if (found < 0 || found + static_cast<int64_t>(TLocalFileHeader::kSize) > size) return;
    uint8_t raw[TLocalFileHeader::kSize];
    Stream->SetPosition(found);
    Stream->ReadBuffer(raw, sizeof raw);
    TLocalFileHeader h = TLocalFileHeader::Decode(raw);
    int64_t nameEnd = found + static_cast<int64_t>(TLocalFileHeader::kSize) + h.FileNameLength;
    if (LocalHeaderMatches(h, first) && nameEnd <= size) {
      std::string rawName(h.FileNameLength, '\0');
      if (h.FileNameLength) Stream->ReadBuffer(rawName.data(), h.FileNameLength);
      if (DecodeName(rawName, h.Flags) == first.FileName) {
        ApplyStartOffset(static_cast<uint64_t>(found) - from);
        return;
      }
    }
    at = found + 1;
  }
}

void TZWDirManager::ApplyStartOffset(uint64_t shift) {
  uint64_t lowest = UINT64_MAX;
  for (int32_t i = 0; i < WorkingDirectory.Count(); ++i) {
    TDirItem& item = WorkingDirectory.ItemPtr(i);
    // Directory entries have local headers too, and are copied like any other entry.
    if (shift != 0)
      item.SetLocalHeaderOffset(item.RealLocalHeaderOffset() + shift,
                                item.LocalHeaderOffset == kAllOnes32);
    lowest = std::min(lowest, item.RealLocalHeaderOffset());
  }
  StartOffset = lowest;
}

namespace {

constexpr int64_t kVerifyChunk = 65536;

// A raw inflate stream, ended however the check ends.
struct InflateStream {
  z_stream zs{};
  bool open = false;
  InflateStream() = default;
  InflateStream(const InflateStream&) = delete;
  InflateStream& operator=(const InflateStream&) = delete;
  ~InflateStream() {
    if (open) inflateEnd(&zs);
  }
};

}  // namespace

// Takes CRC and sizes of a streamed entry (flag bit 3) from the data descriptor that
// follows its data: the first descriptor signature after the data start. The Zip64
// form (8-byte sizes) is taken when the local header has a Zip64 extra, or when a
// record signature follows the 24-byte form but not the 16-byte one. False when the
// data would reach past the end of the file.
bool TZWDirManager::ApplyDataDescriptor(int64_t dataStart, TDirItem& item, bool zip64Local) {
  int64_t size = Stream->GetSize();
  // A search from further on finds what an earlier one found, if that lies after the
  // new start (or nothing, if the earlier one found nothing): headers that keep
  // missing their descriptors then cost one search, not one each.
  int64_t found = descriptorFrom_ >= 0 && dataStart >= descriptorFrom_ &&
                          (descriptorFound_ < 0 || descriptorFound_ >= dataStart)
                      ? descriptorFound_
                      : FindSignature(dataStart, kDataDescriptorSignature, 65535);
  descriptorFrom_ = dataStart;
  descriptorFound_ = found;
  if (found < 0 || found + static_cast<int64_t>(TDataDescriptor::SizeOf(true, false)) >
                       size)  // no descriptor: the header's values stay
    return item.RealCompressedSize() <= static_cast<uint64_t>(size - dataStart);
  uint8_t raw[TDataDescriptor::kMaxSize + 4] = {};
  int64_t available = std::min<int64_t>(sizeof raw, size - found);
  Stream->SetPosition(found);
  Stream->ReadBuffer(raw, available);
  TDataDescriptor d = TDataDescriptor::Scanned(raw, static_cast<size_t>(available), zip64Local);
  uint64_t compressed = d.CompressedSize;
  uint64_t uncompressed = d.UncompressedSize;
  if (compressed > static_cast<uint64_t>(size - dataStart)) return false;
  item.Crc32 = d.Crc32;
  item.Zip64CompressedSize = compressed;
  item.Zip64UncompressedSize = uncompressed;
  auto narrow = [](uint64_t v) { return v >= kAllOnes32 ? kAllOnes32 : static_cast<uint32_t>(v); };
  item.CompressedSize = narrow(compressed);
  item.UncompressedSize = narrow(uncompressed);
  item.NeedsZip64 = item.CompressedSize == kAllOnes32 || item.UncompressedSize == kAllOnes32;
  return true;
}

// The data of the entries taken lies apart, and that of an entry that fails its check
// usually does too; headers nested inside the data of one another would have the same
// bytes read again for each of them. Reads are bounded by a multiple of the file
// size, beyond which the file is refused.
void TZWDirManager::ReadForCheck(int64_t at, uint8_t* out, size_t n) {
  if (n > checkBudget_) throw EZWException(ecInvalidArchive);
  checkBudget_ -= n;
  Stream->SetPosition(at);
  Stream->ReadBuffer(out, static_cast<int64_t>(n));
}

bool TZWDirManager::DataVerifies(int64_t dataStart, const TDirItem& item) {
  if ((item.Flags & kFlagEncrypted) ||
      (item.CompressionMethod != kMethodStored && item.CompressionMethod != kMethodDeflated))
    return true;
  uint64_t compressed = item.RealCompressedSize();
  uint64_t expected = item.RealUncompressedSize();
  // Empty data of any method (some writers mark empty entries deflated).
  if (compressed == 0 && expected == 0) return item.Crc32 == 0;
  if (item.CompressionMethod == kMethodDeflated) return InflatedDataVerifies(dataStart, item);
  if (compressed != expected) return false;
  verifyIn_.resize(kVerifyChunk);
  uLong crc = crc32(0, nullptr, 0);
  int64_t at = dataStart;
  for (uint64_t left = compressed; left > 0;) {
    auto n = static_cast<uInt>(std::min<uint64_t>(left, kVerifyChunk));
    ReadForCheck(at, verifyIn_.data(), n);
    crc = crc32(crc, verifyIn_.data(), n);
    at += n;
    left -= n;
  }
  return static_cast<uint32_t>(crc) == item.Crc32;
}

bool TZWDirManager::InflatedDataVerifies(int64_t dataStart, const TDirItem& item) {
  uint64_t expected = item.RealUncompressedSize();
  verifyIn_.resize(kVerifyChunk);
  verifyOut_.resize(kVerifyChunk);
  InflateStream inflater;
  z_stream& zs = inflater.zs;
  CheckZlibResult(inflateInit2(&zs, -MAX_WBITS));
  inflater.open = true;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t produced = 0;
  uint64_t left = item.RealCompressedSize();
  int64_t at = dataStart;
  for (int result = Z_OK; result != Z_STREAM_END;) {
    if (zs.avail_in == 0) {
      if (left == 0) return false;  // the deflate stream never ends
      auto n = static_cast<uInt>(std::min<uint64_t>(left, kVerifyChunk));
      ReadForCheck(at, verifyIn_.data(), n);
      at += n;
      left -= n;
      zs.next_in = verifyIn_.data();
      zs.avail_in = n;
    }
    zs.next_out = verifyOut_.data();
    zs.avail_out = static_cast<uInt>(kVerifyChunk);
    result = inflate(&zs, Z_NO_FLUSH);
    if (result == Z_DATA_ERROR || result == Z_NEED_DICT) return false;
    // With input and a free output buffer, no progress means a broken stream.
    if (result == Z_BUF_ERROR && zs.avail_in > 0) return false;
    if (result != Z_BUF_ERROR) CheckZlibResult(result);  // memory: the opening fails
    uInt out = static_cast<uInt>(kVerifyChunk) - zs.avail_out;
    produced += out;
    // Stopping here keeps the cost bounded by the size the header states.
    if (produced > expected) return false;
    crc = crc32(crc, verifyOut_.data(), out);
  }
  return produced == expected && static_cast<uint32_t>(crc) == item.Crc32;
}

// Takes the local header at `at` as an entry when it, its name, its extra field and
// its data lie inside the file and the data was completed (see the header). Counts
// the headers left out for their data in DroppedEntries.
int64_t TZWDirManager::ScanOneLocalHeader(int64_t at, int64_t size) {
  uint8_t raw[TLocalFileHeader::kSize];
  Stream->SetPosition(at);
  Stream->ReadBuffer(raw, sizeof raw);
  TLocalFileHeader h = TLocalFileHeader::Decode(raw);
  int64_t nameStart = at + static_cast<int64_t>(TLocalFileHeader::kSize);
  int64_t dataStart = nameStart + h.FileNameLength + h.ExtraFieldLength;
  bool streamed = h.Flags & kFlagDataDescriptor;
  if (h.ExtraFieldLength > 260) return -1;
  auto drop = [this] {
    ++DroppedEntries;
    return int64_t{-1};
  };
  if (dataStart > size) return drop();
  std::string rawName(h.FileNameLength, '\0'), extra(h.ExtraFieldLength, '\0');
  if (h.FileNameLength) Stream->ReadBuffer(rawName.data(), h.FileNameLength);
  if (h.ExtraFieldLength) Stream->ReadBuffer(extra.data(), h.ExtraFieldLength);
  TDirItem item;
  item.Signature = kCentralHeaderSignature;
  item.VersionMadeBy = item.VersionNeeded = h.VersionNeeded;
  item.Flags = h.Flags;
  item.CompressionMethod = h.CompressionMethod;
  item.LastModTime = h.LastModTime;
  item.LastModDate = h.LastModDate;
  item.Crc32 = h.Crc32;
  item.CompressedSize = h.CompressedSize;
  item.UncompressedSize = h.UncompressedSize;
  LiteralAllOnes(item);
  // All-ones sizes of a local header come from its Zip64 extra.
  TZip64Extra wide;
  bool zip64Local = wide.DecodeLocal(extra);
  if (zip64Local && item.UncompressedSize == kAllOnes32)
    item.Zip64UncompressedSize = wide.UncompressedSize;
  if (zip64Local && item.CompressedSize == kAllOnes32)
    item.Zip64CompressedSize = wide.CompressedSize;
  item.NeedsZip64 = item.CompressedSize == kAllOnes32 || item.UncompressedSize == kAllOnes32;
  if (!streamed && item.RealCompressedSize() > static_cast<uint64_t>(size - dataStart))
    return drop();
  // Our writer puts the header down with CRC all ones and compressed size 0 and fills
  // both in once the data is written: such a header followed by bytes that are not
  // the next record is an update that ended inside this entry. Checked apart from the
  // data, as it holds for encrypted entries too.
  if (!streamed && h.Crc32 == kAllOnes32 && h.CompressedSize == 0 && dataStart < size) {
    uint8_t next[4] = {};
    bool record = size - dataStart >= 4;
    if (record) {
      Stream->SetPosition(dataStart);
      Stream->ReadBuffer(next, sizeof next);
      record = IsRecordSignature(next);
    }
    if (!record) return drop();
  }
  item.ExternalAttributes = (h.UncompressedSize != 0 || streamed) ? 0x20 : 0x10;
  item.SetLocalHeaderOffset(static_cast<uint64_t>(at), false);
  // The whole name is kept, as for names read from a central directory.
  item.FileName = DecodeName(rawName, h.Flags);
  if (EncodeName(item) != rawName) item.StoredNameBytes = rawName;
  item.FileNameLength = static_cast<uint16_t>(rawName.size());
  if (streamed && !ApplyDataDescriptor(dataStart, item, zip64Local)) return drop();
  if (!DataVerifies(dataStart, item)) return drop();
  int64_t dataEnd = dataStart + static_cast<int64_t>(item.RealCompressedSize());
  TDirItem& stored = WorkingDirectory.ItemPtr(WorkingDirectory.Add());
  stored = std::move(item);
  return dataEnd;
}

void TZWDirManager::ScanLocalHeaders() {
  int64_t size = Stream->GetSize();
  int64_t at = FindSignature(0, kLocalHeaderSignature, 65535);
  if (at < 0 || at + static_cast<int64_t>(TLocalFileHeader::kSize) > size)
    throw EZWException(ecInvalidArchive);
  checkBudget_ = 4 * static_cast<uint64_t>(size) + (uint64_t{1} << 20);
  while (at >= 0 && at + static_cast<int64_t>(TLocalFileHeader::kSize) <= size) {
    // The search goes on behind an entry's data: a header-like signature inside
    // it (a stored archive, or a crafted overlap) is not an entry of this one.
    int64_t dataEnd = ScanOneLocalHeader(at, size);
    at = FindSignature(std::max(at + 4, dataEnd), kLocalHeaderSignature, 65535);
  }
  std::vector<uint8_t>().swap(verifyIn_);
  std::vector<uint8_t>().swap(verifyOut_);
  // Signatures without one plausible entry: not an archive. Taking it for an empty
  // one would let the next update cut the file down to nothing.
  if (WorkingDirectory.Count() == 0) throw EZWException(ecInvalidArchive);
}

// Encodes the item's central record; its name and extra field lengths become those
// written.
void TZWDirManager::WriteCentralHeader(TDirItem& item, std::vector<uint8_t>& out) {
  std::string name = item.StoredNameBytes.empty() ? EncodeName(item) : item.StoredNameBytes;
  std::vector<uint8_t> extra;
  if (item.HasZip64Markers()) {
    TZip64Extra values = TZip64Extra::ForCentral(item);
    values.UncompressedSize = item.Zip64UncompressedSize;
    values.CompressedSize = item.Zip64CompressedSize;
    values.LocalHeaderOffset = item.Zip64LocalHeaderOffset;
    values.DiskNumberStart = item.Zip64DiskNumberStart;
    values.Encode(extra);
  }
  ByteWriter w(extra);
  for (const TExtraField& block : item.ExtraFields) {
    if (block.HeaderID == kZip64ExtraId) continue;  // always regenerated
    // A kept block that no longer fits the 16-bit field length (the Zip64 block came
    // first) is dropped whole rather than written cut.
    if (extra.size() + 4 + block.Data.size() > 0xFFFF) continue;
    w.U16(block.HeaderID);
    w.U16(static_cast<uint16_t>(block.Data.size()));
    w.Bytes(block.Data.data(), block.Data.size());
  }
  item.FileNameLength = static_cast<uint16_t>(std::min<size_t>(name.size(), 0xFFFF));
  item.ExtraFieldLength = static_cast<uint16_t>(std::min<size_t>(extra.size(), 0xFFFF));
  uint8_t header[TCentralFileHeader::kSize];
  item.Encode(header);
  out.insert(out.end(), header, header + sizeof header);
  out.insert(out.end(), name.begin(), name.begin() + item.FileNameLength);
  out.insert(out.end(), extra.begin(), extra.begin() + item.ExtraFieldLength);
  std::string comment = item.FileComment.substr(0, item.FileCommentLength);
  comment.resize(item.FileCommentLength, '\0');
  out.insert(out.end(), comment.begin(), comment.end());
}

void TZWDirManager::WriteDirectory(TStream* stream) {
  auto& s = ArchiverAccess::S(Archiver);
  if (stream) Stream = stream;
  bool multi = s.spanningMode != smNone;
  Stream->Seek(0, SeekOrigin::kEnd);
  auto volumeNumber = [&]() -> uint32_t {
    return s.currentVolume.VolumeNumber < 0 ? 0
                                            : static_cast<uint32_t>(s.currentVolume.VolumeNumber);
  };
  int64_t dirStart = multi ? s.archiveStream->GetPosition() : Stream->GetPosition();
  uint32_t dirVolume = volumeNumber();
  std::vector<uint8_t> record;
  std::vector<uint8_t> pending;  // one file: headers written in pieces of 64 KiB or more
  TMemoryStream collecting;
  uint64_t dirSize = 0;
  for (int32_t i = 0; i < WorkingDirectory.Count(); ++i) {
    TDirItem& item = WorkingDirectory.ItemPtr(i);
    record.clear();
    WriteCentralHeader(item, record);
    dirSize += record.size();
    if (!multi) {
      pending.insert(pending.end(), record.begin(), record.end());
      if (pending.size() >= 65536) {
        Stream->WriteBuffer(pending.data(), static_cast<int64_t>(pending.size()));
        pending.clear();
      }
    } else {
      if (i == 0) dirStart = -1;  // taken from the volume the first header lands on
      // The whole header, comment included, lands on one volume: a reader then moves
      // on to the next volume only where one ends.
      int32_t mustFollow = static_cast<int32_t>(record.size() - TDirItem::kHeaderSize);
      WriteBufferToVolumes(Archiver, record.data(), static_cast<int64_t>(TDirItem::kHeaderSize),
                           s.currentVolume, mustFollow, &collecting);
      if (dirStart < 0) {
        dirVolume = volumeNumber();
        dirStart = s.archiveStream->GetPosition() + collecting.GetSize() -
                   static_cast<int64_t>(TDirItem::kHeaderSize);
      }
      WriteBufferToVolumes(Archiver, record.data() + TDirItem::kHeaderSize,
                           static_cast<int64_t>(record.size() - TDirItem::kHeaderSize),
                           s.currentVolume, -1, &collecting);
    }
  }
  if (!pending.empty()) Stream->WriteBuffer(pending.data(), static_cast<int64_t>(pending.size()));
  if (multi) {
    if (collecting.GetSize() > 0) {
      collecting.SetPosition(0);
      s.archiveStream->CopyFrom(collecting, -1);
    }
    Stream = s.archiveStream.get();
    if (dirStart < 0) dirStart = Stream->GetPosition();
  }
  DirectoryStart = dirStart;
  FinishDirectory(dirStart, dirVolume, dirSize);
}

void TZWDirManager::FinishDirectory(int64_t dirStart, uint32_t dirVolume, uint64_t dirSize) {
  auto& s = ArchiverAccess::S(Archiver);
  bool multi = s.spanningMode != smNone;
  uint32_t volume =
      s.currentVolume.VolumeNumber < 0 ? 0 : static_cast<uint32_t>(s.currentVolume.VolumeNumber);
  if (!multi) volume = dirVolume = 0;
  uint64_t count = static_cast<uint64_t>(WorkingDirectory.Count());
  std::string comment = ArchiveComment.substr(0, 0xFFFF);
  if (multi) {
    // The end records go on the volume they name as the last one.
    EnsureRoomOnVolume(Archiver, s.currentVolume,
                       static_cast<int64_t>(TZip64EndRecord::kSize + TZip64Locator::kSize +
                                            TEndOfCentralDir::kSize + comment.size()));
    volume =
        s.currentVolume.VolumeNumber < 0 ? 0 : static_cast<uint32_t>(s.currentVolume.VolumeNumber);
    if (count == 0) {  // an empty directory begins where the end records do
      dirVolume = volume;
      dirStart = s.archiveStream->GetPosition();
    }
  }
  uint64_t offset = static_cast<uint64_t>(dirStart);
  auto clip16 = [](uint64_t v) { return v >= kAllOnes16 ? kAllOnes16 : static_cast<uint16_t>(v); };
  auto clip32 = [](uint64_t v) { return v >= kAllOnes32 ? kAllOnes32 : static_cast<uint32_t>(v); };
  EndRecord = TEndOfCentralDir();
  EndRecord.NumberOfThisDisk = clip16(volume);
  EndRecord.DiskWithCentralDir = clip16(dirVolume);
  EndRecord.EntriesOnThisDisk = EndRecord.TotalEntries = clip16(count);
  EndRecord.CentralDirSize = clip32(dirSize);
  EndRecord.CentralDirOffset = clip32(offset);
  EndRecord.CommentLength = static_cast<uint16_t>(comment.size());
  int64_t position =
      s.spanningMode != smNone ? s.archiveStream->GetPosition() : Stream->GetPosition();
  bool zip64 = static_cast<uint64_t>(position) >= kAllOnes32 || EndRecord.HasZip64Markers();
  std::vector<uint8_t> bytes;
  if (zip64) {
    Zip64EndRecord = TZip64EndRecord();
    Zip64EndRecord.NumberOfThisDisk = volume;
    Zip64EndRecord.DiskWithCentralDir = dirVolume;
    Zip64EndRecord.EntriesOnThisDisk = Zip64EndRecord.TotalEntries = count;
    Zip64EndRecord.CentralDirSize = dirSize;
    Zip64EndRecord.CentralDirOffset = offset;
    Zip64Locator = TZip64Locator();
    Zip64Locator.DiskWithZip64End = volume;
    Zip64Locator.Zip64EndOffset = static_cast<uint64_t>(position);
    Zip64Locator.TotalDisks = volume + 1;
    bytes.resize(TZip64EndRecord::kSize + TZip64Locator::kSize);
    Zip64EndRecord.Encode(bytes.data());
    Zip64Locator.Encode(bytes.data() + TZip64EndRecord::kSize);
    HasZip64 = true;
  }
  size_t at = bytes.size();
  bytes.resize(at + TEndOfCentralDir::kSize);
  EndRecord.Encode(bytes.data() + at);
  bytes.insert(bytes.end(), comment.begin(), comment.end());
  EmitEndRecords(bytes);
}

void TZWDirManager::EmitEndRecords(const std::vector<uint8_t>& bytes) {
  auto& s = ArchiverAccess::S(Archiver);
  if (s.spanningMode == smNone) {
    Stream->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return;
  }
  // The end records stay together on the last volume, which then takes the
  // archive's own name.
  WriteBufferToVolumes(Archiver, bytes.data(), static_cast<int64_t>(bytes.size()), s.currentVolume,
                       0, nullptr);
  RenameLastVolume(Archiver);
  Stream = s.archiveStream.get();
}

}  // namespace zw
