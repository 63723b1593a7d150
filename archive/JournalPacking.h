// Packing of the bytes a journal saves: independent chunks of at most kPackChunk raw
// bytes, each deflated on its own, so that a reader inflates only the chunk it needs.
//
// A chunk is deflated regrouped: the count of whole central headers it begins with
// (u32), their fixed parts column by column (byte k of every header, then byte k + 1),
// each local header offset as its distance from where the entry in front ended, then
// their names, extra fields and comments, then the chunk's other bytes. Neighbouring
// headers differ in a few bytes, which deflate finds far better in columns than in
// line. Any bytes can be packed: the headers are only those that parse.
//
// Unpacking trusts nothing: a chunk whose bytes do not inflate to exactly its raw
// length and CRC-32 is refused.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace zw {

// Largest raw length of a chunk.
constexpr uint32_t kPackChunk = 256 << 10;

// One chunk of packed saved bytes: where its bytes lie in the journal and what they
// inflate to.
struct TZWPackedChunk {
  int64_t rawAt = 0;     // position among the saved bytes
  int64_t packedAt = 0;  // position in the journal file
  uint32_t rawLength = 0, packedLength = 0, rawCrc = 0;
  bool regrouped = false;  // central headers regrouped before deflating
};

// Largest packed length a chunk can have.
uint32_t MaxPackedLength();

// How many of the `filled` bytes of `raw` (at most kPackChunk) the next chunk takes:
// up to the end of the last whole central header when they begin with one, so that
// every chunk begins with whole headers; all of them otherwise.
size_t NextChunkLength(const uint8_t* raw, size_t filled);

// Deflates chunks with one reused stream. Raises EStreamError when zlib fails.
class TZWChunkPacker {
 public:
  TZWChunkPacker();
  ~TZWChunkPacker();
  TZWChunkPacker(const TZWChunkPacker&) = delete;
  TZWChunkPacker& operator=(const TZWChunkPacker&) = delete;

  // Packs the `n` (1 to kPackChunk) bytes of `raw` regrouped; sets the chunk's raw
  // length, packed length, CRC-32 and `regrouped`. The packed bytes stay valid until
  // the next call.
  const uint8_t* Pack(const uint8_t* raw, size_t n, TZWPackedChunk& chunk);

 private:
  struct Stream;
  std::unique_ptr<Stream> z_;
  std::vector<uint8_t> regrouped_, packed_;
};

// The raw bytes of `chunk` from its `packed` bytes (chunk.packedLength of them).
// Raises EStreamError unless they give exactly the bytes the chunk names.
void UnpackChunk(const uint8_t* packed, const TZWPackedChunk& chunk, std::vector<uint8_t>& raw);

}  // namespace zw
