// Enumerations, option objects and event types of the archive component.
// Ordinal values are fixed: stored layouts and event handlers rely on them.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace zw {

class TZWBaseArchiver;

enum TZWCompressionLevel : uint8_t { clNone = 0, clFastest = 1, clNormal = 2, clMax = 3 };

enum TZWProcessOperation : uint8_t {
  poAdd = 0,
  poMove = 1,
  poDelete = 2,
  poUpdate = 3,
  poExtract = 4,
  poTest = 5,
  poRename = 6,
  poChangeAttr = 7,
  poChangeComment = 8,
  poMakeSFX = 9,
};

enum TZWProgressPhase : uint8_t { ppStart = 0, ppProcess = 1, ppEnd = 2 };

enum TZWAction : uint8_t { fxaRetry = 0, fxaIgnore = 1, fxaAbort = 2 };

enum TZWStorePathMode : uint8_t {
  spNoPath = 0,
  spRelativePath = 1,
  spFullPath = 2,
  spFullPathWithDrive = 3,
};

enum TZWFileShareMode : uint8_t {
  smShareCompat = 0,
  smShareExclusive = 1,
  smShareDenyWrite = 2,
  smShareDenyRead = 3,
  smShareDenyNone = 4,
};

enum TZWOverwriteMode : uint8_t {
  omPrompt = 0,
  omAlways = 1,
  omNever = 2,
  omIfNewer = 3,
  omIfOlder = 4,
};

enum TZWSpanningMode : uint8_t { smNone = 0, smSpanning = 1, smSplitting = 2 };

enum TZWVolumeSize : uint8_t {
  vsAutoDetect = 0,
  vsCustom = 1,
  vs1_44MB = 2,
  vs100MB = 3,
  vs200MB = 4,
  vs250MB = 5,
  vs600MB = 6,
  vs650MB = 7,
  vs700MB = 8,
};

enum TZip64Mode : uint8_t { zmDisabled = 0, zmAuto = 1, zmAlways = 2 };

// Options of adding files. Defaults are the values after construction.
struct TZWOptions {
  bool Recurse = true;
  TZWStorePathMode StorePath = spRelativePath;
  TZWFileShareMode ShareMode = smShareDenyNone;
  TZWOverwriteMode OverwriteMode = omAlways;
  bool CreateDirs = true;       // kept for stored layouts; nothing reads it
  bool ReplaceReadOnly = true;  // kept for stored layouts; nothing reads it
  bool SetAttributes = true;    // kept for stored layouts; nothing reads it
  int32_t SearchAttr = 10431;   // 0x28BF; AddFilesByMask takes its own attributes
  bool FlushBuffers = true;
  bool OEMFileNames = true;

  // Takes over another object's values, ShareMode included.
  void Assign(const TZWOptions& other) { *this = other; }
};

// Options of multi-volume archives.
class TZWSpanningOptions {
 public:
  bool AdvancedNaming = true;
  int64_t FirstVolumeSize = 0;
  TZWVolumeSize VolumeSize = vsAutoDetect;

  int64_t CustomVolumeSize() const { return customVolumeSize_; }
  // Values below 65,536 are raised to 65,536.
  void SetCustomVolumeSize(int64_t value) { customVolumeSize_ = value < 65536 ? 65536 : value; }
  void Assign(const TZWSpanningOptions& other) { *this = other; }

 private:
  int64_t customVolumeSize_ = 0;
};

// Events. `Sender` is the archiver that fires them.
// Seed of the random bytes of each encryption header (TZWBaseArchiver::SetSeedSource).
using TZWSeedSource = std::function<uint32_t()>;
using TNotifyEvent = std::function<void(TZWBaseArchiver* Sender)>;
using TZWFileProgressEvent = std::function<void(
    TZWBaseArchiver* Sender, const std::string& FileName, double Progress,
    TZWProcessOperation Operation, TZWProgressPhase ProgressPhase, bool& Cancel)>;
using TZWProgressEvent =
    std::function<void(TZWBaseArchiver* Sender, double Progress, TZWProcessOperation Operation,
                       TZWProgressPhase ProgressPhase, bool& Cancel)>;
using TZWConfirmOverwriteEvent =
    std::function<void(TZWBaseArchiver* Sender, const std::string& SourceFileName,
                       std::string& DestFileName, bool& Confirm)>;
using TZWConfirmProcessFileEvent =
    std::function<void(TZWBaseArchiver* Sender, const std::string& FileName,
                       TZWProcessOperation Operation, bool& Confirm)>;
using TZWOnPasswordEvent = std::function<void(TZWBaseArchiver* Sender, const std::string& FileName,
                                              std::string& NewPassword, bool& SkipFile)>;
using TZWProcessFileFailureEvent = std::function<void(
    TZWBaseArchiver* Sender, const std::string& FileName, TZWProcessOperation Operation,
    int32_t NativeError, int32_t ErrorCode, const std::string& ErrorMessage, TZWAction& Action)>;
using TZWOnRequestBlankVolumeEvent = std::function<void(
    TZWBaseArchiver* Sender, int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TZWOnRequestFirstVolumeEvent =
    std::function<void(TZWBaseArchiver* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TZWOnRequestLastVolumeEvent =
    std::function<void(TZWBaseArchiver* Sender, std::string& VolumeFileName, bool& Cancel)>;
using TZWOnRequestMiddleVolumeEvent = std::function<void(
    TZWBaseArchiver* Sender, int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel)>;
using TZWOnDiskFullEvent = std::function<void(TZWBaseArchiver* Sender, int32_t VolumeNumber,
                                              const std::string& VolumeFileName, bool& Cancel)>;
using TZWOnStoreFileEvent = std::function<void(TZWBaseArchiver* Sender, std::string& FileName,
                                               uint32_t& FileAttr, std::string& Comment)>;
using TZWOnExtractFileEvent = std::function<void(TZWBaseArchiver* Sender, std::string& FileName,
                                                 uint32_t& FileAttr, const std::string& Comment)>;

}  // namespace zw

namespace zw {

// Names a volume of a multi-volume archive: first, last, or a numbered one (0-based).
class TZWVolumeNumberInfo {
 public:
  enum TVolumeKind : uint8_t { vkFirst = 0, vkLast = 1, vkNumbered = 2, vkUnknown = 3 };

  TVolumeKind VolumeKind = vkUnknown;
  int32_t VolumeNumber = -1;
  int32_t LastVolumeNumber = -1;

  void Reset() {
    VolumeKind = vkUnknown;
    VolumeNumber = -1;
    LastVolumeNumber = -1;
  }
  bool IsFirst() const { return VolumeNumber == 0; }
  void SetFirst(bool flag) {
    if (!flag) return;
    VolumeNumber = 0;
    VolumeKind = vkFirst;
  }
  bool IsLast() const {
    return LastVolumeNumber == -1 ? VolumeKind == vkLast : VolumeNumber == LastVolumeNumber;
  }
  void SetLast(bool flag) {
    if (!flag) return;
    VolumeNumber = LastVolumeNumber;
    VolumeKind = vkLast;
  }
  void SetVolumeNumber(int32_t n) {
    VolumeKind = vkNumbered;
    VolumeNumber = n;
  }
  bool SameVolume(const TZWVolumeNumberInfo& other) const {
    if (IsLast()) return other.IsLast();
    if (IsFirst()) return other.IsFirst();
    if (VolumeNumber < 0) return VolumeKind == other.VolumeKind;
    return VolumeNumber == other.VolumeNumber;
  }
};

}  // namespace zw
