// The component's surface: construction, published properties, and the firing
// operations of the events with their default behaviour.
#include "ZipWriter.h"

#include <algorithm>
#include <map>

#include "ArchiverState.h"
#include "CodePage.h"
#include "Compress.h"
#include "DirManager.h"
#include "EngineEvents.h"
#include "EntryReader.h"
#include "EntryReaderContext.h"
#include "FileSystem.h"
#include "Format.h"
#include "Journal.h"
#include "ParallelDeflate.h"
#include "Restore.h"
#include "RestoreContext.h"
#include "UpdateEngine.h"
#include "UserInterface.h"
#include "Volumes.h"
#include "ZWExcept.h"

namespace zw {

namespace {
// Each thread holds two chunks in flight (up to 3.3 MB at mode 9): a bound on memory.
constexpr int32_t kMaxThreads = 64;
}  // namespace

TZWSession::TZWSession() = default;
TZWSession::~TZWSession() = default;
TZWServices::TZWServices() = default;
TZWServices::~TZWServices() = default;
TZWArchiverState::TZWArchiverState(TZWBaseArchiver& archiver) : events(archiver) {}
TZWArchiverState::~TZWArchiverState() = default;

// Access to the internals for the component's own units.
TZWArchiverState& ArchiverAccess::S(TZWBaseArchiver& a) { return *a.d_; }
const TZWArchiverState& ArchiverAccess::S(const TZWBaseArchiver& a) { return *a.d_; }
TZip64Mode ArchiverAccess::Zip64(const TZWBaseArchiver& a) { return a.zip64Mode_; }
uint16_t ArchiverAccess::Method(const TZWBaseArchiver& a) { return a.compressionMethod_; }

void ArchiverAccess::ConfirmProcessFile(TZWBaseArchiver& a, const std::string& name,
                                        TZWProcessOperation op, bool& confirm) {
  a.FireConfirmProcessFile(name, op, confirm);
}
void ArchiverAccess::StoreFile(TZWBaseArchiver& a, std::string& name, uint32_t& attr,
                               std::string& comment) {
  a.FireStoreFile(name, attr, comment);
}
void ArchiverAccess::AfterOpen(TZWBaseArchiver& a) { a.FireAfterOpen(); }

// The archiver's side of the units handed only parts of it: its events, and the
// archiver overloads of those units, which take the parts from the archiver.
void TZWArchiverEvents::FileProgress(const std::string& name, double progress,
                                     TZWProcessOperation op, TZWProgressPhase phase, bool& cancel) {
  archiver_.FireFileProgress(name, progress, op, phase, cancel);
}
void TZWArchiverEvents::OverallProgress(double progress, TZWProcessOperation op,
                                        TZWProgressPhase phase, bool& cancel) {
  archiver_.FireOverallProgress(progress, op, phase, cancel);
}

void TZWArchiverEvents::RequestBlankVolume(int32_t n, std::string& name, bool& cancel) {
  archiver_.RequestBlankVolume(n, name, cancel);
}
void TZWArchiverEvents::RequestFirstVolume(std::string& name, bool& cancel) {
  archiver_.RequestFirstVolume(name, cancel);
}
void TZWArchiverEvents::RequestLastVolume(std::string& name, bool& cancel) {
  archiver_.RequestLastVolume(name, cancel);
}
void TZWArchiverEvents::RequestMiddleVolume(int32_t n, std::string& name, bool& cancel) {
  archiver_.RequestMiddleVolume(n, name, cancel);
}
void TZWArchiverEvents::ReportDiskFull(int32_t n, const std::string& name, bool& cancel) {
  archiver_.ReportDiskFull(n, name, cancel);
}

void TZWArchiverEvents::ProcessFileFailure(const std::string& name, TZWProcessOperation op,
                                           int32_t native, int32_t code, const std::string& message,
                                           TZWAction& action) {
  archiver_.FireProcessFileFailure(name, op, native, code, message, action);
}
void TZWArchiverEvents::Password(const std::string& name, std::string& password, bool& skip) {
  archiver_.FirePassword(name, password, skip);
}
void TZWArchiverEvents::ConfirmOverwrite(const std::string& source, std::string& dest,
                                         bool& confirm) {
  archiver_.FireConfirmOverwrite(source, dest, confirm);
}

TZWVolumeContext VolumeContextOf(TZWBaseArchiver& archiver) {
  TZWArchiverState& s = ArchiverAccess::S(archiver);
  return {s, s, archiver.Files(), s.events, &archiver};
}

TZWDeflatePool* DeflatePoolOf(TZWBaseArchiver& archiver) {
  TZWArchiverState& s = ArchiverAccess::S(archiver);
  return DeflatePoolOf(s, s);
}

bool CompressEntry(TZWBaseArchiver& archiver, TStream& source, TStream& dest, TDirItem& item,
                   int64_t knownSize) {
  TZWArchiverState& s = ArchiverAccess::S(archiver);
  TZWCompressContext context{
      s, s, s, s.events, archiver.Files(), ArchiverAccess::Zip64(archiver), &archiver};
  return CompressEntry(context, source, dest, item, knownSize);
}

void ApplyUpdate(TZWBaseArchiver& archiver) {
  TZWArchiverState& s = ArchiverAccess::S(archiver);
  ApplyUpdate(TZWUpdateContext{s, s, s, s, archiver.Files(), s.events, s.events, s.events,
                               ArchiverAccess::Zip64(archiver), &archiver});
}

namespace {

TZWEntryReadContext ReadContextOf(TZWBaseArchiver& archiver) {
  TZWArchiverState& s = ArchiverAccess::S(archiver);
  return {s, s, archiver.Files(), s.events, s.events, &archiver};
}

}  // namespace

TZWEntryReader::TZWEntryReader(TZWBaseArchiver& archiver)
    : TZWEntryReader(ReadContextOf(archiver)) {}

TZWRestorer::TZWRestorer(TZWBaseArchiver& archiver)
    : TZWRestorer(TZWRestoreContext{ReadContextOf(archiver), ArchiverAccess::S(archiver).events}) {}

TZWBaseArchiver::TZWBaseArchiver(TComponent* owner) : TComponent(owner), d_(new State(*this)) {
  // The writer runs so that a descendant's method choice applies from the start.
  SetCompressionLevel(clFastest);
  zip64Mode_ = zmAuto;
}

TZWBaseArchiver::~TZWBaseArchiver() { CloseArchiveFile(); }

TZipWriter::TZipWriter(TComponent* owner) : TZWBaseArchiver(owner) {
  UpdateCompressionMethod();  // the base constructor ran before this override existed
  zip64Mode_ = zmDisabled;
}

// Closed here as well, so a pending batch is committed while this class's overrides
// still apply.
TZipWriter::~TZipWriter() { CloseArchiveFile(); }

void TZWBaseArchiver::UpdateCompressionMethod() { compressionMethod_ = 0xFFFF; }

void TZipWriter::UpdateCompressionMethod() {
  compressionMethod_ = ArchiverAccess::S(*this).compressionMode != 0 ? 8 : 0;
}

// --- Properties -------------------------------------------------------------------

bool TZWBaseArchiver::ExtractCorruptedFiles() const { return d_->extractCorruptedFiles; }
void TZWBaseArchiver::SetExtractCorruptedFiles(bool v) { d_->extractCorruptedFiles = v; }
TZWCompressionLevel TZWBaseArchiver::CompressionLevel() const { return d_->compressionLevel; }

void TZWBaseArchiver::SetCompressionLevel(TZWCompressionLevel value) {
  d_->compressionLevel = value;
  d_->compressionMode = static_cast<uint8_t>(CompressionLevelToMode(value));
  UpdateCompressionMethod();
}

uint8_t TZWBaseArchiver::CompressionMode() const { return d_->compressionMode; }

void TZWBaseArchiver::SetCompressionMode(int value) {
  if (value < 0 || value > 9) throw EZWException(ecCompressionMode, this);
  d_->compressionMode = static_cast<uint8_t>(value);
  d_->compressionLevel = CompressionModeToLevel(value);
  UpdateCompressionMethod();
}

int32_t TZWBaseArchiver::Threads() const { return d_->threads; }

void TZWBaseArchiver::SetThreads(int32_t value) {
  if (value < 0 || value > kMaxThreads) throw Exception("Threads must be 0 to 64");
  d_->threads = value;
}

std::string TZWBaseArchiver::CurrentVersion() const { return "2.60 "; }
void TZWBaseArchiver::SetCurrentVersion(const std::string&) {}
const std::string& TZWBaseArchiver::Password() const { return d_->password; }
void TZWBaseArchiver::SetPassword(const std::string& v) { d_->password = v; }
const std::string& TZWBaseArchiver::FileName() const { return d_->fileName; }
void TZWBaseArchiver::SetFileName(const std::string& v) { d_->fileName = v; }
const std::string& TZWBaseArchiver::BaseDir() const { return d_->baseDir; }
void TZWBaseArchiver::SetBaseDir(const std::string& v) { d_->baseDir = v; }
const std::string& TZWBaseArchiver::TempDir() const { return d_->tempDir; }
void TZWBaseArchiver::SetTempDir(const std::string& v) { d_->tempDir = v; }
TZWSpanningMode TZWBaseArchiver::SpanningMode() const { return d_->spanningMode; }

void TZWBaseArchiver::SetSpanningMode(TZWSpanningMode value) {
  if (d_->isOpen) throw Exception("Cannot set spanning mode on open archive");
  d_->spanningMode = value;
}

TZWSpanningOptions& TZWBaseArchiver::SpanningOptions() { return d_->spanningOptions; }
const std::string& TZWBaseArchiver::SFXStub() const { return d_->sfxStub; }
void TZWBaseArchiver::SetSFXStub(const std::string& v) { d_->sfxStub = v; }
TZWOptions& TZWBaseArchiver::Options() { return d_->options; }
const std::vector<std::string>& TZWBaseArchiver::FileMasks() const { return d_->fileMasks; }
void TZWBaseArchiver::SetFileMasks(const std::vector<std::string>& l) { d_->fileMasks = l; }
const std::vector<std::string>& TZWBaseArchiver::ExclusionMasks() const {
  return d_->exclusionMasks;
}
void TZWBaseArchiver::SetExclusionMasks(const std::vector<std::string>& l) {
  d_->exclusionMasks = l;
}
const std::vector<std::string>& TZWBaseArchiver::NoCompressionMasks() const {
  return d_->noCompressionMasks;
}
void TZWBaseArchiver::SetNoCompressionMasks(const std::vector<std::string>& l) {
  d_->noCompressionMasks = l;
}
bool TZWBaseArchiver::InMemory() const { return d_->inMemory; }

bool TZWBaseArchiver::IsOpen() const { return d_->isOpen; }
int32_t TZWBaseArchiver::UpdateLevel() const { return d_->updateLevel; }
int32_t TZWBaseArchiver::FileMode() const { return d_->fileMode; }
const std::string& TZWBaseArchiver::CurrentVolumeFileName() const {
  return d_->currentVolumeFileName;
}
const TZWDirManager* TZWBaseArchiver::DirManager() const { return d_->dirManager.get(); }
TZWArchiveListing TZWBaseArchiver::Listing() const {
  CheckArchiveOpen();
  const TZWDirManager& dm = *d_->dirManager;
  TZWArchiveListing listing;
  listing.StartOffset = dm.StartOffset;
  listing.HasZip64 = dm.HasZip64;
  listing.Comment = dm.ArchiveComment;
  // A multi-volume set read from its end record keeps no single directory start.
  listing.RebuiltFromLocalHeaders = dm.DirectoryStart == -1 && d_->spanningMode == smNone;
  const TZWDirArray& dir = dm.WorkingDirectory;
  listing.Entries.reserve(static_cast<size_t>(dir.Count()));
  for (int32_t i = 0; i < dir.Count(); ++i) {
    const TDirItem& item = dir.ItemPtr(i);
    listing.Entries.push_back({item.FileName, item.RealUncompressedSize(),
                               item.RealCompressedSize(), item.CompressionMethod, item.Crc32,
                               item.RealLocalHeaderOffset(), item.Flags, item.ExternalAttributes});
  }
  return listing;
}

int32_t TZWBaseArchiver::FilesProcessed() const { return d_->filesProcessed; }
int32_t TZWBaseArchiver::FilesToProcess() const { return d_->filesToProcess; }
bool TZWBaseArchiver::LastOpenRestored() const { return d_->lastOpenRestored; }
int32_t TZWBaseArchiver::LastOpenDroppedEntries() const { return d_->lastOpenDropped; }

void TZWBaseArchiver::SetFileSystem(FileSystem* fs) { d_->fs = fs; }
FileSystem& TZWBaseArchiver::Files() const { return d_->fs ? *d_->fs : ActiveFileSystem(); }
void TZWBaseArchiver::SetUserInterface(UserInterface* ui) { d_->ui = ui; }
UserInterface& TZWBaseArchiver::UI() const { return d_->ui ? *d_->ui : ActiveUserInterface(); }
void TZWBaseArchiver::SetSeedSource(TZWSeedSource source) { d_->seedSource = std::move(source); }

// --- Properties by stored name ------------------------------------------------------

namespace {

template <typename E>
E EnumValue(const std::string& text, const std::vector<std::pair<const char*, E>>& names,
            const std::string& property) {
  for (const auto& [name, value] : names)
    if (text == name) return value;
  try {
    size_t used = 0;
    int n = std::stoi(text, &used);
    if (used == text.size() && n >= 0 && n < static_cast<int>(names.size()))
      return names[static_cast<size_t>(n)].second;
  } catch (const std::exception&) {
  }
  throw Exception(Format("Invalid property value \"%s\" for %s", {text, property}));
}

bool BoolValue(const std::string& text, const std::string& property) {
  std::string v = AsciiLowerCase(text);
  if (v == "true" || v == "1") return true;
  if (v == "false" || v == "0") return false;
  throw Exception(Format("Invalid property value \"%s\" for %s", {text, property}));
}

int64_t IntValue(const std::string& text, const std::string& property) {
  try {
    size_t used = 0;
    long long n = std::stoll(text, &used, 0);
    if (used == text.size()) return n;
  } catch (const std::exception&) {
  }
  throw Exception(Format("Invalid property value \"%s\" for %s", {text, property}));
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    size_t end = text.find('|', start);
    out.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return out;
}

}  // namespace

void TZWBaseArchiver::SetPublishedProperty(const std::string& name, const std::string& value) {
  State& s = *d_;
  if (name == "Name") return SetName(value);
  if (name == "Tag") return SetTag(static_cast<intptr_t>(IntValue(value, name)));
  if (name == "ExtractCorruptedFiles") return SetExtractCorruptedFiles(BoolValue(value, name));
  if (name == "CompressionLevel")
    return SetCompressionLevel(EnumValue<TZWCompressionLevel>(
        value,
        {{"clNone", clNone}, {"clFastest", clFastest}, {"clNormal", clNormal}, {"clMax", clMax}},
        name));
  if (name == "CompressionMode") return SetCompressionMode(static_cast<int>(IntValue(value, name)));
  if (name == "Threads") return SetThreads(static_cast<int32_t>(IntValue(value, name)));
  if (name == "CurrentVersion") return SetCurrentVersion(value);
  if (name == "Password") return SetPassword(value);
  if (name == "FileName") return SetFileName(value);
  if (name == "BaseDir") return SetBaseDir(value);
  if (name == "TempDir") return SetTempDir(value);
  if (name == "SpanningMode")
    return SetSpanningMode(EnumValue<TZWSpanningMode>(
        value, {{"smNone", smNone}, {"smSpanning", smSpanning}, {"smSplitting", smSplitting}},
        name));
  if (name == "SpanningOptions.AdvancedNaming")
    return void(s.spanningOptions.AdvancedNaming = BoolValue(value, name));
  if (name == "SpanningOptions.FirstVolumeSize")
    return void(s.spanningOptions.FirstVolumeSize = IntValue(value, name));
  if (name == "SpanningOptions.VolumeSize")
    return void(s.spanningOptions.VolumeSize =
                    EnumValue<TZWVolumeSize>(value,
                                             {{"vsAutoDetect", vsAutoDetect},
                                              {"vsCustom", vsCustom},
                                              {"vs1_44MB", vs1_44MB},
                                              {"vs100MB", vs100MB},
                                              {"vs200MB", vs200MB},
                                              {"vs250MB", vs250MB},
                                              {"vs600MB", vs600MB},
                                              {"vs650MB", vs650MB},
                                              {"vs700MB", vs700MB}},
                                             name));
  if (name == "SpanningOptions.CustomVolumeSize")
    return s.spanningOptions.SetCustomVolumeSize(IntValue(value, name));
  if (name == "SFXStub") return SetSFXStub(value);
  if (name == "Options.Recurse") return void(s.options.Recurse = BoolValue(value, name));
  if (name == "Options.StorePath")
    return void(s.options.StorePath =
                    EnumValue<TZWStorePathMode>(value,
                                                {{"spNoPath", spNoPath},
                                                 {"spRelativePath", spRelativePath},
                                                 {"spFullPath", spFullPath},
                                                 {"spFullPathWithDrive", spFullPathWithDrive}},
                                                name));
  if (name == "Options.ShareMode")
    return void(s.options.ShareMode =
                    EnumValue<TZWFileShareMode>(value,
                                                {{"smShareCompat", smShareCompat},
                                                 {"smShareExclusive", smShareExclusive},
                                                 {"smShareDenyWrite", smShareDenyWrite},
                                                 {"smShareDenyRead", smShareDenyRead},
                                                 {"smShareDenyNone", smShareDenyNone}},
                                                name));
  if (name == "Options.OverwriteMode")
    return void(s.options.OverwriteMode = EnumValue<TZWOverwriteMode>(value,
                                                                      {{"omPrompt", omPrompt},
                                                                       {"omAlways", omAlways},
                                                                       {"omNever", omNever},
                                                                       {"omIfNewer", omIfNewer},
                                                                       {"omIfOlder", omIfOlder}},
                                                                      name));
  if (name == "Options.CreateDirs") return void(s.options.CreateDirs = BoolValue(value, name));
  if (name == "Options.ReplaceReadOnly")
    return void(s.options.ReplaceReadOnly = BoolValue(value, name));
  if (name == "Options.SetAttributes")
    return void(s.options.SetAttributes = BoolValue(value, name));
  if (name == "Options.SearchAttr")
    return void(s.options.SearchAttr = static_cast<int32_t>(IntValue(value, name)));
  if (name == "Options.FlushBuffers") return void(s.options.FlushBuffers = BoolValue(value, name));
  if (name == "Options.OEMFileNames") return void(s.options.OEMFileNames = BoolValue(value, name));
  if (name == "FileMasks") return SetFileMasks(Lines(value));
  if (name == "ExclusionMasks") return SetExclusionMasks(Lines(value));
  if (name == "NoCompressionMasks") return SetNoCompressionMasks(Lines(value));
  if (name == "InMemory") return SetInMemory(BoolValue(value, name));
  throw Exception(Format("Unknown property \"%s\"", {name}));
}

void TZipWriter::SetPublishedProperty(const std::string& name, const std::string& value) {
  if (name == "Zip64Mode")
    return SetZip64Mode(EnumValue<TZip64Mode>(
        value, {{"zmDisabled", zmDisabled}, {"zmAuto", zmAuto}, {"zmAlways", zmAlways}}, name));
  TZWBaseArchiver::SetPublishedProperty(name, value);
}

// --- Firing operations --------------------------------------------------------------

namespace {
std::string WithBackslashes(std::string name) {
  std::replace(name.begin(), name.end(), '/', '\\');
  return name;
}
}  // namespace

void TZWBaseArchiver::FireOverallProgress(double progress, TZWProcessOperation op,
                                          TZWProgressPhase phase, bool& cancel) {
  if (OnOverallProgress)
    OnOverallProgress(this, progress, op, phase, cancel);
  else
    cancel = false;
}

void TZWBaseArchiver::FireFileProgress(const std::string& fileName, double progress,
                                       TZWProcessOperation op, TZWProgressPhase phase,
                                       bool& cancel) {
  if (OnFileProgress)
    OnFileProgress(this, WithBackslashes(fileName), progress, op, phase, cancel);
  else
    cancel = false;
}

void TZWBaseArchiver::FireConfirmOverwrite(const std::string& source, std::string& dest,
                                           bool& confirm) {
  if (OnConfirmOverwrite) return OnConfirmOverwrite(this, source, dest, confirm);
  std::string question =
      Format("Overwrite file \"%s\" with \"%s\"", {dest, Files().DisplayName(source)});
  confirm = false;
  int answer =
      UI().AskChoice(question, TMsgDlgType::mtConfirmation, mbYes | mbNo | mbNoToAll | mbYesToAll);
  if (answer == mrYes) {
    confirm = true;
  } else if (answer == mrNoToAll) {
    d_->options.OverwriteMode = omNever;
  } else if (answer == mrYesToAll) {
    confirm = true;
    d_->options.OverwriteMode = omAlways;
  }
}

void TZWBaseArchiver::FireConfirmProcessFile(const std::string& fileName, TZWProcessOperation op,
                                             bool& confirm) {
  confirm = true;
  if (OnConfirmProcessFile) OnConfirmProcessFile(this, fileName, op, confirm);
}

void TZWBaseArchiver::FirePassword(const std::string& fileName, std::string& newPassword,
                                   bool& skipFile) {
  if (OnPassword) return OnPassword(this, fileName, newPassword, skipFile);
  bool accepted =
      UI().AskText(Format("Password for \"%s\"", {fileName}), "Enter password: ", newPassword);
  skipFile = !accepted;
}

void TZWBaseArchiver::FireProcessFileFailure(const std::string& fileName, TZWProcessOperation op,
                                             int32_t nativeError, int32_t errorCode,
                                             const std::string& message, TZWAction& action) {
  action = fxaIgnore;
  if (OnProcessFileFailure)
    return OnProcessFileFailure(this, fileName, op, nativeError, errorCode, message, action);
  int answer = UI().AskChoice(Format("%s. File processing error, possibly disk is full", {message}),
                              TMsgDlgType::mtConfirmation, mbAbort | mbRetry | mbIgnore);
  action = answer == mrRetry ? fxaRetry : answer == mrIgnore ? fxaIgnore : fxaAbort;
}

namespace {
bool AskOkCancel(UserInterface& ui, const std::string& text) {
  return ui.AskChoice(text, TMsgDlgType::mtConfirmation, mbOK | mbCancel) != mrOk;
}
}  // namespace

void TZWBaseArchiver::RequestBlankVolume(int32_t n, std::string& name, bool& cancel) {
  cancel = false;
  name = GetVolumeFileName(VolumeContextOf(*this), name, std::max(n, 0), false);
  if (OnRequestBlankVolume) return OnRequestBlankVolume(this, n + 1, name, cancel);
  if (d_->spanningMode == smSpanning)
    cancel = AskOkCancel(UI(), Format("Please insert a blank disk #%d", {n + 1}));
}

void TZWBaseArchiver::RequestFirstVolume(std::string& name, bool& cancel) {
  cancel = false;
  std::string given = name;
  name = GetVolumeFileName(VolumeContextOf(*this), given, 0, !OnRequestFirstVolume);
  if (OnRequestFirstVolume) return OnRequestFirstVolume(this, name, cancel);
  if (d_->spanningMode == smSpanning) {
    cancel = AskOkCancel(UI(), "Please insert the first disk");
    name = GetVolumeFileName(VolumeContextOf(*this), given, 0, true);
  } else {
    cancel = !Files().FileExists(name) && d_->fileMode != -1;
  }
}

void TZWBaseArchiver::RequestLastVolume(std::string& name, bool& cancel) {
  cancel = false;
  name = GetVolumeFileName(VolumeContextOf(*this), name, -1, true);
  if (OnRequestLastVolume) return OnRequestLastVolume(this, name, cancel);
  if (d_->spanningMode != smSpanning) {
    cancel = !Files().FileExists(name);
    return;
  }
  cancel = AskOkCancel(UI(), "Please insert the last disk");
  while (!cancel && !Files().FileExists(name))
    cancel = AskOkCancel(
        UI(),
        Format("File '%s' not found on inserted disk. Please insert last disk with required file",
               {Files().DisplayName(name)}));
}

void TZWBaseArchiver::RequestMiddleVolume(int32_t n, std::string& name, bool& cancel) {
  cancel = false;
  std::string given = name;
  name = GetVolumeFileName(VolumeContextOf(*this), given, n, !OnRequestMiddleVolume);
  if (OnRequestMiddleVolume) {
    OnRequestMiddleVolume(this, n + 1, name, cancel);
  } else if (d_->spanningMode == smSpanning) {
    cancel = AskOkCancel(UI(), Format("Please insert disk #%d", {n + 1}));
  } else {
    cancel = !Files().FileExists(name);
  }
  if (!OnRequestMiddleVolume) name = GetVolumeFileName(VolumeContextOf(*this), given, n, true);
}

void TZWBaseArchiver::ReportDiskFull(int32_t n, const std::string& name, bool& cancel) {
  cancel = false;
  if (OnDiskFull) return OnDiskFull(this, n + 1, name, cancel);
  if (d_->spanningMode != smSpanning) {
    cancel = true;
    return;
  }
  TZWVolumeNumberInfo volume;
  volume.SetVolumeNumber(n);
  int64_t required = GetVolumeSizeLimit(*d_, volume);
  if (required < 0) required = 65537;  // no fixed size: a disk needs more than 64 KiB free
  cancel = AskOkCancel(
      UI(), Format("Disk is full. Required free space: %d bytes, but available only: %d bytes. "
                   "Clean the disk or find another blank disk",
                   {static_cast<long long>(required),
                    static_cast<long long>(GetDriveFreeSpace(Files(), name))}));
}

void TZWBaseArchiver::FireUnpublishedEvent() {}

void TZWBaseArchiver::FireStoreFile(std::string& fileName, uint32_t& attr, std::string& comment) {
  if (!OnStoreFile) return;
  std::replace(fileName.begin(), fileName.end(), '/', '\\');
  OnStoreFile(this, fileName, attr, comment);
  std::replace(fileName.begin(), fileName.end(), '\\', '/');
}

void TZWBaseArchiver::FireExtractFile(std::string& fileName, uint32_t& attr,
                                      const std::string& comment) {
  std::replace(fileName.begin(), fileName.end(), '/', '\\');
  if (OnExtractFile) OnExtractFile(this, fileName, attr, comment);
}

void TZWBaseArchiver::FireAfterOpen() {
  if (AfterOpen) AfterOpen(this);
}

}  // namespace zw
