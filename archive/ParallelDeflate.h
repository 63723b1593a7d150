// Deflating one entry's data on several threads.
//
// The source is cut into chunks of a fixed size. Each chunk is deflated by a raw
// stream of its own, primed with the 32 KiB of input in front of it as its dictionary
// (deflateSetDictionary) and ended on a byte boundary (Z_SYNC_FLUSH; the last chunk
// Z_FINISH), so the pieces joined in order form one deflate stream that every reader
// inflates. The chunk size and the input alone decide the bytes: every thread count
// gives the same output. The CRC-32 of each chunk is computed with it and joined
// with crc32_combine.
//
// The calling thread reads, writes and fires every event (through TZWChunkIo);
// workers only deflate buffers in memory and touch the file system only through a
// job's loader (EntryAhead.h), for providers that allow reads on several threads. At most
// two chunks per worker are in flight, so memory stays bounded whatever the size of
// the source. A cancel, a failure or an exception stops the workers before the call
// returns: chunks not yet started are dropped, running ones are waited for.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zw {

// Deflate dictionary taken from the input in front of each chunk (deflate's window).
constexpr size_t kDeflateDictionarySize = 32768;

struct TZWChunkJob;

// Fills a job's input on the worker that takes it, before it is deflated (a small
// source read ahead by the worker itself).
class TZWJobLoader {
 public:
  virtual ~TZWJobLoader() = default;
  // True when the input is there to be deflated; false leaves the job undeflated.
  virtual bool Load(TZWChunkJob& job) = 0;
};

// One chunk's work and result; owned by the pool's ring of slots.
struct TZWChunkJob {
  std::vector<uint8_t> input;  // dictionary, then the chunk's data
  size_t dictionaryLength = 0;
  size_t length = 0;  // the chunk's data
  int level = 1;
  bool last = false;
  bool withCrc = true;
  std::vector<uint8_t> output;
  size_t outputLength = 0;
  uint32_t crc = 0;
  std::exception_ptr error;
  bool done = false;
  bool dropped = false;            // done without being deflated (DropQueuedAndWait)
  TZWJobLoader* loader = nullptr;  // when set, run on the worker first
  bool loaded = false;             // the loader filled the input
};

// Worker threads that deflate chunk jobs; one pool serves an archiver's entries in turn.
class TZWDeflatePool {
 public:
  // Starts `threads` workers (at least 1).
  explicit TZWDeflatePool(int threads);
  // Stops and joins the workers (jobs still queued are dropped).
  ~TZWDeflatePool();
  TZWDeflatePool(const TZWDeflatePool&) = delete;
  TZWDeflatePool& operator=(const TZWDeflatePool&) = delete;

  int Threads() const { return static_cast<int>(workers_.size()); }
  // The ring of job slots one entry cycles through (two per worker).
  std::vector<TZWChunkJob>& Slots() { return slots_; }

  // Queues `job`; without `wake` no idle worker is woken for it (WakeAll does, once
  // a run of jobs is queued).
  void Submit(TZWChunkJob& job, bool wake = true);
  void WakeAll();
  // Blocks until `job` is done (deflated, failed, or dropped by DropQueued).
  void Wait(TZWChunkJob& job);
  // Whether `job` is done, without waiting.
  bool IsDone(TZWChunkJob& job);
  // Drops the jobs no worker has started and waits for the running ones.
  void DropQueuedAndWait();

 private:
  void WorkerLoop();

  std::vector<TZWChunkJob> slots_;
  std::mutex mutex_;
  std::condition_variable workAvailable_;
  std::condition_variable jobDone_;
  std::deque<TZWChunkJob*> queue_;
  int running_ = 0;
  // What the calling thread waits for: one job, or every running job to end. Only one
  // thread waits at a time (the calling thread).
  TZWChunkJob* awaited_ = nullptr;
  bool awaitingIdle_ = false;
  bool stopping_ = false;
  std::vector<std::thread> workers_;
};

// The calling thread's side of one entry: called in chunk order.
class TZWChunkIo {
 public:
  virtual ~TZWChunkIo() = default;
  // Before the chunk that starts at `consumed` is read (progress); false: cancelled.
  virtual bool BeforeChunk(uint64_t consumed) = 0;
  // Fills `buffer` with the next `length` bytes of the source; false when it fell short.
  virtual bool Read(uint8_t* buffer, size_t length) = 0;
  // Writes one chunk's deflated bytes (may change them in place, e.g. to encrypt);
  // false when the destination took fewer.
  virtual bool Write(uint8_t* data, size_t length) = 0;
};

struct TZWChunkedOutcome {
  uint64_t consumed = 0;  // source bytes whose deflated form was written
  uint64_t written = 0;   // deflated bytes written
  uint32_t crc = 0;       // CRC-32 (zlib's form) of the consumed bytes, when asked for
  bool cancelled = false;
};

// Deflates `size` source bytes (more than one chunk) at `level` in chunks of
// `chunkSize`. Stops early when BeforeChunk cancels, Read falls short or Write does
// (consumed then short of size); exceptions of the io and of zlib (ECompressionError)
// pass to the caller after the workers stopped.
TZWChunkedOutcome DeflateChunked(TZWDeflatePool& pool, int level, uint32_t chunkSize, uint64_t size,
                                 bool withCrc, TZWChunkIo& io);

}  // namespace zw
