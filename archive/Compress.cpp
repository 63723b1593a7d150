#include "Compress.h"

#include <algorithm>
#include <cstring>

#include "ArchiverState.h"
#include "DirItem.h"
#include "EngineEvents.h"
#include "FileSystem.h"
#include "ParallelDeflate.h"
#include "Process.h"
#include "ZWCrypt.h"
#include "ZWExcept.h"
#include "ZWZlib.h"
#include "ZipRecords.h"

namespace zw {

int CompressionLevelToMode(TZWCompressionLevel level) {
  switch (level) {
    case clNone:
      return 0;
    case clFastest:
      return 1;
    case clNormal:
      return 6;
    case clMax:
      return 9;
  }
  return 1;
}

TZWCompressionLevel CompressionModeToLevel(int mode) {
  if (mode <= 0) return clNone;
  if (mode <= 3) return clFastest;
  if (mode <= 6) return clNormal;
  return clMax;
}

uint32_t CompressionBufferSize(int mode) {
  if (mode >= 1 && mode <= 3) return 524288;
  if (mode >= 7 && mode <= 9) return 1572864;
  return 1048576;
}

TZWCompressor::TZWCompressor() { std::memset(&stream_, 0, sizeof stream_); }

TZWCompressor::~TZWCompressor() { End(); }

void TZWCompressor::End() {
  if (initialised_) deflateEnd(&stream_);
  std::memset(&stream_, 0, sizeof stream_);
  initialised_ = false;
  running_ = false;
  level_ = -1;
}

z_stream& TZWCompressor::Start(int level) {
  // A stream of another level is made afresh: a reset then gives exactly the bytes a
  // new stream gives.
  if (initialised_ && level_ != level) End();
  if (initialised_) {
    CheckZlibResult(deflateReset(&stream_));
  } else {
    std::memset(&stream_, 0, sizeof stream_);
    // A raw stream: the entry data has neither the zlib header nor its Adler-32
    // trailer, so neither is computed. Memory level 8 is deflateInit's: same bytes.
    if (deflateInit2(&stream_, level, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
      std::memset(&stream_, 0, sizeof stream_);
      throw ECompressionError();
    }
    initialised_ = true;
    level_ = level;
  }
  running_ = false;
  return stream_;
}

void TZWCompressor::Release(bool check) {
  bool midway = running_;
  if (midway) End();  // a stream left in the middle is never reused
  if (check && midway) throw ECompressionError();
}

uint8_t* TZWCompressor::Input(size_t size) {
  if (input_.size() < size) input_.assign(size, 0);
  return input_.data();
}

uint8_t* TZWCompressor::Output(size_t size) {
  if (output_.size() < size) output_.resize(size);
  return output_.data();
}

namespace {

// Working values of one CompressEntry call.
struct EntryRun {
  const TZWCompressContext& context;
  TZWRunCounters& s;
  TStream& source;
  TStream& dest;
  TDirItem& item;
  int64_t size = 0;
  uint64_t consumed = 0;
  uint64_t compressed = 0;
  uint32_t crc = 0xFFFFFFFF;
  uint32_t bufferSize = 0;
  bool encrypting = false;
  bool deflating = false;
  TZipKeys keys;
  z_stream* zs = nullptr;
};

// Reads the whole source once for the CRC the encryption header needs, then writes
// the 12-byte header.
void WriteEncryptionHeader(EntryRun& r, uint8_t* input) {
  const TZWSeedSource& seedSource = r.context.services.seedSource;
  uint32_t seed = seedSource ? seedSource() : DefaultEncryptionSeed();
  while (static_cast<int64_t>(r.consumed) < r.size) {
    int64_t chunk = std::min<int64_t>(r.bufferSize, r.size - static_cast<int64_t>(r.consumed));
    if (r.source.Read(input, chunk) != chunk) break;
    r.crc = FastUpdateCrc32(input, chunk, r.crc);
    r.consumed += static_cast<uint64_t>(chunk);
  }
  r.source.SetPosition(0);
  r.compressed += 12;
  InitEncryptionKeys(r.item.Password, r.keys);
  uint8_t header[12];
  MakeEncryptionHeader(seed, r.crc ^ 0xFFFFFFFF, header);
  for (uint8_t& b : header) b = EncryptByte(b, r.keys);
  r.dest.WriteBuffer(header, 12);
  r.consumed = 0;
}

// Progress notifications of one chunk; false when a handler cancelled.
bool ReportProgress(EntryRun& r) {
  if (!r.s.progressOn) return true;
  double part = r.size > 0 ? static_cast<long double>(r.consumed) / r.size : 0.0;
  r.context.events.FileProgress(r.item.FileName, part * 100.0, r.item.Operation, ppProcess,
                                r.s.cancelled);
  if (r.s.cancelled) return false;
  double total = r.s.filesToProcess > 0 ? r.s.filesToProcess : 1;
  r.context.events.OverallProgress((part + r.s.filesProcessed) / total * 100.0, r.item.Operation,
                                   ppProcess, r.s.cancelled);
  return !r.s.cancelled;
}

// Deflates one chunk into the compressor's output buffer; returns the output length.
size_t DeflateChunk(EntryRun& r, TZWCompressor& c, uint8_t* input, size_t chunk, bool last) {
  size_t capacity = (chunk + chunk / 10 + 12 + 255) / 256 * 256;
  uint8_t* output = c.Output(capacity);
  r.zs->next_in = input;
  r.zs->avail_in = static_cast<uInt>(chunk);
  r.zs->next_out = output;
  r.zs->avail_out = static_cast<uInt>(capacity);
  uLong before = r.zs->total_out;
  c.MarkRunning();
  int flush = last ? Z_FINISH : Z_SYNC_FLUSH;
  CheckZlibResult(deflate(r.zs, flush));
  // The buffer is sized for the whole result; should it ever fill, grow it and let
  // deflate finish the chunk, so no output is left behind.
  while (r.zs->avail_out == 0) {
    size_t used = r.zs->total_out - before;
    capacity *= 2;
    output = c.Output(capacity);
    r.zs->next_out = output + used;
    r.zs->avail_out = static_cast<uInt>(capacity - used);
    if (CheckZlibResult(deflate(r.zs, flush)) == Z_STREAM_END) break;
  }
  if (last) c.MarkFinished();
  return static_cast<size_t>(r.zs->total_out - before);
}

// Runs the chunk loop; leaves r.consumed short of r.size when it stopped early.
void ChunkLoop(EntryRun& r, TZWCompressor& c) {
  uint8_t* input = c.Input(r.bufferSize);
  if (r.deflating) r.zs = &c.Start(r.item.CompressionMode);
  if (r.encrypting) WriteEncryptionHeader(r, input);
  while (static_cast<int64_t>(r.consumed) < r.size) {
    if (!ReportProgress(r)) break;
    size_t chunk = static_cast<size_t>(
        std::min<int64_t>(r.bufferSize, r.size - static_cast<int64_t>(r.consumed)));
    if (r.source.Read(input, static_cast<int64_t>(chunk)) != static_cast<int64_t>(chunk)) break;
    if (!r.encrypting) r.crc = FastUpdateCrc32(input, static_cast<int64_t>(chunk), r.crc);
    bool last = r.consumed + chunk == static_cast<uint64_t>(r.size);
    uint8_t* out = input;
    size_t length = chunk;
    if (r.deflating) {
      length = DeflateChunk(r, c, input, chunk, last);
      out = c.Output(0);
    }
    if (r.encrypting) EncryptBuffer(static_cast<int64_t>(length), 0, out, r.keys);
    r.consumed += chunk;
    if (r.dest.Write(out, static_cast<int64_t>(length)) != static_cast<int64_t>(length)) {
      r.consumed -= chunk;
      break;
    }
    r.compressed += length;
  }
}

// The calling thread's side of a chunked entry: progress, reading, encryption and
// writing, with the same events and checks as the single-stream loop.
class EntryChunkIo : public TZWChunkIo {
 public:
  explicit EntryChunkIo(EntryRun& r) : r_(r) {}
  bool BeforeChunk(uint64_t consumed) override {
    r_.consumed = consumed;  // what the progress events report
    return ReportProgress(r_);
  }
  bool Read(uint8_t* buffer, size_t length) override {
    return r_.source.Read(buffer, static_cast<int64_t>(length)) == static_cast<int64_t>(length);
  }
  bool Write(uint8_t* data, size_t length) override {
    if (r_.encrypting) EncryptBuffer(static_cast<int64_t>(length), 0, data, r_.keys);
    return r_.dest.Write(data, static_cast<int64_t>(length)) == static_cast<int64_t>(length);
  }

 private:
  EntryRun& r_;
};

// The chunks of one entry deflated on the archiver's workers (see ParallelDeflate.h).
void ChunkedLoop(EntryRun& r, TZWCompressor& c, TZWDeflatePool& pool) {
  if (r.encrypting) WriteEncryptionHeader(r, c.Input(r.bufferSize));
  EntryChunkIo io(r);
  TZWChunkedOutcome outcome = DeflateChunked(pool, r.item.CompressionMode, r.bufferSize,
                                             static_cast<uint64_t>(r.size), !r.encrypting, io);
  r.consumed = outcome.consumed;
  r.compressed += outcome.written;
  // The single-stream loop keeps the register inverted; zlib's value is the final form.
  if (!r.encrypting) r.crc = outcome.crc ^ 0xFFFFFFFF;
}

// Workers pay off for deflated entries of more than one chunk.
TZWDeflatePool* PoolFor(const EntryRun& r) {
  if (!r.deflating || r.item.CompressionMode == 0 || r.size <= r.bufferSize) return nullptr;
  return DeflatePoolOf(r.context.settings, r.context.services);
}

// An entry whose data was deflated ahead (EntryAhead.h): the same notification and
// checks as the single-chunk pass of ChunkLoop.
void WriteDeflatedAhead(EntryRun& r, const TZWChunkJob& job) {
  if (!ReportProgress(r)) return;
  int64_t length = static_cast<int64_t>(job.outputLength);
  if (r.dest.Write(job.output.data(), length) != length) return;
  r.crc = job.crc ^ 0xFFFFFFFF;  // the loop's register form
  r.consumed = static_cast<uint64_t>(r.size);
  r.compressed += job.outputLength;
}

void StoreResults(EntryRun& r, TZip64Mode zip64) {
  TDirItem& item = r.item;
  bool always = zip64 == zmAlways;
  if (r.compressed >= kAllOnes32 || always) {
    item.NeedsZip64 = true;
    item.CompressedSize = kAllOnes32;
    item.Zip64CompressedSize = r.compressed;
  } else {
    item.CompressedSize = static_cast<uint32_t>(r.compressed);
  }
  if (static_cast<uint64_t>(r.size) >= kAllOnes32 || always) {
    item.NeedsZip64 = true;
    item.UncompressedSize = kAllOnes32;
    item.Zip64UncompressedSize = static_cast<uint64_t>(r.size);
  } else {
    item.UncompressedSize = static_cast<uint32_t>(r.size);
  }
  item.Crc32 = r.crc ^ 0xFFFFFFFF;
  if (r.deflating) item.CompressionMethod = 8;  // the data is a deflate stream
  if (r.size == 0) item.CompressionMethod = 0;  // an empty entry is always stored
}

}  // namespace

TZWDeflatePool* DeflatePoolOf(const TZWSettings& settings, TZWServices& services) {
  int threads = settings.threads > 0 ? settings.threads : ProcessorCount();
  if (threads <= 1) return nullptr;
  if (!services.deflatePool || services.deflatePool->Threads() != threads)
    services.deflatePool = std::make_unique<TZWDeflatePool>(threads);
  return services.deflatePool.get();
}

bool CompressEntry(const TZWCompressContext& context, TStream& source, TStream& dest,
                   TDirItem& item, int64_t knownSize) {
  TZWServices& services = context.services;
  if (!services.compressor) services.compressor = std::make_unique<TZWCompressor>();
  TZWCompressor& compressor = *services.compressor;
  EntryRun r{context, context.run, source, dest, item};
  source.SetPosition(0);
  r.size = knownSize >= 0 ? knownSize : source.GetSize();
  r.bufferSize = CompressionBufferSize(item.CompressionMode);
  r.encrypting = !item.Password.empty();
  // The method decides the form of the data: method 8 always gets a deflate stream
  // (mode 0 then makes stored deflate blocks), so the bytes always match the header.
  r.deflating = item.CompressionMethod != 0 && r.size > 0;
  const TZWChunkJob* ahead = services.deflatedAhead;
  try {
    if (ahead && r.deflating && !r.encrypting && ahead->length == static_cast<uint64_t>(r.size))
      WriteDeflatedAhead(r, *ahead);
    else if (TZWDeflatePool* pool = PoolFor(r))
      ChunkedLoop(r, compressor, *pool);
    else
      ChunkLoop(r, compressor);
  } catch (...) {
    compressor.Release(false);
    throw;
  }
  bool complete = static_cast<int64_t>(r.consumed) == r.size;
  // A shortfall is this entry's failure (34), never a broken stream for the next one.
  compressor.Release(false);
  if (!complete) {
    if (context.run.cancelled) return false;
    throw EZWException(ecShortData,
                       {static_cast<long long>(r.size), static_cast<long long>(r.consumed)},
                       context.sender);
  }
  StoreResults(r, context.zip64);
  if (item.NeedsZip64 && context.zip64 == zmDisabled)
    throw EZWException(ecCompressZip64Disabled, {context.files.DisplayName(item.SourceFileName)},
                       context.sender);
  return true;
}

}  // namespace zw
