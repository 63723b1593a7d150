#include "DirectoryWriter.h"

#include <algorithm>
#include <string>

#include "ArchiverState.h"
#include "Streams.h"
#include "Volumes.h"

namespace zw {

TZWDirWriter::TZWDirWriter(TZWDirectory& dir, bool oemNames, TZWBaseArchiver* volumes)
    : dir_(dir), oemNames_(oemNames), volumes_(volumes) {}

uint32_t TZWDirWriter::CurrentVolume() const {
  const auto& s = ArchiverAccess::S(*volumes_);
  return s.currentVolume.VolumeNumber < 0 ? 0 : static_cast<uint32_t>(s.currentVolume.VolumeNumber);
}

void TZWDirWriter::EncodeCentralRecord(TDirItem& item, std::vector<uint8_t>& out) const {
  std::string name = item.StoredNameBytes.empty()
                         ? EncodeEntryName(item.FileName, item.Flags, oemNames_)
                         : item.StoredNameBytes;
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

TStream* TZWDirWriter::Write(TStream* stream) {
  stream_ = stream;
  bool multi = volumes_ != nullptr;
  stream_->Seek(0, SeekOrigin::kEnd);
  int64_t dirStart =
      multi ? ArchiverAccess::S(*volumes_).archiveStream->GetPosition() : stream_->GetPosition();
  uint32_t dirVolume = multi ? CurrentVolume() : 0;
  std::vector<uint8_t> record;
  std::vector<uint8_t> pending;  // one file: headers written in pieces of 64 KiB or more
  TMemoryStream collecting;
  uint64_t dirSize = 0;
  constexpr size_t kHeader = TCentralFileHeader::kSize;
  for (int32_t i = 0; i < dir_.WorkingDirectory.Count(); ++i) {
    TDirItem& item = dir_.WorkingDirectory.ItemPtr(i);
    record.clear();
    EncodeCentralRecord(item, record);
    dirSize += record.size();
    if (!multi) {
      pending.insert(pending.end(), record.begin(), record.end());
      if (pending.size() >= 65536) {
        stream_->WriteBuffer(pending.data(), static_cast<int64_t>(pending.size()));
        pending.clear();
      }
      continue;
    }
    auto& s = ArchiverAccess::S(*volumes_);
    if (i == 0) dirStart = -1;  // taken from the volume the first header lands on
    // The whole header, comment included, lands on one volume: a reader then moves
    // on to the next volume only where one ends.
    int32_t mustFollow = static_cast<int32_t>(record.size() - kHeader);
    WriteBufferToVolumes(*volumes_, record.data(), static_cast<int64_t>(kHeader), s.currentVolume,
                         mustFollow, &collecting);
    if (dirStart < 0) {
      dirVolume = CurrentVolume();
      dirStart =
          s.archiveStream->GetPosition() + collecting.GetSize() - static_cast<int64_t>(kHeader);
    }
    WriteBufferToVolumes(*volumes_, record.data() + kHeader,
                         static_cast<int64_t>(record.size() - kHeader), s.currentVolume, -1,
                         &collecting);
  }
  if (!pending.empty()) stream_->WriteBuffer(pending.data(), static_cast<int64_t>(pending.size()));
  if (multi) {
    auto& s = ArchiverAccess::S(*volumes_);
    if (collecting.GetSize() > 0) {
      collecting.SetPosition(0);
      s.archiveStream->CopyFrom(collecting, -1);
    }
    stream_ = s.archiveStream.get();
    if (dirStart < 0) dirStart = stream_->GetPosition();
  }
  dir_.DirectoryStart = dirStart;
  Finish(dirStart, dirVolume, dirSize);
  return stream_;
}

void TZWDirWriter::Finish(int64_t dirStart, uint32_t dirVolume, uint64_t dirSize) {
  uint32_t volume = 0;
  uint64_t count = static_cast<uint64_t>(dir_.WorkingDirectory.Count());
  std::string comment = dir_.ArchiveComment.substr(0, 0xFFFF);
  if (volumes_) {
    auto& s = ArchiverAccess::S(*volumes_);
    // The end records go on the volume they name as the last one.
    EnsureRoomOnVolume(*volumes_, s.currentVolume,
                       static_cast<int64_t>(TZip64EndRecord::kSize + TZip64Locator::kSize +
                                            TEndOfCentralDir::kSize + comment.size()));
    volume = CurrentVolume();
    stream_ = s.archiveStream.get();
    if (count == 0) {  // an empty directory begins where the end records do
      dirVolume = volume;
      dirStart = stream_->GetPosition();
    }
  }
  uint64_t offset = static_cast<uint64_t>(dirStart);
  auto clip16 = [](uint64_t v) { return v >= kAllOnes16 ? kAllOnes16 : static_cast<uint16_t>(v); };
  auto clip32 = [](uint64_t v) { return v >= kAllOnes32 ? kAllOnes32 : static_cast<uint32_t>(v); };
  TEndOfCentralDir& end = dir_.EndRecord;
  end = TEndOfCentralDir();
  end.NumberOfThisDisk = clip16(volume);
  end.DiskWithCentralDir = clip16(dirVolume);
  end.EntriesOnThisDisk = end.TotalEntries = clip16(count);
  end.CentralDirSize = clip32(dirSize);
  end.CentralDirOffset = clip32(offset);
  end.CommentLength = static_cast<uint16_t>(comment.size());
  int64_t position = stream_->GetPosition();
  std::vector<uint8_t> bytes;
  if (static_cast<uint64_t>(position) >= kAllOnes32 || end.HasZip64Markers()) {
    TZip64EndRecord& record = dir_.Zip64EndRecord;
    record = TZip64EndRecord();
    record.NumberOfThisDisk = volume;
    record.DiskWithCentralDir = dirVolume;
    record.EntriesOnThisDisk = record.TotalEntries = count;
    record.CentralDirSize = dirSize;
    record.CentralDirOffset = offset;
    TZip64Locator& locator = dir_.Zip64Locator;
    locator = TZip64Locator();
    locator.DiskWithZip64End = volume;
    locator.Zip64EndOffset = static_cast<uint64_t>(position);
    locator.TotalDisks = volume + 1;
    bytes.resize(TZip64EndRecord::kSize + TZip64Locator::kSize);
    record.Encode(bytes.data());
    locator.Encode(bytes.data() + TZip64EndRecord::kSize);
    dir_.HasZip64 = true;
  }
  size_t at = bytes.size();
  bytes.resize(at + TEndOfCentralDir::kSize);
  end.Encode(bytes.data() + at);
  bytes.insert(bytes.end(), comment.begin(), comment.end());
  EmitEndRecords(bytes);
}

void TZWDirWriter::EmitEndRecords(const std::vector<uint8_t>& bytes) {
  if (!volumes_) {
    stream_->WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    return;
  }
  auto& s = ArchiverAccess::S(*volumes_);
  WriteBufferToVolumes(*volumes_, bytes.data(), static_cast<int64_t>(bytes.size()), s.currentVolume,
                       0, nullptr);
  RenameLastVolume(*volumes_);
  stream_ = s.archiveStream.get();
}

}  // namespace zw
