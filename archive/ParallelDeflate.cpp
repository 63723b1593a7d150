#include "ParallelDeflate.h"

#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "ZWZlib.h"

namespace zw {

namespace {

// A worker's raw deflate stream, kept across chunks and re-made for another level.
class WorkerStream {
 public:
  WorkerStream() { std::memset(&zs_, 0, sizeof zs_); }
  ~WorkerStream() { End(); }
  WorkerStream(const WorkerStream&) = delete;
  WorkerStream& operator=(const WorkerStream&) = delete;

  z_stream& Start(int level) {
    if (initialised_ && level_ != level) End();
    if (initialised_) {
      CheckZlibResult(deflateReset(&zs_));
      return zs_;
    }
    // Raw data, memory level 8 as deflateInit: the same parameters as the
    // single-stream path, so only the chunk boundaries differ.
    if (deflateInit2(&zs_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      std::memset(&zs_, 0, sizeof zs_);
      throw ECompressionError();
    }
    initialised_ = true;
    level_ = level;
    return zs_;
  }

 private:
  void End() {
    if (initialised_) deflateEnd(&zs_);
    std::memset(&zs_, 0, sizeof zs_);
    initialised_ = false;
  }
  z_stream zs_;
  bool initialised_ = false;
  int level_ = -1;
};

void DeflateJob(WorkerStream& stream, TZWChunkJob& job) {
  z_stream& zs = stream.Start(job.level);
  if (job.dictionaryLength > 0)
    CheckZlibResult(
        deflateSetDictionary(&zs, job.input.data(), static_cast<uInt>(job.dictionaryLength)));
  uint8_t* data = job.input.data() + job.dictionaryLength;
  size_t capacity = deflateBound(&zs, static_cast<uLong>(job.length)) + 64;
  if (job.output.size() < capacity) job.output.resize(capacity);
  zs.next_in = data;
  zs.avail_in = static_cast<uInt>(job.length);
  zs.next_out = job.output.data();
  zs.avail_out = static_cast<uInt>(job.output.size());
  int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
  int result = CheckZlibResult(deflate(&zs, flush));
  // Should the bound ever be short, grow the buffer and let deflate finish the chunk.
  while (zs.avail_out == 0 && result != Z_STREAM_END) {
    size_t used = job.output.size();
    job.output.resize(used * 2);
    zs.next_out = job.output.data() + used;
    zs.avail_out = static_cast<uInt>(job.output.size() - used);
    result = CheckZlibResult(deflate(&zs, flush));
  }
  if (job.last && result != Z_STREAM_END) throw ECompressionError();
  job.outputLength = job.output.size() - zs.avail_out;
  job.crc = job.withCrc ? static_cast<uint32_t>(crc32(0L, data, static_cast<uInt>(job.length))) : 0;
}

}  // namespace

TZWDeflatePool::TZWDeflatePool(int threads) {
  int count = std::max(threads, 1);
  slots_.resize(static_cast<size_t>(count) * 2);
  workers_.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) workers_.emplace_back([this] { WorkerLoop(); });
}

TZWDeflatePool::~TZWDeflatePool() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    queue_.clear();
  }
  workAvailable_.notify_all();
  for (std::thread& t : workers_) t.join();
}

void TZWDeflatePool::WorkerLoop() {
  WorkerStream stream;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    workAvailable_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
    if (stopping_) return;
    TZWChunkJob* job = queue_.front();
    queue_.pop_front();
    ++running_;
    lock.unlock();
    try {
      if (job->loader) job->loaded = job->loader->Load(*job);
      if (!job->loader || job->loaded) DeflateJob(stream, *job);
    } catch (...) {
      job->error = std::current_exception();
    }
    lock.lock();
    --running_;
    job->done = true;
    // Only the job waited for (or the last running one) wakes the calling thread.
    if (awaited_ == job || (awaitingIdle_ && running_ == 0)) jobDone_.notify_all();
  }
}

void TZWDeflatePool::Submit(TZWChunkJob& job, bool wake) {
  job.done = false;
  job.dropped = false;
  job.loaded = false;
  job.error = nullptr;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(&job);
  }
  if (wake) workAvailable_.notify_one();
}

void TZWDeflatePool::WakeAll() { workAvailable_.notify_all(); }

void TZWDeflatePool::Wait(TZWChunkJob& job) {
  std::unique_lock<std::mutex> lock(mutex_);
  while (!job.done) {
    awaited_ = &job;
    jobDone_.wait(lock);
  }
  awaited_ = nullptr;
}

bool TZWDeflatePool::IsDone(TZWChunkJob& job) {
  std::lock_guard<std::mutex> lock(mutex_);
  return job.done;
}

void TZWDeflatePool::DropQueuedAndWait() {
  std::unique_lock<std::mutex> lock(mutex_);
  for (TZWChunkJob* job : queue_) job->done = job->dropped = true;
  queue_.clear();
  awaitingIdle_ = true;
  jobDone_.wait(lock, [this] { return running_ == 0; });
  awaitingIdle_ = false;
}

namespace {

// One entry's pass through the ring of slots: chunks are read and submitted ahead,
// written back in order.
class ChunkedRun {
 public:
  ChunkedRun(TZWDeflatePool& pool, int level, uint32_t chunkSize, uint64_t size, bool withCrc,
             TZWChunkIo& io)
      : pool_(pool),
        slots_(pool.Slots()),
        level_(level),
        chunkSize_(chunkSize),
        size_(size),
        chunks_((size + chunkSize - 1) / chunkSize),
        withCrc_(withCrc),
        io_(io) {}
  // Whatever ends the run, no worker touches the slots afterwards.
  ~ChunkedRun() {
    if (written_ < read_) pool_.DropQueuedAndWait();
  }
  ChunkedRun(const ChunkedRun&) = delete;
  ChunkedRun& operator=(const ChunkedRun&) = delete;

  TZWChunkedOutcome Run() {
    while (FillAhead() && written_ < read_) {
      if (!WriteNext()) break;
    }
    return outcome_;
  }

 private:
  TZWChunkJob& Slot(uint64_t chunk) { return slots_[chunk % slots_.size()]; }

  // Reads and submits chunks while slots are free; false when the run must stop now.
  bool FillAhead() {
    while (!stopReading_ && read_ < chunks_ && read_ - written_ < slots_.size()) {
      if (!io_.BeforeChunk(read_ * chunkSize_)) {
        outcome_.cancelled = true;
        return false;
      }
      if (!ReadChunk(Slot(read_))) {
        stopReading_ = true;  // the chunks before it are still written
        break;
      }
      pool_.Submit(Slot(read_));
      ++read_;
    }
    return true;
  }

  bool ReadChunk(TZWChunkJob& job) {
    uint64_t at = read_ * chunkSize_;
    job.length = static_cast<size_t>(std::min<uint64_t>(chunkSize_, size_ - at));
    job.level = level_;
    job.last = read_ + 1 == chunks_;
    job.withCrc = withCrc_;
    job.dictionaryLength = 0;
    size_t dictionary = read_ > 0 ? std::min(kDeflateDictionarySize, Slot(read_ - 1).length) : 0;
    if (job.input.size() < dictionary + job.length) job.input.resize(dictionary + job.length);
    if (dictionary > 0) {
      // The previous slot is reused only after this chunk is written: its data stands.
      const TZWChunkJob& previous = Slot(read_ - 1);
      const uint8_t* end = previous.input.data() + previous.dictionaryLength + previous.length;
      std::memcpy(job.input.data(), end - dictionary, dictionary);
      job.dictionaryLength = dictionary;
    }
    return io_.Read(job.input.data() + dictionary, job.length);
  }

  bool WriteNext() {
    TZWChunkJob& job = Slot(written_);
    pool_.Wait(job);
    if (job.error) std::rethrow_exception(job.error);
    if (!io_.Write(job.output.data(), job.outputLength)) return false;
    if (withCrc_)
      outcome_.crc = static_cast<uint32_t>(
          crc32_combine(outcome_.crc, job.crc, static_cast<z_off_t>(job.length)));
    outcome_.consumed += job.length;
    outcome_.written += job.outputLength;
    ++written_;
    return true;
  }

  TZWDeflatePool& pool_;
  std::vector<TZWChunkJob>& slots_;
  int level_;
  uint64_t chunkSize_;
  uint64_t size_;
  uint64_t chunks_;
  bool withCrc_;
  TZWChunkIo& io_;
  uint64_t read_ = 0;     // chunks read and submitted
  uint64_t written_ = 0;  // chunks written
  bool stopReading_ = false;
  TZWChunkedOutcome outcome_;
};

}  // namespace

TZWChunkedOutcome DeflateChunked(TZWDeflatePool& pool, int level, uint32_t chunkSize, uint64_t size,
                                 bool withCrc, TZWChunkIo& io) {
  ChunkedRun run(pool, level, chunkSize, size, withCrc, io);
  return run.Run();
}

}  // namespace zw
