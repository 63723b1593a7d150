// The archive component: a ZIP writer that creates archives and updates them in place.
//
// Usage:
//   TZipWriter zip;
//   zip.SetFileName("C:\\backup\\data.zip");
//   zip.OpenArchiveFile();                     // creates the file, or opens it for update
//   zip.AddFilesByMask("C:\\data\\*.dat", 0x2F, "");  // one complete batch
//   zip.CloseArchiveFile();                    // also done by the destructor
//
// Contract:
//   - One archive is open at a time. Opening an existing archive reads its central
//     directory; the file stays open (others may read it, nobody may delete or
//     rename it) until CloseArchiveFile, the next opening, or destruction.
//   - Changes are collected between BeginUpdate and the outermost EndUpdate, which
//     rewrites the archive once: entries in front of the first change stay where
//     they are untouched, the rest is saved to a rollback journal beside the archive
//     ("<FileName>-journal", made durable first) and written again; deleting the
//     journal commits. Any failure, cancel or abort restores the archive's previous
//     bytes; an interrupted process or a power cut leaves the journal, and the next
//     opening of the archive restores it (LastOpenRestored).
//   - Failures the component detects raise EZWException (ZWExcept.h) with an
//     internal code (TZWErrorCode, "ec..." below); per-file failures during an update
//     (ecCannotOpenSource, ecShortData, ecEntryZip64Disabled, ecCompressZip64Disabled,
//     a source that cannot be read) go to OnProcessFileFailure instead (default: the
//     user is asked) and never reach the caller. Errors of the file system pass as
//     the platform's stream errors (EStreamError and its kinds). What raises what:
//       OpenArchiveFile, OpenArchiveFileWithMode, SetArchiveOpen(true):
//         ecOpenWithoutFileName (OpenArchiveFileWithMode: ecOpenModeWithoutFileName),
//         ecArchiveNotFound, ecInMemoryCreateOnly, ecRestorePending (an interrupted
//         update could not be undone yet), EFOpenError (another process holds the
//         archive or its journal), EFCreateError, ecVolumeRequestCancelled,
//         ecStubExceedsVolume; for a file that is not a readable archive
//         ecInvalidArchive, ecZip64EndRecordMissing, ecNoEndRecordOnVolumes or
//         EReadError, which IsArchiveDamaged (ZWExcept.h) recognises.
//       BeginUpdate, EndUpdate, AddFilesByMask: the opening errors when the archive
//         was not open yet; ecReadOnlyArchive, ecMultiVolumeChange, ecArchiveDamaged
//         (the directory points past the end of the file), ecEntryNotInArchive,
//         ecVolumeRequestCancelled, ecVolumeWriteFailed, ecCannotRenameVolume and
//         stream errors of the archive, each after the archive was put back as it
//         was; ecRestorePending when even that failed (the next opening restores it).
//       CheckArchiveOpen: ecArchiveNotOpen. SetCompressionMode: ecCompressionMode.
//       SetInMemory(false) on an open in-memory archive: ecInMemoryWithoutFileName,
//         and the errors of saving it to FileName and opening it again.
//       CloseArchiveFile and the accessors raise nothing.
//   - Events are called synchronously on the calling thread. A handler must not
//     close, reopen or change the archive while the operation that fired it runs.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ArchiveListing.h"
#include "Component.h"
#include "ZWTypes.h"

namespace zw {

class FileSystem;
class UserInterface;
class TZWDirManager;
struct TZWArchiverState;

class TZWBaseArchiver : public TComponent {
 public:
  explicit TZWBaseArchiver(TComponent* owner = nullptr);
  ~TZWBaseArchiver() override;

  // --- Published properties (stored layouts load them in this order) ---
  bool ExtractCorruptedFiles() const;
  void SetExtractCorruptedFiles(bool value);
  TZWCompressionLevel CompressionLevel() const;
  void SetCompressionLevel(TZWCompressionLevel value);
  uint8_t CompressionMode() const;
  // 0-9; a larger value raises EZWException ecCompressionMode and changes nothing.
  void SetCompressionMode(int value);
  // Always "2.60 "; writing is accepted and ignored.
  std::string CurrentVersion() const;
  void SetCurrentVersion(const std::string& value);
  const std::string& Password() const;
  void SetPassword(const std::string& value);
  const std::string& FileName() const;
  void SetFileName(const std::string& value);
  const std::string& BaseDir() const;
  void SetBaseDir(const std::string& value);
  const std::string& TempDir() const;
  void SetTempDir(const std::string& value);
  TZWSpanningMode SpanningMode() const;
  // Raises Exception "Cannot set spanning mode on open archive" while one is open.
  void SetSpanningMode(TZWSpanningMode value);
  TZWSpanningOptions& SpanningOptions();
  const std::string& SFXStub() const;
  void SetSFXStub(const std::string& value);
  TZWOptions& Options();
  const std::vector<std::string>& FileMasks() const;
  void SetFileMasks(const std::vector<std::string>& lines);
  const std::vector<std::string>& ExclusionMasks() const;
  void SetExclusionMasks(const std::vector<std::string>& lines);
  const std::vector<std::string>& NoCompressionMasks() const;
  void SetNoCompressionMasks(const std::vector<std::string>& lines);
  // Threads that deflate an entry larger than one compression chunk. 0 (the default):
  // as many as the process may run on. 1: one deflate stream per entry, the bytes of
  // earlier versions. More: the entry's chunks are deflated side by side, each primed
  // with the 32 KiB in front of it; the bytes then depend on the chunking alone, the
  // same for every count above 1. Events still fire on the calling thread, in order.
  // A value outside 0-64 raises Exception and changes nothing.
  int32_t Threads() const;
  void SetThreads(int32_t value);
  bool InMemory() const;
  // Moves an open archive between a file and memory (see the implementation notes).
  void SetInMemory(bool value);

  // --- Events ---
  TZWFileProgressEvent OnFileProgress;
  TZWProgressEvent OnOverallProgress;
  TZWConfirmOverwriteEvent OnConfirmOverwrite;
  TZWConfirmProcessFileEvent OnConfirmProcessFile;
  TNotifyEvent AfterOpen;
  TZWOnPasswordEvent OnPassword;
  TZWProcessFileFailureEvent OnProcessFileFailure;
  TZWOnRequestBlankVolumeEvent OnRequestBlankVolume;
  TZWOnRequestFirstVolumeEvent OnRequestFirstVolume;
  TZWOnRequestLastVolumeEvent OnRequestLastVolume;
  TZWOnRequestMiddleVolumeEvent OnRequestMiddleVolume;
  TZWOnDiskFullEvent OnDiskFull;
  TZWOnStoreFileEvent OnStoreFile;
  TZWOnExtractFileEvent OnExtractFile;

  // --- Operations ---
  void OpenArchiveFile();
  // mode: 34 open for update, 64 read only, 0xFFFF (-1) create.
  void OpenArchiveFileWithMode(uint16_t mode);
  // Commits a pending batch and releases the archive. Never raises.
  void CloseArchiveFile() noexcept;
  void BeginUpdate();
  void EndUpdate();
  void ResetUpdateCounter();
  void SetArchiveOpen(bool open);
  void CheckArchiveOpen() const;
  void CheckMultiVolumeChange() const;
  // Adds the files matching `fileMask` and `searchAttr` (DOS attribute bits) except
  // those matching `exclusionMask`, as one batch.
  void AddFilesByMask(const std::string& fileMask, int32_t searchAttr,
                      const std::string& exclusionMask);

  // --- State ---
  bool IsOpen() const;
  int32_t UpdateLevel() const;
  int32_t FileMode() const;  // 34, 64, or -1 (created)
  const std::string& CurrentVolumeFileName() const;
  // The directory of the open archive (null when closed), for the component's own
  // units and tests; its type is private to the archive library.
  const TZWDirManager* DirManager() const;
  // A read-only listing of the open archive's directory. Raises ecArchiveNotOpen when
  // no archive is open.
  TZWArchiveListing Listing() const;
  int32_t FilesProcessed() const;
  int32_t FilesToProcess() const;
  // What the last opening of an archive file found. Restored: an update of this
  // archive had been interrupted (process killed, power cut, failed rollback) and the
  // opening put the archive back, byte for byte, as it was before that update.
  // Dropped: the archive had no directory and the local-header scan left out this many
  // entries whose data was never completed.
  bool LastOpenRestored() const;
  int32_t LastOpenDroppedEntries() const;

  // Sets a published property by its stored name ("CompressionLevel",
  // "Options.Recurse", "SpanningOptions.VolumeSize", ...) from its stored text
  // ("clFastest", "true", "1"). Event names are not handled here. Raises Exception
  // for an unknown name or a value that does not fit.
  virtual void SetPublishedProperty(const std::string& name, const std::string& value);

  // --- Services (default: the process-wide ones) ---
  void SetFileSystem(FileSystem* fs);
  FileSystem& Files() const;
  void SetUserInterface(UserInterface* ui);
  UserInterface& UI() const;
  // Seed of the random bytes of each encryption header (tests make it fixed).
  void SetSeedSource(TZWSeedSource source);

  // The internal state, opaque outside the component's own units.
  using State = TZWArchiverState;

 protected:
  virtual void UpdateCompressionMethod();
  virtual void FireOverallProgress(double Progress, TZWProcessOperation Operation,
                                   TZWProgressPhase ProgressPhase, bool& Cancel);
  virtual void FireFileProgress(const std::string& FileName, double Progress,
                                TZWProcessOperation Operation, TZWProgressPhase ProgressPhase,
                                bool& Cancel);
  virtual void FireConfirmOverwrite(const std::string& SourceFileName, std::string& DestFileName,
                                    bool& Confirm);
  virtual void FireConfirmProcessFile(const std::string& FileName, TZWProcessOperation Operation,
                                      bool& Confirm);
  virtual void FirePassword(const std::string& FileName, std::string& NewPassword, bool& SkipFile);
  virtual void FireProcessFileFailure(const std::string& FileName, TZWProcessOperation Operation,
                                      int32_t NativeError, int32_t ErrorCode,
                                      const std::string& ErrorMessage, TZWAction& Action);
  virtual void RequestBlankVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel);
  virtual void RequestFirstVolume(std::string& VolumeFileName, bool& Cancel);
  virtual void RequestLastVolume(std::string& VolumeFileName, bool& Cancel);
  virtual void RequestMiddleVolume(int32_t VolumeNumber, std::string& VolumeFileName, bool& Cancel);
  virtual void ReportDiskFull(int32_t VolumeNumber, const std::string& VolumeFileName,
                              bool& Cancel);
  virtual void FireUnpublishedEvent();
  virtual void FireStoreFile(std::string& FileName, uint32_t& FileAttr, std::string& Comment);
  virtual void FireExtractFile(std::string& FileName, uint32_t& FileAttr,
                               const std::string& Comment);
  void FireAfterOpen();

  // Method code for new entries: 8 deflate, 0 stored, 0xFFFF unset.
  uint16_t compressionMethod_ = 0xFFFF;
  TZip64Mode zip64Mode_ = zmAuto;

 private:
  friend struct ArchiverAccess;
  friend class TZWArchiverEvents;
  std::unique_ptr<State> d_;
};

class TZipWriter : public TZWBaseArchiver {
 public:
  explicit TZipWriter(TComponent* owner = nullptr);
  ~TZipWriter() override;
  TZip64Mode Zip64Mode() const { return zip64Mode_; }
  void SetZip64Mode(TZip64Mode value) { zip64Mode_ = value; }
  void SetPublishedProperty(const std::string& name, const std::string& value) override;

 protected:
  void UpdateCompressionMethod() override;
};

}  // namespace zw
