// The component's exception.
//
// `EZWException` carries `NativeError`, the internal code it was raised with, and
// `ErrorCode`, the index of its text (0-33, or -1 for codes without a text). Its
// message is: the raising component's Name and ": " (when it has a name), the text
// (formatted with the arguments when given), " - Native error: " and the internal
// code zero-filled to at least five digits, e.g.
//   "ZipWriter1: Archive is not open - Native error: 00013".
#pragma once

#include <exception>
#include <initializer_list>
#include <string>

#include "Component.h"
#include "Exceptions.h"
#include "Format.h"

namespace zw {

// The internal codes EZWException is raised with (its NativeError). Codes outside
// this list are not raised by the component.
enum TZWErrorCode : int {
  // A directory index outside 0..Count-1 (TZWDirArray SetItem, GetItem, ItemPtr, Delete).
  ecSetItemIndex = 1,
  ecGetItemIndex = 2,
  ecItemIndex = 3,
  ecDeleteIndex = 4,
  ecCompressionMode = 5,  // SetCompressionMode outside 0-9
  // An update found an unchanged entry missing from the archive as it was before it.
  ecEntryNotInArchive = 7,
  ecOpenWithoutFileName = 9,       // OpenArchiveFile: FileName has no file name part
  ecOpenModeWithoutFileName = 10,  // OpenArchiveFileWithMode: the same
  ecArchiveNotFound = 12,          // opening an archive that does not exist
  ecArchiveNotOpen = 13,           // CheckArchiveOpen
  ecInMemoryCreateOnly = 28,       // an in-memory archive can only be created
  ecInMemoryWithoutFileName = 29,  // leaving InMemory needs a FileName to save to
  ecReadOnlyArchive = 32,          // BeginUpdate on an archive opened read only
  ecCannotOpenSource = 33,         // a file to add cannot be opened
  // A source delivered fewer bytes than its size, or the archive took fewer.
  ecShortData = 34,
  ecInvalidArchive = 35,      // records that cannot be read as an archive
  ecCannotRenameVolume = 36,  // the last volume cannot take the archive's name
  ecZip64EndRecordMissing = 40,
  ecCompressZip64Disabled = 41,  // the data came out needing Zip64 while it is disabled
  ecEntryZip64Disabled = 43,     // the entry needs Zip64 while it is disabled
  ecNoEndRecordOnVolumes = 44,   // a multi-volume archive without an end record
  ecVolumeRequestCancelled = 45,
  ecVolumeWriteFailed = 46,  // bytes that must stay together did not fit a blank volume
  ecStubExceedsVolume = 47,  // the SFX stub is larger than the first volume may be
  ecArchiveDamaged = 48,     // the directory points past the bytes of the file
  ecMultiVolumeChange = 52,  // a change a multi-volume archive cannot take
  // An interrupted update could not be undone yet; the journal stays for the next opening.
  ecRestorePending = 60,
};

class EZWException : public Exception {
 public:
  explicit EZWException(int nativeError, const TComponent* sender = nullptr);
  EZWException(int nativeError, std::initializer_list<FormatArg> args,
               const TComponent* sender = nullptr);

  int ErrorCode() const { return errorCode_; }
  int NativeError() const { return nativeError_; }

 private:
  static std::string Compose(int nativeError, int errorCode, const std::string& text,
                             const TComponent* sender);
  int errorCode_;
  int nativeError_;
};

// Whether `e`, raised while an archive was opened, says the file is not a readable
// archive (as opposed to one that cannot be reached or used): records that cannot be
// read, a missing Zip64 end record, a multi-volume set without an end record, a
// directory pointing past the file, or a record running past the bytes present.
bool IsArchiveDamaged(const std::exception& e);

}  // namespace zw
