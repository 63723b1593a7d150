// What the restorer works on instead of the archiver (Restore.h): what its entry
// reader needs (EntryReaderContext.h; the session's directory is the one it selects
// from, the settings' options say how existing files are handled) and the overwrite
// question. The events must outlive the restorer.
#pragma once

#include "EntryReaderContext.h"

namespace zw {

class TZWOverwriteEvents;

struct TZWRestoreContext {
  TZWEntryReadContext read;
  TZWOverwriteEvents& overwrite;
};

}  // namespace zw
