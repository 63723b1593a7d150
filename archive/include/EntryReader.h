// Reading the data of the entries of an open archive.
//
// A TZWEntryReader reads one entry at a time from the archive its archiver holds open,
// a single file or a split or spanned set (other volumes are asked for through the
// archiver's volume events, as when the set was opened). For each entry it finds the
// local header at the position the directory gives, reads the data (stored or
// deflated, decrypting traditional ZIP encryption), hands the decoded bytes to a sink
// and checks them against the CRC-32 and the size the directory states. Entries with
// data descriptors and Zip64 values are read from the directory's values.
//
// Contract:
//   - Memory is bounded by fixed buffers whatever the sizes an entry states; the
//     decoder stops as soon as an entry yields more bytes than stated.
//   - What is wrong with one entry is that entry's outcome, never an exception: other
//     methods and AES or strong encryption are reported by name as unsupported, a
//     missing or wrong password as such, anything else as damage with a short reason
//     (hostile values included). Bytes handed to the sink before damage was found are
//     not taken back: the caller decides what to do with them.
//   - The password is the archiver's Password; when it is empty or does not fit an
//     entry, the archiver's password event is asked (once per entry, and no more
//     after it was cancelled). A password that fits becomes the archiver's Password.
//   - A cancelled request for a volume raises EZWException (ecVolumeRequestCancelled)
//     and ends the run; exceptions raised by the sink pass through as they are.
//   - The archiver must not be updated while a reader reads from it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zw {

class TZWBaseArchiver;
struct TZWEntryReadContext;

enum class TZWEntryOutcome { kOk, kUnsupported, kNoPassword, kBadPassword, kDamaged };

struct TZWEntryResult {
  TZWEntryOutcome Outcome = TZWEntryOutcome::kOk;
  std::string Reason;  // why it failed, e.g. "CRC-32 is 1A2B3C4D, stored 00000000"
  uint64_t Size = 0;   // bytes handed to the sink
  bool Ok() const { return Outcome == TZWEntryOutcome::kOk; }
};

// Receives the decoded bytes of an entry in order.
using TZWDataSink = std::function<void(const uint8_t* data, size_t size)>;

class TZWEntryReader {
 public:
  explicit TZWEntryReader(TZWBaseArchiver& archiver);
  // The same on the parts of an archiver (EntryReaderContext.h, for the engine).
  explicit TZWEntryReader(const TZWEntryReadContext& context);
  ~TZWEntryReader();
  TZWEntryReader(const TZWEntryReader&) = delete;
  TZWEntryReader& operator=(const TZWEntryReader&) = delete;

  // Reads entry `index` of the archiver's directory; `sink` may be empty (test only).
  TZWEntryResult Read(int32_t index, const TZWDataSink& sink);

  // The usual name of a compression method ("bzip2", "LZMA", ...; "method N" for
  // numbers without one).
  static std::string MethodName(uint16_t method);

 private:
  struct Impl;
  std::unique_ptr<Impl> d_;
};

}  // namespace zw
