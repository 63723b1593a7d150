// The update engine: turns the changes collected in a batch into the archive on disk,
// in place.
//
// Entries in front of the first change stay where they are, untouched. From the first
// change on, the rest of the old archive is saved to an "FC" temporary file, the
// archive is cut there, and the entries are written again in directory order:
// unchanged ones copied byte for byte (with their data descriptors), changed ones
// written fresh, then a new central directory. A failure, cancel or abort puts the
// saved bytes back, so the archive again holds exactly its previous entries.
// Per-entry failures go to OnProcessFileFailure (retry, ignore or abort).
#pragma once

namespace zw {

class TZWBaseArchiver;

// Applies the batch when one is open (UpdateLevel > 0); returns normally after
// success, cancel and abort; raises after restoring the archive otherwise.
void ApplyUpdate(TZWBaseArchiver& archiver);

}  // namespace zw
