// Multi-volume archives: volume naming, opening volumes (with the requests to the
// user and the disk-full check), writing across volume boundaries, and detecting a
// multi-volume archive when an existing one is opened.
//
// Writers keep two rules: a local header never straddles two volumes, and a central
// header is only begun on a volume that can take it whole. The end records stay
// together on the last volume, which carries the archive's own name. With
// SpanningMode smNone every call comes down to plain writes on the archive stream.
//
// Room on a volume is the smaller of the drive's free space and what the size limit
// leaves. A drive whose free space cannot be told (GetFreeSpace -1) sets no bound of
// its own; a size limit of 0 or less (vsAutoDetect, or vsCustom never set) sets none
// either. With neither, the whole archive goes on one volume.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "Journal.h"
#include "ZWTypes.h"

namespace zw {

class FileSystem;
class TComponent;
class TStream;
class TMemoryStream;
class TZWBaseArchiver;
class TZWVolumeEvents;
struct TZWDirectory;
struct TZWSession;
struct TZWSettings;

// What the volume unit is handed instead of the archiver: the settings (name, spanning
// mode and options, SFX stub, flushing), the open-archive session (its stream, current
// volume, file mode and journal, which the unit replaces as it moves between volumes),
// the file system, the volume requests, and the component named in what it raises.
struct TZWVolumeContext {
  const TZWSettings& settings;
  TZWSession& session;
  FileSystem& files;
  TZWVolumeEvents& events;
  const TComponent* sender;
};

// The volume context of an archiver, with the events that live in its state (defined
// with the component, ZipWriter.cpp).
TZWVolumeContext VolumeContextOf(TZWBaseArchiver& archiver);

int64_t GetVolumeSizeLimit(const TZWSettings& settings, const TZWVolumeNumberInfo& volume);
// Name of volume n (0-based; -1 = the last volume) of the archive `name`. Numbered
// names are "base_001.ext" ... (AdvancedNaming) or "base.z01" ...; the letter of the
// latter follows the case of the archive's extension ("x.zip": x.z01, "X.ZIP":
// X.Z01), as readers on case-sensitive file systems look for it.
std::string GetVolumeFileName(const TZWVolumeContext& v, const std::string& name, int32_t n,
                              bool check);
bool IsExeFileName(const std::string& name);
bool IsRemovableDrive(FileSystem& files, const std::string& path);
// Free bytes on the drive holding `path`; -1 when the platform cannot tell.
int64_t GetDriveFreeSpace(FileSystem& files, const std::string& path);
void OpenVolumeFile(const TZWVolumeContext& v, const std::string& name);
// Makes the named volume the open one; raises EZWException
// ecVolumeRequestCancelled when the user cancels.
void OpenVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume);

// Writes `count` bytes to the archive stream, moving to a new blank volume whenever
// the current one is full; `mustFollow` (-1: none) bytes that have to land on the same
// volume as these; `buffer` collects writes for a slow medium. Returns the bytes
// placed: fewer than `count` when even a new volume cannot take the must-follow group.
int64_t WriteToVolumes(const TZWVolumeContext& v, const void* data, int64_t count,
                       TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer);
// As WriteToVolumes; raises EZWException ecVolumeWriteFailed when not everything was placed.
void WriteBufferToVolumes(const TZWVolumeContext& v, const void* data, int64_t count,
                          TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer);
// Copies `count` bytes (-1: the rest) of `source` through WriteToVolumes.
void CopyStreamToVolumes(const TZWVolumeContext& v, TStream& source, TMemoryStream* buffer,
                         int32_t mustFollow, int64_t count, TZWVolumeNumberInfo& volume);
// Makes the volume file `name` (number `number`, written earlier in this run) the open
// one again, for writing.
void ReopenVolumeForWriting(const TZWVolumeContext& v, const std::string& name, int32_t number);
// Moves on to a new volume unless the current one has room for `bytes` more, so that
// records written next (the end records) land together on the volume they name.
void EnsureRoomOnVolume(const TZWVolumeContext& v, TZWVolumeNumberInfo& volume, int64_t bytes);
// Gives the current (last) volume the archive's last-volume name; raises
// EZWException ecCannotRenameVolume when the file cannot be renamed.
void RenameLastVolume(const TZWVolumeContext& v);

// How the numbered volumes of a split archive named `name` are named (leaf names).
TZWVolumeNaming SplitVolumeNaming(const TZWVolumeContext& v, const std::string& name);

// The volumes of one update run of a multi-volume archive: where writing starts, and
// how to put the volumes back when the run fails or is cancelled.
class TZWVolumeUpdate {
 public:
  explicit TZWVolumeUpdate(const TZWVolumeContext& volumes) : v_(volumes) {}

  // Opens the volume on which the run writes its first byte, positions the archive
  // stream there and returns that position. A new archive whose directory is not yet
  // written starts on its first volume after any stub. A split archive that has a
  // directory is continued where its directory began: the old directory and end
  // records are kept in memory for RollBack, cut from that volume, and the volumes
  // after it are removed. Raises EZWException ecMultiVolumeChange, before anything is touched, for
  // a run that would rewrite stored entries (`appendOnly` false) and for a spanned archive that
  // already has a directory (its disks cannot be put back unattended).
  // `dir`: the archive's directory as last read or written.
  uint64_t Begin(bool appendOnly, const TZWDirectory& dir);

  // Puts the volumes back as they were before Begin: volumes created by the run are
  // deleted, the start volume is cut back and the saved directory restored; the
  // archive stream is then open on the last volume again. A new archive whose volume
  // request was cancelled (or whose volume could not be made) is given up: its volume
  // files are deleted (on a spanned set, the one on the disk in the drive) and the
  // archive is left closed; so is a new spanned archive that already moved on to a
  // later disk, as the earlier disks are out of reach.
  void RollBack();

 private:
  std::string VolumeName(int32_t n) const;
  void RestoreFresh(const std::string& current, int32_t reached, bool abandon);
  void RestoreAppended();
  void Reopen(const std::string& name, int32_t number, int32_t last);
  void WriteJournal(const std::string& startName, const std::string& lastName);

  TZWVolumeContext v_;
  bool begun_ = false;
  bool fresh_ = true;
  int32_t startVolume_ = 0;
  int32_t lastVolume_ = 0;
  uint64_t startOffset_ = 0;
};

}  // namespace zw
