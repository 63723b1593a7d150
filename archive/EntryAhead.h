// Small entries deflated ahead on worker threads while the update engine writes the
// entries in front of them.
//
// The sources of the next entries to be written are read and deflated by the deflate
// pool's workers. Each is deflated by a fresh raw stream to Z_FINISH in one call:
// exactly the bytes the single stream gives an entry of one chunk, so the archive is
// the same for every thread count. Only entries that will be deflated, unencrypted,
// into a single-file archive, from a source of at most one compression chunk, are
// read ahead; any other entry, and a source that cannot be opened or read in full, is
// left to the engine's usual path, which opens it in its turn and reports a failure
// there. When the engine reaches an entry read ahead it takes its data and deflated
// bytes instead of opening the file; every event still fires then, on the calling
// thread, in directory order.
//
// Who reads: when the file system allows reads on several threads, the worker that
// deflates a source also opens and reads it (same sharing mode as the engine), so the
// calling thread only writes; many entries are then queued ahead, their held bytes
// bounded by a budget (a source over it is left to the engine). Otherwise the calling
// thread reads, a few entries ahead, so the provider sees its operations in a fixed
// order.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ParallelDeflate.h"
#include "Streams.h"

namespace zw {

class FileSystem;
struct TZWSession;
struct TZWSettings;

class TZWEntryAhead {
 public:
  // Reads the working directory of the open-archive session and the spanning mode of
  // the settings; opens sources through `files`. `shareMode`: the sharing bits the
  // engine opens sources with.
  TZWEntryAhead(const TZWSettings& settings, const TZWSession& session, FileSystem& files,
                TZWDeflatePool& pool, uint16_t shareMode);
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
  // One entry read ahead; reused for later entries, so its buffers are allocated once.
  struct Held : TZWJobLoader {
    bool Load(TZWChunkJob& job) override;  // on a worker
    TZWChunkJob job;                       // input: the whole source
    TReadOnlyMemoryStream source{nullptr, 0};
    // What a worker needs to read the source (the working directory may change meanwhile).
    FileSystem* fs = nullptr;
    std::string path;
    uint16_t mode = 0;
    uint32_t limit = 0;  // largest source taken
    std::atomic<int64_t>* heldBytes = nullptr;
    int64_t reserved = 0;  // this entry's part of heldBytes
  };
  bool Eligible(int32_t index);
  void ReadAhead(int32_t index);
  void QueueForWorker(int32_t index);
  std::unique_ptr<Held> TakeSpare();
  void Release(std::map<int32_t, std::unique_ptr<Held>>::iterator at);
  void WaitForBatch(int32_t index, Held& held);

  const TZWSettings& settings_;
  const TZWSession& session_;
  FileSystem& files_;
  TZWDeflatePool& pool_;
  uint16_t shareMode_;
  bool workersRead_;
  size_t capacity_;
  int32_t scanned_ = 0;  // entries before this one were considered
  std::map<int32_t, std::unique_ptr<Held>> held_;
  std::vector<std::unique_ptr<Held>> spare_;
  std::atomic<int64_t> heldBytes_{0};  // source bytes the workers' reads hold
};

}  // namespace zw
