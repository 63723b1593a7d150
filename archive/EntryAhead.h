// Small entries deflated ahead on worker threads while the update engine writes the
// entries in front of them.
//
// The calling thread opens and reads the sources of the next few entries to be written
// and hands their data to the deflate pool's workers. Each is deflated by a fresh raw
// stream to Z_FINISH in one call: exactly the bytes the single stream gives an entry of
// one chunk, so the archive is the same for every thread count. Only entries that will
// be deflated, unencrypted, into a single-file archive, from a source of at most one
// compression chunk, are read ahead; any other entry, and a source that cannot be
// opened or read in full, is left to the engine's usual path, which opens it in its
// turn and reports a failure there. When the engine reaches an entry read ahead it
// takes its data and deflated bytes instead of opening the file; every event still
// fires then, on the calling thread, in directory order. At most two entries per
// worker are held, so memory stays bounded.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "ParallelDeflate.h"
#include "Streams.h"

namespace zw {

class TZWBaseArchiver;

class TZWEntryAhead {
 public:
  // `shareMode`: the sharing bits the engine opens sources with.
  TZWEntryAhead(TZWBaseArchiver& archiver, TZWDeflatePool& pool, uint16_t shareMode);
  // Drops the jobs not started and waits for the running ones.
  ~TZWEntryAhead();
  TZWEntryAhead(const TZWEntryAhead&) = delete;
  TZWEntryAhead& operator=(const TZWEntryAhead&) = delete;

  // The engine is about to write entry `next` (an index of the working directory):
  // entries before it are released, entries from it on are read ahead while there is room.
  void Advance(int32_t next);
  // The source data of entry `index` when it was read ahead (null otherwise). Its
  // deflated form is then in `deflated` (null when its job was dropped: the data is
  // deflated the usual way).
  TStream* Source(int32_t index, const TZWChunkJob** deflated);
  // Entry `index` was removed from the working directory: later entries move down.
  void Removed(int32_t index);

 private:
  struct Held {
    TZWChunkJob job;  // input: the whole source
    std::unique_ptr<TReadOnlyMemoryStream> source;
  };
  bool Eligible(int32_t index);
  void ReadAhead(int32_t index);

  TZWBaseArchiver& archiver_;
  TZWDeflatePool& pool_;
  uint16_t shareMode_;
  size_t capacity_;
  int32_t scanned_ = 0;  // entries before this one were considered
  std::map<int32_t, std::unique_ptr<Held>> held_;
};

}  // namespace zw
