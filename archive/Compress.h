// The compression pipeline: one entry's data stored or deflated through zlib,
// optionally encrypted, with its CRC-32, sizes and Zip64 decision.
//
// The source is read in chunks of `CompressionBufferSize(mode)` bytes; each chunk is
// deflated with one zlib call (Z_SYNC_FLUSH, the last Z_FINISH) into a raw deflate
// stream (no zlib header, no Adler-32 trailer), which is what the archive holds, so
// every byte zlib produces is written. Memory stays bounded by the chunk buffers whatever the size
// of the source; the zlib stream and the buffers are kept by the archiver's services and reused for
// the next entry (the bytes written are the same as with a fresh stream).
#pragma once

#include <zlib.h>

#include <cstdint>
#include <vector>

#include "ZWTypes.h"

namespace zw {

class FileSystem;
class TComponent;
class TStream;
class TZWBaseArchiver;
class TZWDeflatePool;
class TZWProgressEvents;
struct TDirItem;
struct TZWRunCounters;
struct TZWServices;
struct TZWSettings;

int CompressionLevelToMode(TZWCompressionLevel level);
TZWCompressionLevel CompressionModeToLevel(int mode);
uint32_t CompressionBufferSize(int mode);

// A deflate stream and chunk buffers that live across entries.
class TZWCompressor {
 public:
  TZWCompressor();
  ~TZWCompressor();
  TZWCompressor(const TZWCompressor&) = delete;
  TZWCompressor& operator=(const TZWCompressor&) = delete;

  // A stream ready for a new entry at `level` (fresh, or reset and re-levelled).
  z_stream& Start(int level);
  // Releases the stream: with `check`, a stream left in the middle raises
  // ECompressionError. A finished stream is kept for the next entry.
  void Release(bool check);
  bool Running() const { return running_; }
  void MarkRunning() { running_ = true; }
  void MarkFinished() { running_ = false; }

  uint8_t* Input(size_t size);
  uint8_t* Output(size_t size);

 private:
  void End();
  z_stream stream_;
  bool initialised_ = false;
  bool running_ = false;  // deflate has run and not finished
  int level_ = -1;
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
};

// The deflate workers of `services` for the thread count of `settings` (made on first
// use); null when one thread is asked for, or the process may run on one processor only.
TZWDeflatePool* DeflatePoolOf(const TZWSettings& settings, TZWServices& services);
// The same for an archiver's parts (defined with the component, ZipWriter.cpp).
TZWDeflatePool* DeflatePoolOf(TZWBaseArchiver& archiver);

// What compressing an entry is handed instead of the archiver: the thread count of
// the settings, the run's counters (progress on, cancelled, files processed), the
// compressor, workers, seed and data deflated ahead of the services, the progress
// events, the file system (for names in messages), the Zip64 mode, and the component
// named in what it raises.
struct TZWCompressContext {
  const TZWSettings& settings;
  TZWRunCounters& run;
  TZWServices& services;
  TZWProgressEvents& events;
  FileSystem& files;
  TZip64Mode zip64;
  const TComponent* sender;
};

// Writes the entry's data for `item` from `source` (its whole size, from position 0)
// to `dest` at its position. True when the whole source was written; false when a
// progress handler cancelled (the item's header fields then stay as they were).
// The item's method decides the form of the data (0 stored, otherwise deflate at the
// item's mode). Updates CompressionMethod (8 for deflated data, 0 for an empty
// source), Crc32, sizes and the Zip64 values of `item`. Raises EZWException
// ecCompressZip64Disabled (needs Zip64 while it is disabled) or ecShortData (the source
// delivered fewer bytes than its size, or the destination took fewer). `knownSize`, when not
// negative, is the source's size as the caller measured it for the local header: the data then
// matches that header even if the file grows meanwhile. When the archiver holds the
// entry's data deflated ahead (EntryAhead.h) and it matches the source's size, those
// bytes are written instead of deflating again; with more than one thread, a source of
// more than one chunk is deflated on the workers (ParallelDeflate.h).
bool CompressEntry(const TZWCompressContext& context, TStream& source, TStream& dest,
                   TDirItem& item, int64_t knownSize = -1);
// The same with the parts and events of `archiver` (defined with the component, ZipWriter.cpp).
bool CompressEntry(TZWBaseArchiver& archiver, TStream& source, TStream& dest, TDirItem& item,
                   int64_t knownSize = -1);

}  // namespace zw
