#include "DirectoryReader.h"

#include <algorithm>
#include <cstring>
#include <utility>
#include <vector>

#include "RecoveryScan.h"
#include "Streams.h"
#include "ZWExcept.h"

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

TZWDirReader::TZWDirReader(TStream& stream, TZWDirReadOptions options)
    : stream_(&stream), options_(std::move(options)) {}

bool TZWDirReader::FindEndRecord(TZWDirectory& dir, int64_t& position) {
  dir.ArchiveComment.clear();
  position = -1;
  int64_t size = stream_->GetSize();
  int64_t window = std::min<int64_t>(size, 65600);
  if (window < static_cast<int64_t>(TEndOfCentralDir::kSize)) return false;
  std::vector<uint8_t> buffer(static_cast<size_t>(window));
  int64_t base = size - window;
  stream_->SetPosition(base);
  stream_->ReadBuffer(buffer.data(), window);
  uint8_t sig[4];
  PutU32(sig, kEndRecordSignature);
  for (int64_t i = window - 4; i >= 0; --i) {
    const uint8_t* p = buffer.data() + i;
    if (p[3] != sig[3] || p[0] != sig[0] || p[1] != sig[1] || p[2] != sig[2]) continue;
    int64_t after = window - i - static_cast<int64_t>(TEndOfCentralDir::kSize);
    if (after < 0) continue;
    TEndOfCentralDir record = TEndOfCentralDir::Decode(p);
    if (record.CommentLength != after) continue;
    dir.EndRecord = record;
    dir.ArchiveComment = UpToZero(std::string(
        reinterpret_cast<const char*>(p + TEndOfCentralDir::kSize), static_cast<size_t>(after)));
    position = base + i;
    return true;
  }
  return false;
}

void TZWDirReader::Read(TZWDirectory& dir) {
  dir.WorkingDirectory.SetCount(0);
  dir.EndRecord = TEndOfCentralDir();
  dir.StartOffset = 0;
  dir.HasZip64 = false;
  dir.DirectoryStart = -1;
  dir.DroppedEntries = 0;
  int64_t position = -1;
  if (!FindEndRecord(dir, position)) {
    if (options_.MultiVolume) throw EZWException(ecNoEndRecordOnVolumes);
    TZWRecoveryScan(*stream_, options_.OemNames).Run(dir);
    return;
  }
  ReadZip64Records(dir, position);
  TZWVolumeNumberInfo volume;
  int64_t dirVolume, lastVolume;
  if (dir.HasZip64) {
    dirVolume = dir.Zip64EndRecord.DiskWithCentralDir;
    lastVolume = static_cast<int64_t>(dir.Zip64Locator.TotalDisks) - 1;
  } else {
    if (dir.EndRecord.NumberOfThisDisk == kAllOnes16) dir.EndRecord.NumberOfThisDisk = 0;
    if (dir.EndRecord.DiskWithCentralDir == kAllOnes16) dir.EndRecord.DiskWithCentralDir = 0;
    dirVolume = dir.EndRecord.DiskWithCentralDir;
    lastVolume = dir.EndRecord.NumberOfThisDisk;
  }
  volume.LastVolumeNumber = static_cast<int32_t>(lastVolume);
  volume.SetVolumeNumber(static_cast<int32_t>(dirVolume));
  int64_t start = 0, end = 0;
  if (options_.MultiVolume) {
    SwitchVolume(volume);
    start = static_cast<int64_t>(dir.HasZip64 ? dir.Zip64EndRecord.CentralDirOffset
                                              : dir.EndRecord.CentralDirOffset);
    end = stream_->GetSize();
  } else {
    LocateDirectory(dir, position, start, end);
    dir.DirectoryStart = start;
  }
  ReadCentralHeaders(dir, start, end, volume);
  if (lastVolume == 0 || !options_.MultiVolume) FindStartOffset(dir, position);
}

void TZWDirReader::SwitchVolume(TZWVolumeNumberInfo& volume) {
  if (options_.OpenVolume) stream_ = options_.OpenVolume(volume);
}

void TZWDirReader::ReadZip64Records(TZWDirectory& dir, int64_t& position) {
  if (position > static_cast<int64_t>(TZip64Locator::kSize)) {
    uint8_t raw[TZip64Locator::kSize];
    stream_->SetPosition(position - static_cast<int64_t>(TZip64Locator::kSize));
    stream_->ReadBuffer(raw, sizeof raw);
    TZip64Locator locator = TZip64Locator::Decode(raw);
    if (locator.Signature == kZip64LocatorSignature) {
      dir.Zip64Locator = locator;
      dir.HasZip64 = true;
      position -= static_cast<int64_t>(TZip64Locator::kSize);
    }
  }
  if (!dir.HasZip64) return;
  constexpr int64_t kRecord = TZip64EndRecord::kSize;
  if (position > kRecord && FindZip64EndRecord(dir, position)) return;
  // Without its record the locator can only be bytes that look like one (the end of
  // the last entry's name or comment, say). An end record that needs no Zip64 value
  // is read as it is; one that does cannot be read.
  if (dir.EndRecord.HasZip64Markers()) throw EZWException(ecZip64EndRecordMissing);
  dir.HasZip64 = false;
  dir.Zip64Locator = TZip64Locator();
  position += static_cast<int64_t>(TZip64Locator::kSize);
}

bool TZWDirReader::FindZip64EndRecord(TZWDirectory& dir, int64_t& position) {
  constexpr int64_t kRecord = TZip64EndRecord::kSize;
  // Where the locator points, a record is taken when it ends exactly at the locator
  // (it may carry extensible data after its 56 bytes). The locator's offset ignores
  // any leading stub in some writers' output; the record then lies directly before
  // the locator, whatever size it states for itself.
  auto recordAt = [&](uint64_t at, bool mustReachLocator) {
    if (at > static_cast<uint64_t>(position - kRecord)) return false;
    uint8_t raw[kRecord];
    stream_->SetPosition(static_cast<int64_t>(at));
    stream_->ReadBuffer(raw, kRecord);
    TZip64EndRecord record = TZip64EndRecord::Decode(raw);
    uint64_t room = static_cast<uint64_t>(position) - at - 12;
    if (record.Signature != kZip64EndRecordSignature) return false;
    if (mustReachLocator && record.SizeOfRecord != room) return false;
    dir.Zip64EndRecord = record;
    position = static_cast<int64_t>(at);
    return true;
  };
  return recordAt(dir.Zip64Locator.Zip64EndOffset, true) ||
         recordAt(static_cast<uint64_t>(position - kRecord), false);
}

bool TZWDirReader::ChainReaches(int64_t from, int64_t target) {
  int64_t at = from;
  while (at < target) {
    if (target - at < static_cast<int64_t>(TCentralFileHeader::kSize)) return false;
    uint8_t raw[TCentralFileHeader::kSize];
    stream_->SetPosition(at);
    stream_->ReadBuffer(raw, sizeof raw);
    TCentralFileHeader h = TCentralFileHeader::Decode(raw);
    if (h.Signature != kCentralHeaderSignature) return false;
    at += static_cast<int64_t>(h.RecordSize());
  }
  return at == target;
}

void TZWDirReader::LocateDirectory(const TZWDirectory& dir, int64_t endPosition, int64_t& start,
                                   int64_t& end) {
  uint64_t size = dir.HasZip64 ? dir.Zip64EndRecord.CentralDirSize : dir.EndRecord.CentralDirSize;
  uint64_t offset =
      dir.HasZip64 ? dir.Zip64EndRecord.CentralDirOffset : dir.EndRecord.CentralDirOffset;
  end = endPosition;
  auto headerAt = [&](int64_t at) {
    if (at < 0 || at + 4 > endPosition) return false;
    uint8_t sig[4];
    stream_->SetPosition(at);
    stream_->ReadBuffer(sig, 4);
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

void TZWDirReader::ReadCentralHeader(BoundedReader& in, TDirItem& item) {
  uint8_t raw[TDirItem::kHeaderSize];
  in.Read(raw, sizeof raw);
  item.DecodeHeader(raw);
  if (item.Signature != kCentralHeaderSignature) throw EZWException(ecInvalidArchive);
  std::string rawName = in.ReadText(item.FileNameLength);
  item.FileName = DecodeEntryName(rawName, item.Flags, options_.OemNames);
  item.FileName.shrink_to_fit();  // decoding reserves room; a short name fits in place
  if (EncodeEntryName(item.FileName, item.Flags, options_.OemNames) != rawName)
    item.StoredNameBytes = rawName;
  if (item.ExtraFieldLength) ParseExtraFields(item, in.ReadText(item.ExtraFieldLength));
  if (!item.NeedsZip64) item.TakeAllOnesLiterally();
  item.FileComment = UpToZero(in.ReadText(item.FileCommentLength));
}

void TZWDirReader::ReadCentralHeaders(TZWDirectory& dir, int64_t start, int64_t end,
                                      TZWVolumeNumberInfo& volume) {
  if (!options_.MultiVolume) {
    BoundedReader in(*stream_, start, end);
    while (in.Remaining() > 0)
      ReadCentralHeader(in, dir.WorkingDirectory.ItemPtr(dir.WorkingDirectory.Add()));
    return;
  }
  // Across volumes: headers never straddle two volumes; the count says how many.
  uint64_t total =
      dir.HasZip64 ? (dir.Zip64EndRecord.TotalEntries & 0xFFFFFFFFu) : dir.EndRecord.TotalEntries;
  int64_t position = start;
  for (uint64_t i = 0; i < total; ++i) {
    int64_t volumeEnd = stream_->GetSize();
    if (volumeEnd - position < static_cast<int64_t>(TDirItem::kHeaderSize)) {
      // The directory cannot go on past the last volume, nor start over on a stream
      // that cannot be switched.
      if (!options_.OpenVolume || volume.VolumeNumber >= volume.LastVolumeNumber)
        throw EReadError();
      volume.SetVolumeNumber(volume.VolumeNumber + 1);
      SwitchVolume(volume);
      position = 0;
      volumeEnd = stream_->GetSize();
    }
    BoundedReader in(*stream_, position, volumeEnd);
    ReadCentralHeader(in, dir.WorkingDirectory.ItemPtr(dir.WorkingDirectory.Add()));
    position = in.Position();
  }
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
void TZWDirReader::FindStartOffset(TZWDirectory& dir, int64_t position) {
  if (dir.WorkingDirectory.Count() == 0) {
    dir.StartOffset = static_cast<uint64_t>(position);
    return;
  }
  const TDirItem& first = dir.WorkingDirectory.ItemPtr(0);
  // Local headers lie in front of the central directory, never inside it.
  int64_t size = dir.DirectoryStart >= 0 ? dir.DirectoryStart : stream_->GetSize();
  uint64_t from = first.RealLocalHeaderOffset();
  if (from >= static_cast<uint64_t>(size)) return;
  TZWSignatureSearch search(*stream_);
  for (int64_t at = static_cast<int64_t>(from);;) {
    int64_t found = search.Find(at, kLocalHeaderSignature, 10000);
    if (found < 0 || found + static_cast<int64_t>(TLocalFileHeader::kSize) > size) return;
    uint8_t raw[TLocalFileHeader::kSize];
    stream_->SetPosition(found);
    stream_->ReadBuffer(raw, sizeof raw);
    TLocalFileHeader h = TLocalFileHeader::Decode(raw);
    int64_t nameEnd = found + static_cast<int64_t>(TLocalFileHeader::kSize) + h.FileNameLength;
    if (LocalHeaderMatches(h, first) && nameEnd <= size) {
      std::string rawName(h.FileNameLength, '\0');
      if (h.FileNameLength) stream_->ReadBuffer(rawName.data(), h.FileNameLength);
      if (DecodeEntryName(rawName, h.Flags, options_.OemNames) == first.FileName) {
        ApplyStartOffset(dir, static_cast<uint64_t>(found) - from);
        return;
      }
    }
    at = found + 1;
  }
}

void TZWDirReader::ApplyStartOffset(TZWDirectory& dir, uint64_t shift) {
  uint64_t lowest = UINT64_MAX;
  for (int32_t i = 0; i < dir.WorkingDirectory.Count(); ++i) {
    TDirItem& item = dir.WorkingDirectory.ItemPtr(i);
    // Directory entries have local headers too, and are copied like any other entry.
    if (shift != 0)
      item.SetLocalHeaderOffset(item.RealLocalHeaderOffset() + shift,
                                item.LocalHeaderOffset == kAllOnes32);
    lowest = std::min(lowest, item.RealLocalHeaderOffset());
  }
  dir.StartOffset = lowest;
}

}  // namespace zw
