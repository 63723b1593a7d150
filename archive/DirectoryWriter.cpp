#include "DirectoryWriter.h"

#include <algorithm>
#include <string>
#include <utility>

#include "ArchiveSink.h"
#include "Streams.h"

namespace zw {

TZWDirWriter::TZWDirWriter(TZWDirectory& dir, bool oemNames) : dir_(dir), oemNames_(oemNames) {}

void TZWDirWriter::EncodeCentralRecord(const TDirItem& item, std::vector<uint8_t>& out,
                                       uint16_t& nameLength, uint16_t& extraLength) const {
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
  TCentralFileHeader fields = item;
  fields.FileNameLength = nameLength = static_cast<uint16_t>(std::min<size_t>(name.size(), 0xFFFF));
  fields.ExtraFieldLength = extraLength =
      static_cast<uint16_t>(std::min<size_t>(extra.size(), 0xFFFF));
  uint8_t header[TCentralFileHeader::kSize];
  fields.Encode(header);
  out.insert(out.end(), header, header + sizeof header);
  out.insert(out.end(), name.begin(), name.begin() + nameLength);
  out.insert(out.end(), extra.begin(), extra.begin() + extraLength);
  std::string comment = item.FileComment.substr(0, item.FileCommentLength);
  comment.resize(item.FileCommentLength, '\0');
  out.insert(out.end(), comment.begin(), comment.end());
}

void TZWDirWriter::Write(TStream* stream) {
  stream->Seek(0, SeekOrigin::kEnd);
  TZWStreamSink sink(*stream);
  Write(sink);
}

void TZWDirWriter::Write(TZWArchiveSink& sink) {
  TZWArchivePlace start = sink.Position();
  std::vector<uint8_t> record;
  uint64_t dirSize = 0;
  for (int32_t i = 0; i < dir_.WorkingDirectory.Count(); ++i) {
    // Changed only where the lengths differ: unchanged items may be shared.
    const TDirItem& item = std::as_const(dir_.WorkingDirectory).ItemPtr(i);
    record.clear();
    uint16_t nameLength = 0, extraLength = 0;
    EncodeCentralRecord(item, record, nameLength, extraLength);
    if (item.FileNameLength != nameLength || item.ExtraFieldLength != extraLength) {
      TDirItem& changed = dir_.WorkingDirectory.ItemPtr(i);
      changed.FileNameLength = nameLength;
      changed.ExtraFieldLength = extraLength;
    }
    dirSize += record.size();
    // The whole header, comment included, lands on one volume: a reader then moves
    // on to the next volume only where one ends.
    auto size = static_cast<int64_t>(record.size());
    sink.Write(record.data(), size, size);
    if (i == 0) {  // the directory begins on the volume its first header lands on
      start = sink.Position();
      start.offset -= size;
    }
  }
  if (dir_.WorkingDirectory.Count() == 0) start = sink.Position();
  dir_.DirectoryStart = start.offset;
  Finish(sink, start, dirSize);
}

void TZWDirWriter::Finish(TZWArchiveSink& sink, TZWArchivePlace start, uint64_t dirSize) {
  uint64_t count = static_cast<uint64_t>(dir_.WorkingDirectory.Count());
  std::string comment = dir_.ArchiveComment.substr(0, 0xFFFF);
  // The end records go on the volume they name as the last one.
  sink.EnsureRoom(static_cast<int64_t>(TZip64EndRecord::kSize + TZip64Locator::kSize +
                                       TEndOfCentralDir::kSize + comment.size()));
  TZWArchivePlace here = sink.Position();
  if (count == 0) start = here;  // an empty directory begins where the end records do
  auto volume = static_cast<uint32_t>(here.volume);
  auto dirVolume = static_cast<uint32_t>(start.volume);
  int64_t dirStart = start.offset;
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
  int64_t position = here.offset;
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
  sink.Write(bytes.data(), static_cast<int64_t>(bytes.size()), static_cast<int64_t>(bytes.size()));
  sink.Finish();
}

}  // namespace zw
