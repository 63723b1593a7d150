#include "EntryReader.h"

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "ArchiverState.h"
#include "DirManager.h"
#include "EngineEvents.h"
#include "EntryReaderContext.h"
#include "Streams.h"
#include "Volumes.h"
#include "ZWCrypt.h"
#include "ZWExcept.h"
#include "ZWZlib.h"
#include "ZipRecords.h"

namespace zw {

namespace {

constexpr size_t kChunk = 256 * 1024;
constexpr size_t kEncryptionHeaderSize = 12;
constexpr uint16_t kFlagStrongEncryption = 0x0040;
constexpr uint16_t kMethodAes = 99;

// What is wrong with the entry being read; caught in Read and made its outcome.
struct EntryFailure {
  TZWEntryOutcome outcome;
  std::string reason;
};

[[noreturn]] void Damaged(std::string reason) {
  throw EntryFailure{TZWEntryOutcome::kDamaged, std::move(reason)};
}

std::string Hex32(uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%08X", value);
  return text;
}

// The traditional ZIP cipher, decrypting; the same key schedule as ZWCrypt's, kept
// inline here as it runs once per byte of every encrypted entry.
class Decryptor {
 public:
  explicit Decryptor(const std::string& password) {
    for (char c : password) Update(static_cast<uint8_t>(c));
  }
  void Decrypt(uint8_t* data, size_t n) {
    for (size_t i = 0; i < n; ++i) {
      uint32_t t = (k2_ | 2) & 0xFFFF;
      data[i] ^= static_cast<uint8_t>((t * (t ^ 1)) >> 8);
      Update(data[i]);
    }
  }

 private:
  static uint32_t Step(uint32_t crc, uint8_t b) { return kCrcTable[(crc ^ b) & 0xFF] ^ (crc >> 8); }
  void Update(uint8_t plain) {
    k0_ = Step(k0_, plain);
    k1_ = (k1_ + (k0_ & 0xFF)) * 134775813u + 1;
    k2_ = Step(k2_, static_cast<uint8_t>(k1_ >> 24));
  }
  uint32_t k0_ = 0x12345678, k1_ = 0x23456789, k2_ = 0x34567890;
};

}  // namespace

// Reads bytes of the archive from a volume and position on, moving on to the next
// volume of a set where one ends.
class VolumeInput {
 public:
  explicit VolumeInput(const TZWVolumeContext& volumes) : v_(volumes), s_(volumes.session) {}

  void Start(uint32_t volume, uint64_t position) {
    if (Multi() && static_cast<int64_t>(volume) > LastVolume())
      Damaged("its volume " + std::to_string(volume + 1) + " is not part of the set");
    if (!Multi() && volume != 0 && volume != kAllOnes16)
      Damaged("it names volume " + std::to_string(volume + 1) + " of a single-file archive");
    Switch(Multi() ? static_cast<int32_t>(volume) : s_.currentVolume.VolumeNumber);
    position_ = static_cast<int64_t>(std::min<uint64_t>(position, INT64_MAX / 2));
  }

  void Read(uint8_t* out, size_t n) {
    while (n > 0) {
      if (position_ >= size_) NextVolume();
      size_t take =
          static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(n), size_ - position_));
      Stream().SetPosition(position_);
      Stream().ReadBuffer(out, static_cast<int64_t>(take));
      position_ += static_cast<int64_t>(take);
      out += take;
      n -= take;
    }
  }

  void Skip(uint64_t n) {
    while (n > 0) {
      if (position_ >= size_) NextVolume();
      int64_t take =
          static_cast<int64_t>(std::min<uint64_t>(n, static_cast<uint64_t>(size_ - position_)));
      position_ += take;
      n -= static_cast<uint64_t>(take);
    }
  }

 private:
  bool Multi() const { return v_.settings.spanningMode != smNone; }
  TStream& Stream() { return *s_.archiveStream; }
  int64_t LastVolume() const {
    const TZWDirManager& dm = *s_.dirManager;
    return dm.HasZip64 ? static_cast<int64_t>(dm.Zip64Locator.TotalDisks) - 1
                       : dm.EndRecord.NumberOfThisDisk;
  }
  void NextVolume() {
    if (!Multi() || volume_ >= LastVolume()) Damaged("its data runs past the end of the archive");
    Switch(volume_ + 1);
    position_ = 0;
  }
  void Switch(int32_t number) {
    if (Multi() && number != s_.currentVolume.VolumeNumber) {
      TZWVolumeNumberInfo volume;
      volume.LastVolumeNumber = static_cast<int32_t>(LastVolume());
      if (number == volume.LastVolumeNumber)
        volume.SetLast(true);
      else
        volume.SetVolumeNumber(number);
      OpenVolume(v_, volume);
    }
    volume_ = number;
    size_ = Stream().GetSize();
  }

  TZWVolumeContext v_;
  TZWSession& s_;
  int32_t volume_ = -1;
  int64_t position_ = 0;
  int64_t size_ = 0;
};

struct TZWEntryReader::Impl {
  explicit Impl(const TZWEntryReadContext& context)
      : c(context),
        input({context.settings, context.session, context.files, context.volumeRequests,
               context.sender}) {}

  TZWEntryReadContext c;
  VolumeInput input;
  std::vector<uint8_t> in = std::vector<uint8_t>(kChunk);
  std::vector<uint8_t> out = std::vector<uint8_t>(kChunk);
  z_stream zs{};
  bool zsOpen = false;
  bool passwordDeclined = false;

  ~Impl() {
    if (zsOpen) inflateEnd(&zs);
  }

  TZWEntryResult ReadEntry(const TDirItem& item, const TZWDataSink& sink);
  void CheckSupported(const TDirItem& item);
  void SkipLocalHeader(const TDirItem& item);
  std::unique_ptr<Decryptor> StartDecryption(const TDirItem& item);
  bool HeaderFits(const std::string& password, const uint8_t header[12], const TDirItem& item);
  uint64_t CopyStored(uint64_t compressed, Decryptor* cipher, const TDirItem& item,
                      const TZWDataSink& sink, uint32_t& crc);
  uint64_t Inflate(uint64_t compressed, Decryptor* cipher, const TDirItem& item,
                   const TZWDataSink& sink, uint32_t& crc);
  size_t ReadCompressed(uint64_t& left, Decryptor* cipher);
};

TZWEntryReader::TZWEntryReader(const TZWEntryReadContext& context)
    : d_(std::make_unique<Impl>(context)) {}

TZWEntryReader::~TZWEntryReader() = default;

std::string TZWEntryReader::MethodName(uint16_t method) {
  switch (method) {
    case 0:
      return "stored";
    case 1:
      return "Shrink";
    case 2:
    case 3:
    case 4:
    case 5:
      return "Reduce";
    case 6:
      return "Implode";
    case 8:
      return "deflate";
    case 9:
      return "Deflate64";
    case 10:
      return "PKWARE DCL Implode";
    case 12:
      return "bzip2";
    case 14:
      return "LZMA";
    case 16:
      return "IBM z/OS CMPSC";
    case 18:
      return "IBM TERSE";
    case 19:
      return "IBM LZ77";
    case 20:
    case 93:
      return "Zstandard";
    case 94:
      return "MP3";
    case 95:
      return "XZ";
    case 96:
      return "JPEG";
    case 97:
      return "WavPack";
    case 98:
      return "PPMd";
    case 99:
      return "AES";
    default:
      return "method " + std::to_string(method);
  }
}

TZWEntryResult TZWEntryReader::Read(int32_t index, const TZWDataSink& sink) {
  TZWSession& s = d_->c.session;
  if (!s.dirManager) throw EZWException(ecArchiveNotOpen, d_->c.sender);
  const TDirItem& item = s.dirManager->WorkingDirectory.ItemPtr(index);
  try {
    return d_->ReadEntry(item, sink);
  } catch (const EntryFailure& failure) {
    TZWEntryResult result;
    result.Outcome = failure.outcome;
    result.Reason = failure.reason;
    return result;
  } catch (const EStreamError& e) {
    TZWEntryResult result;
    result.Outcome = TZWEntryOutcome::kDamaged;
    result.Reason = std::string("reading it failed: ") + e.what();
    return result;
  }
}

void TZWEntryReader::Impl::CheckSupported(const TDirItem& item) {
  auto unsupported = [](std::string what) {
    throw EntryFailure{TZWEntryOutcome::kUnsupported, std::move(what) + " is not supported"};
  };
  if (item.CompressionMethod == kMethodAes) unsupported("AES encryption");
  if ((item.Flags & kFlagEncrypted) && (item.Flags & kFlagStrongEncryption))
    unsupported("strong encryption");
  if (item.CompressionMethod != kMethodStored && item.CompressionMethod != kMethodDeflated)
    unsupported("compression method " + TZWEntryReader::MethodName(item.CompressionMethod));
}

// Checks the local header at the entry's position and moves past its name and extra
// field to the data.
void TZWEntryReader::Impl::SkipLocalHeader(const TDirItem& item) {
  input.Start(item.RealDiskNumberStart(), item.RealLocalHeaderOffset());
  uint8_t raw[TLocalFileHeader::kSize];
  try {
    input.Read(raw, sizeof raw);
  } catch (const EReadError&) {
    Damaged("its local header lies outside the archive");
  }
  TLocalFileHeader h = TLocalFileHeader::Decode(raw);
  if (h.Signature != kLocalHeaderSignature) Damaged("no local header at its position");
  // Another method or encryption state would decode the data as something else.
  if (h.CompressionMethod != item.CompressionMethod ||
      (h.Flags & kFlagEncrypted) != (item.Flags & kFlagEncrypted))
    Damaged("its local header disagrees with the directory");
  input.Skip(uint64_t{h.FileNameLength} + h.ExtraFieldLength);
}

bool TZWEntryReader::Impl::HeaderFits(const std::string& password, const uint8_t header[12],
                                      const TDirItem& item) {
  uint8_t copy[kEncryptionHeaderSize];
  std::copy(header, header + kEncryptionHeaderSize, copy);
  Decryptor cipher(password);
  cipher.Decrypt(copy, sizeof copy);
  // Writers that put the CRC into a data descriptor check against the time instead.
  uint8_t check = copy[11];
  return check == static_cast<uint8_t>(item.Crc32 >> 24) ||
         ((item.Flags & kFlagDataDescriptor) &&
          check == static_cast<uint8_t>(item.LastModTime >> 8));
}

std::unique_ptr<Decryptor> TZWEntryReader::Impl::StartDecryption(const TDirItem& item) {
  if (item.RealCompressedSize() < kEncryptionHeaderSize) Damaged("its encryption header is cut");
  uint8_t header[kEncryptionHeaderSize];
  input.Read(header, sizeof header);
  std::string password = c.settings.password;
  bool fits = !password.empty() && HeaderFits(password, header, item);
  if (!fits && !passwordDeclined) {
    std::string answer;
    bool skip = false;
    c.passwords.Password(item.FileName, answer, skip);
    passwordDeclined = skip || answer.empty();
    if (!passwordDeclined) {
      password = answer;
      fits = HeaderFits(password, header, item);
      if (fits) c.settings.password = password;
    }
  }
  if (!fits) {
    if (password.empty())
      throw EntryFailure{TZWEntryOutcome::kNoPassword, "it is encrypted and no password was given"};
    throw EntryFailure{TZWEntryOutcome::kBadPassword, "wrong password"};
  }
  auto cipher = std::make_unique<Decryptor>(password);
  cipher->Decrypt(header, sizeof header);
  return cipher;
}

size_t TZWEntryReader::Impl::ReadCompressed(uint64_t& left, Decryptor* cipher) {
  size_t n = static_cast<size_t>(std::min<uint64_t>(left, in.size()));
  input.Read(in.data(), n);
  if (cipher) cipher->Decrypt(in.data(), n);
  left -= n;
  return n;
}

uint64_t TZWEntryReader::Impl::CopyStored(uint64_t compressed, Decryptor* cipher,
                                          const TDirItem& item, const TZWDataSink& sink,
                                          uint32_t& crc) {
  if (compressed != item.RealUncompressedSize())
    Damaged("stored data of " + std::to_string(compressed) + " bytes for a size of " +
            std::to_string(item.RealUncompressedSize()));
  for (uint64_t left = compressed; left > 0;) {
    size_t n = ReadCompressed(left, cipher);
    crc = static_cast<uint32_t>(crc32(crc, in.data(), static_cast<uInt>(n)));
    if (sink) sink(in.data(), n);
  }
  return compressed;
}

uint64_t TZWEntryReader::Impl::Inflate(uint64_t compressed, Decryptor* cipher, const TDirItem& item,
                                       const TZWDataSink& sink, uint32_t& crc) {
  if (!zsOpen) {
    CheckZlibResult(inflateInit2(&zs, -MAX_WBITS));
    zsOpen = true;
  } else {
    CheckZlibResult(inflateReset(&zs));
  }
  zs.avail_in = 0;
  uint64_t expected = item.RealUncompressedSize();
  uint64_t produced = 0;
  for (int result = Z_OK; result != Z_STREAM_END;) {
    if (zs.avail_in == 0) {
      if (compressed == 0) Damaged("its compressed data ends early");
      zs.avail_in = static_cast<uInt>(ReadCompressed(compressed, cipher));
      zs.next_in = in.data();
    }
    zs.next_out = out.data();
    zs.avail_out = static_cast<uInt>(out.size());
    result = inflate(&zs, Z_NO_FLUSH);
    if (result == Z_DATA_ERROR || result == Z_NEED_DICT)
      Damaged(std::string("its compressed data is invalid (") + (zs.msg ? zs.msg : "zlib") + ")");
    if (result == Z_MEM_ERROR) CheckZlibResult(result);
    size_t n = out.size() - zs.avail_out;
    produced += n;
    // Checked before the sink sees the bytes: a hostile entry never writes more than
    // the size it states.
    if (produced > expected)
      Damaged("it holds more than the " + std::to_string(expected) + " bytes stated");
    crc = static_cast<uint32_t>(crc32(crc, out.data(), static_cast<uInt>(n)));
    if (sink && n > 0) sink(out.data(), n);
  }
  return produced;
}

TZWEntryResult TZWEntryReader::Impl::ReadEntry(const TDirItem& item, const TZWDataSink& sink) {
  CheckSupported(item);
  SkipLocalHeader(item);
  uint64_t compressed = item.RealCompressedSize();
  std::unique_ptr<Decryptor> cipher;
  if (item.Flags & kFlagEncrypted) {
    cipher = StartDecryption(item);
    compressed -= kEncryptionHeaderSize;
  }
  uint32_t crc = static_cast<uint32_t>(crc32(0, nullptr, 0));
  TZWEntryResult result;
  result.Size = item.CompressionMethod == kMethodStored
                    ? CopyStored(compressed, cipher.get(), item, sink, crc)
                    : Inflate(compressed, cipher.get(), item, sink, crc);
  if (result.Size != item.RealUncompressedSize())
    Damaged("it holds " + std::to_string(result.Size) + " bytes, the directory says " +
            std::to_string(item.RealUncompressedSize()));
  if (crc != item.Crc32) Damaged("CRC-32 is " + Hex32(crc) + ", stored " + Hex32(item.Crc32));
  return result;
}

}  // namespace zw
