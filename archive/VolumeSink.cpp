// The archive sink of a multi-volume archive, over the volume unit.
//
// A split set (fixed disk, volume files that can be opened again) takes each entry
// straight on its volumes: the local header is begun only where it lands whole, the
// data runs on across volumes, and the header is patched in place, on an earlier
// volume when the data moved on; an entry that fails is cut back to its mark, the
// volumes it began deleted. A spanned set (disks asked for one after the other, never
// revisited) builds each entry in a temporary file first and copies it to the volumes
// once its header holds its final values; on a floppy drive the bytes of a volume are
// collected in memory and written when the volume is complete.
#include <algorithm>

#include "ArchiveSink.h"
#include "ArchiverState.h"
#include "CodePage.h"
#include "FileSystem.h"
#include "Format.h"
#include "Journal.h"
#include "Paths.h"
#include "Volumes.h"
#include "ZWExcept.h"

namespace zw {

namespace {

// "FC" files of processes that died during an update. A live process holds its file
// open with exclusive sharing, so a file that can be opened that way is an orphan.
void RemoveOrphanedTempFiles(FileSystem& fs, const std::string& dir) {
  std::string folder = IncludeTrailingPathDelimiter(dir);
  std::vector<TSearchRec> found;
  if (!fs.FindFiles(folder + "FC*.tmp", 0, found)) return;
  for (const TSearchRec& f : found) {
    std::string path = folder + f.Name;
    if (!fs.Open(path, FileMode::fmOpenReadWrite | FileMode::fmShareExclusive)) continue;
    fs.DeleteFile(path);
  }
}

// Entry data written across volumes; nothing but writes and the position.
class VolumeDataStream : public TStream {
 public:
  VolumeDataStream(const TZWVolumeContext& volumes, TMemoryStream* collecting)
      : v_(volumes), collecting_(collecting) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* data, int64_t count) override {
    return WriteToVolumes(v_, data, count, v_.session.currentVolume, -1, collecting_);
  }
  int64_t Seek(int64_t, SeekOrigin) override {
    return v_.session.archiveStream->GetPosition() + (collecting_ ? collecting_->GetSize() : 0);
  }
  void SetSize(int64_t) override { throw EWriteError(); }

 private:
  const TZWVolumeContext& v_;
  TMemoryStream* collecting_;
};

class TZWVolumeSink : public TZWArchiveSink {
 public:
  explicit TZWVolumeSink(const TZWVolumeContext& volumes);
  ~TZWVolumeSink() override { DropEntry(); }

  TZWArchivePlace Position() const override;
  void Write(const void* data, int64_t count, int64_t whole) override;
  void CopyFrom(TStream& source, int64_t count) override;
  void BeginEntry(const std::vector<uint8_t>& header, int64_t sourceSize) override;
  TStream& EntryData() override { return temp_ ? static_cast<TStream&>(*temp_) : data_; }
  void PatchHeader(int64_t at, const void* data, int64_t count) override;
  bool EndEntry(TZWArchivePlace& header) override;
  void DropEntry() override;
  TZWArchiveMark Mark() const override;
  bool Undo(const TZWArchiveMark& mark) override;
  void EnsureRoom(int64_t bytes) override;
  void Finish() override;

  uint64_t Cut(const TZWRunCut& cut) override;
  void Commit() override;
  void RollBack() override;

 private:
  std::string MakeTempFileName();
  void WriteCollected();
  void PatchVolume(int64_t at, const void* data, int64_t count);
  void TakeBack(const TZWArchiveMark& mark);

  TZWVolumeContext v_;
  const TZWSettings& settings_;
  TZWSession& s_;
  // Entries go straight to the volumes (a split set); otherwise through temp_.
  bool direct_;
  bool tempFolderCleaned_ = false;
  std::unique_ptr<TMemoryStream> collecting_;
  VolumeDataStream data_;
  std::unique_ptr<TFileStream> temp_;
  std::string tempName_;
  int64_t headerLength_ = 0;
  TZWArchivePlace header_;  // direct entries: where the header landed, in headerFile_
  std::string headerFile_;
  // The run's volumes: where it starts, its journal, and how to put them back.
  TZWVolumeUpdate volumes_;
};

// A floppy disk takes a volume's bytes in one go, once the volume is complete.
std::unique_ptr<TMemoryStream> CollectingBufferFor(const TZWSettings& settings) {
  if (settings.spanningMode != smSpanning) return nullptr;
  std::string drive = AsciiUpperCase(ExtractFileDrive(settings.fileName));
  if (drive != "A:" && drive != "B:") return nullptr;
  return std::make_unique<TMemoryStream>();
}

TZWVolumeSink::TZWVolumeSink(const TZWVolumeContext& volumes)
    : v_(volumes),
      settings_(volumes.settings),
      s_(volumes.session),
      direct_(settings_.spanningMode == smSplitting),
      collecting_(CollectingBufferFor(settings_)),
      data_(v_, collecting_.get()),
      volumes_(v_) {}

TZWArchivePlace TZWVolumeSink::Position() const {
  int64_t pending = collecting_ ? collecting_->GetSize() : 0;
  return {std::max(s_.currentVolume.VolumeNumber, 0), s_.archiveStream->GetPosition() + pending};
}

void TZWVolumeSink::Write(const void* data, int64_t count, int64_t whole) {
  const auto* bytes = static_cast<const uint8_t*>(data);
  if (whole > 0) WriteBufferToVolumes(v_, bytes, whole, s_.currentVolume, 0, collecting_.get());
  if (count > whole)
    WriteBufferToVolumes(v_, bytes + whole, count - whole, s_.currentVolume, -1, collecting_.get());
}

void TZWVolumeSink::CopyFrom(TStream& source, int64_t count) {
  CopyStreamToVolumes(v_, source, collecting_.get(), -1, count, s_.currentVolume);
}

std::string TZWVolumeSink::MakeTempFileName() {
  std::string dir = settings_.tempDir.empty() ? v_.files.GetTempDir() : settings_.tempDir;
  if (!tempFolderCleaned_) RemoveOrphanedTempFiles(v_.files, dir);
  tempFolderCleaned_ = true;
  std::string name;
  if (!v_.files.CreateTempFile(dir, "FC", name))
    throw EFCreateError(Format("Cannot create file \"%s\". %s",
                               {v_.files.DisplayName(IncludeTrailingPathDelimiter(dir) + "FC*.tmp"),
                                v_.files.LastError().message}));
  return name;
}

// A local header with data behind it is begun only where its first data byte fits
// too: Info-ZIP's `zip -s 0` mis-joins an entry whose header ends a volume.
void TZWVolumeSink::BeginEntry(const std::vector<uint8_t>& header, int64_t sourceSize) {
  headerLength_ = static_cast<int64_t>(header.size());
  if (direct_) {
    WriteBufferToVolumes(v_, header.data(), headerLength_, s_.currentVolume, sourceSize > 0 ? 1 : 0,
                         collecting_.get());
    header_ = Position();
    header_.offset -= headerLength_;
    headerFile_ = s_.currentVolumeFileName;
    return;
  }
  tempName_ = MakeTempFileName();
  temp_ = std::make_unique<TFileStream>(v_.files, tempName_, FileMode::fmCreate);
  temp_->WriteBuffer(header.data(), headerLength_);
}

void TZWVolumeSink::PatchHeader(int64_t at, const void* data, int64_t count) {
  if (direct_) return PatchVolume(header_.offset + at, data, count);
  int64_t end = temp_->GetPosition();
  temp_->SetPosition(at);
  temp_->WriteBuffer(data, count);
  temp_->SetPosition(end);
}

// The header lies on the open volume, or on an earlier one of this run, which is
// opened again (and made durable: it was flushed when the run moved on from it).
void TZWVolumeSink::PatchVolume(int64_t at, const void* data, int64_t count) {
  if (s_.archiveStream && s_.currentVolumeFileName == headerFile_) {
    TStream& volume = *s_.archiveStream;
    int64_t end = volume.GetPosition();
    volume.SetPosition(at);
    volume.WriteBuffer(data, count);
    volume.SetPosition(end);
    return;
  }
  TFileStream earlier(v_.files, headerFile_,
                      FileMode::fmOpenReadWrite | FileMode::fmShareExclusive);
  earlier.SetPosition(at);
  earlier.WriteBuffer(data, count);
  FlushToDevice(earlier, settings_.options.FlushBuffers);
}

bool TZWVolumeSink::EndEntry(TZWArchivePlace& header) {
  if (direct_) {
    header = header_;
    return true;
  }
  bool hasData = temp_->GetSize() > headerLength_;
  temp_->SetPosition(0);
  CopyStreamToVolumes(v_, *temp_, collecting_.get(), hasData ? 1 : 0, headerLength_,
                      s_.currentVolume);
  header = Position();
  header.offset -= headerLength_;
  CopyStreamToVolumes(v_, *temp_, collecting_.get(), -1, -1, s_.currentVolume);
  DropEntry();
  return true;
}

void TZWVolumeSink::DropEntry() {
  temp_.reset();
  if (!tempName_.empty()) v_.files.DeleteFile(tempName_);
  tempName_.clear();
}

TZWArchiveMark TZWVolumeSink::Mark() const {
  TZWArchiveMark mark;
  mark.volume = s_.currentVolume.VolumeNumber;
  mark.size = s_.archiveStream ? s_.archiveStream->GetSize() : -1;
  mark.pending = collecting_ ? collecting_->GetSize() : 0;
  mark.file = s_.currentVolumeFileName;
  return mark;
}

bool TZWVolumeSink::Undo(const TZWArchiveMark& mark) {
  DropEntry();
  if (!s_.archiveStream) return false;
  if (Mark() == mark) return true;
  if (!direct_ || mark.size < 0) return false;
  TakeBack(mark);
  return true;
}

// Volumes the entry began are deleted (the run's journal lists them for removal
// already), the last first: the volumes left always form one run of numbers, as a
// recovery expects after an interruption. The volume the entry began on is cut back
// to the mark.
void TZWVolumeSink::TakeBack(const TZWArchiveMark& mark) {
  if (s_.currentVolumeFileName != mark.file) {
    int32_t reached = s_.currentVolume.VolumeNumber;
    s_.archiveStream.reset();
    for (int32_t n = reached; n > mark.volume; --n) {
      std::string name = GetVolumeFileName(v_, settings_.fileName, n, false);
      if (v_.files.FileExists(name)) v_.files.DeleteFile(name);
    }
    ReopenVolumeForWriting(v_, mark.file, mark.volume);
  }
  s_.archiveStream->SetSize(mark.size);
  s_.archiveStream->SetPosition(mark.size);
}

void TZWVolumeSink::WriteCollected() {
  if (!collecting_ || collecting_->GetSize() == 0) return;
  WriteBufferToVolumes(v_, collecting_->Data().data(), collecting_->GetSize(), s_.currentVolume, -1,
                       nullptr);
  collecting_->Clear();
}

void TZWVolumeSink::EnsureRoom(int64_t bytes) {
  WriteCollected();
  EnsureRoomOnVolume(v_, s_.currentVolume, bytes);
}

void TZWVolumeSink::Finish() {
  WriteCollected();
  RenameLastVolume(v_);
}

// A split set is continued where its directory began (append only); a new set starts
// on its first volume.
uint64_t TZWVolumeSink::Cut(const TZWRunCut& cut) {
  uint64_t at = volumes_.Begin(cut.append, cut.directory);
  s_.archiveStream->SetPosition(static_cast<int64_t>(at));
  s_.archiveStream->SetSize(static_cast<int64_t>(at));
  return at;
}

void TZWVolumeSink::Commit() {
  FlushToDevice(*s_.archiveStream, settings_.options.FlushBuffers);
  CommitJournal(s_, settings_, v_.files, true);
}

// The volumes are put back as a whole.
void TZWVolumeSink::RollBack() {
  DropEntry();
  volumes_.RollBack();
}

}  // namespace

std::unique_ptr<TZWArchiveSink> MakeArchiveSink(const TZWVolumeContext& volumes) {
  if (volumes.settings.spanningMode == smNone)
    return std::make_unique<TZWStreamSink>(*volumes.session.archiveStream);
  return std::make_unique<TZWVolumeSink>(volumes);
}

std::unique_ptr<TZWArchiveSink> MakeRunSink(const TZWVolumeContext& run) {
  if (run.settings.spanningMode == smNone) return std::make_unique<TZWStreamSink>(run);
  return std::make_unique<TZWVolumeSink>(run);
}

}  // namespace zw
