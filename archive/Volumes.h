// Multi-volume archives: volume naming, opening volumes (with the requests to the
// user and the disk-full check), writing across volume boundaries, and detecting a
// multi-volume archive when an existing one is opened.
//
// Writers keep two rules: a local header never straddles two volumes, and a central
// header is only begun on a volume that can take it with its name and extra field.
// With SpanningMode smNone every call comes down to plain writes on the archive
// stream.
#pragma once

#include <cstdint>
#include <string>

#include "ZWTypes.h"

namespace zw {

class TStream;
class TMemoryStream;
class TZWBaseArchiver;

int64_t GetVolumeSizeLimit(const TZWBaseArchiver& a, const TZWVolumeNumberInfo& volume);
// Name of volume n (0-based; -1 = the last volume) of the archive `name`.
std::string GetVolumeFileName(TZWBaseArchiver& a, const std::string& name, int32_t n, bool check);
bool IsExeFileName(const std::string& name);
bool IsRemovableDrive(TZWBaseArchiver& a, const std::string& path);
int64_t GetDriveFreeSpace(TZWBaseArchiver& a, const std::string& path);
void OpenVolumeFile(TZWBaseArchiver& a, const std::string& name);
// Makes the named volume the open one; raises EZWException 45 when the user cancels.
void OpenVolume(TZWBaseArchiver& a, TZWVolumeNumberInfo& volume);

// Writes `count` bytes to the archive stream, moving to the next volume when the
// current one is full; `mustFollow` (-1: none) bytes that have to land on the same
// volume as what follows; `buffer` collects writes for a slow medium. Returns the
// bytes placed.
int64_t WriteToVolumes(TZWBaseArchiver& a, const void* data, int64_t count,
                       TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer);
// As WriteToVolumes; raises EZWException 46 when not everything was placed.
void WriteBufferToVolumes(TZWBaseArchiver& a, const void* data, int64_t count,
                          TZWVolumeNumberInfo& volume, int32_t mustFollow, TMemoryStream* buffer);
// Copies `count` bytes (-1: the rest) of `source` through WriteToVolumes.
void CopyStreamToVolumes(TZWBaseArchiver& a, TStream& source, TMemoryStream* buffer,
                         int32_t mustFollow, int64_t count, TZWVolumeNumberInfo& volume);
// Gives the current (last) volume the archive's last-volume name.
void RenameLastVolume(TZWBaseArchiver& a);

void DetectSpanningMode(TZWBaseArchiver& a);
void DetectVolumes(TZWBaseArchiver& a);
void DetectExeVolumes(TZWBaseArchiver& a);

}  // namespace zw
