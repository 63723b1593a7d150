// Reading and writing the central directory: end-record search, Zip64 records,
// leading data, the local-header scan, hostile inputs, and the directory as written.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <functional>

#include "ArchiverState.h"
#include "Corpus.h"
#include "DirManager.h"
#include "StorageSupport.h"
#include "Streams.h"
#include "TempDir.h"
#include "ZWExcept.h"
#include "ZipRecords.h"

namespace zw::test {
namespace {

void Put16(std::string& s, uint16_t v) {
  s += static_cast<char>(v);
  s += static_cast<char>(v >> 8);
}
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>(v >> (8 * i));
}
void Put64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s += static_cast<char>(v >> (8 * i));
}

struct Entry {
  std::string name;
  std::string data;
  bool descriptor = false;      // bit 3, sizes after the data
  bool wideDescriptor = false;  // the 24-byte Zip64 form
  std::string centralExtra;     // raw central extra field
  std::string comment;
  uint32_t attributes = 0x20;
  uint16_t flags = 0;
  uint16_t method = 0;  // 8: `data` goes in deflated
};

std::string Deflated(const std::string& data) {
  z_stream zs{};
  EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&zs, static_cast<uLong>(data.size())), '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

struct Layout {
  std::string prefix;  // leading data
  bool offsetsIncludePrefix = false;
  std::string comment;
  std::string trailing;       // bytes after the comment, not counted by it
  bool zip64Records = false;  // Zip64 end record and locator before the end record
  bool locatorIncludesPrefix = true;
  std::vector<size_t> centralOrder;  // default: file order
};

struct Built {
  std::string bytes;
  size_t directoryStart = 0;
  size_t endRecord = 0;
};

Built Build(const std::vector<Entry>& entries, const Layout& layout = {}) {
  Built b;
  b.bytes = layout.prefix;
  std::vector<uint32_t> offsets;
  for (const Entry& e : entries) {
    offsets.push_back(static_cast<uint32_t>(
        b.bytes.size() - (layout.offsetsIncludePrefix ? 0 : layout.prefix.size())));
    uint32_t crc = ReferenceCrc32(e.data);
    std::string body = e.method == 8 ? Deflated(e.data) : e.data;
    uint16_t flags = static_cast<uint16_t>(e.flags | (e.descriptor ? 8 : 0));
    Put32(b.bytes, kLocalHeaderSignature);
    Put16(b.bytes, 20);
    Put16(b.bytes, flags);
    Put16(b.bytes, e.method);
    Put16(b.bytes, 0x1234);
    Put16(b.bytes, 0x5678);
    Put32(b.bytes, e.descriptor ? 0 : crc);
    Put32(b.bytes, e.descriptor ? 0 : static_cast<uint32_t>(body.size()));
    Put32(b.bytes, e.descriptor ? 0 : static_cast<uint32_t>(e.data.size()));
    Put16(b.bytes, static_cast<uint16_t>(e.name.size()));
    Put16(b.bytes, 0);
    b.bytes += e.name + body;
    if (e.descriptor) {
      Put32(b.bytes, kDataDescriptorSignature);
      Put32(b.bytes, crc);
      if (e.wideDescriptor) {
        Put64(b.bytes, body.size());
        Put64(b.bytes, e.data.size());
      } else {
        Put32(b.bytes, static_cast<uint32_t>(body.size()));
        Put32(b.bytes, static_cast<uint32_t>(e.data.size()));
      }
    }
  }
  b.directoryStart = b.bytes.size();
  std::vector<size_t> order = layout.centralOrder;
  if (order.empty())
    for (size_t i = 0; i < entries.size(); ++i) order.push_back(i);
  for (size_t i : order) {
    const Entry& e = entries[i];
    Put32(b.bytes, kCentralHeaderSignature);
    Put16(b.bytes, 20);
    Put16(b.bytes, 20);
    Put16(b.bytes, static_cast<uint16_t>(e.flags | (e.descriptor ? 8 : 0)));
    Put16(b.bytes, e.method);
    Put16(b.bytes, 0x1234);
    Put16(b.bytes, 0x5678);
    Put32(b.bytes, ReferenceCrc32(e.data));
    Put32(b.bytes, static_cast<uint32_t>(e.method == 8 ? Deflated(e.data).size() : e.data.size()));
    Put32(b.bytes, static_cast<uint32_t>(e.data.size()));
    Put16(b.bytes, static_cast<uint16_t>(e.name.size()));
    Put16(b.bytes, static_cast<uint16_t>(e.centralExtra.size()));
    Put16(b.bytes, static_cast<uint16_t>(e.comment.size()));
    Put16(b.bytes, 0);
    Put16(b.bytes, 0);
    Put32(b.bytes, e.attributes);
    Put32(b.bytes, offsets[i]);
    b.bytes += e.name + e.centralExtra + e.comment;
  }
  size_t dirSize = b.bytes.size() - b.directoryStart;
  uint32_t dirOffset = static_cast<uint32_t>(
      b.directoryStart - (layout.offsetsIncludePrefix ? 0 : layout.prefix.size()));
  if (layout.zip64Records) {
    size_t record = b.bytes.size();
    Put32(b.bytes, kZip64EndRecordSignature);
    Put64(b.bytes, 44);
    Put16(b.bytes, 45);
    Put16(b.bytes, 45);
    Put32(b.bytes, 0);
    Put32(b.bytes, 0);
    Put64(b.bytes, entries.size());
    Put64(b.bytes, entries.size());
    Put64(b.bytes, dirSize);
    Put64(b.bytes, dirOffset);
    Put32(b.bytes, kZip64LocatorSignature);
    Put32(b.bytes, 0);
    Put64(b.bytes, record - (layout.locatorIncludesPrefix ? 0 : layout.prefix.size()));
    Put32(b.bytes, 1);
  }
  b.endRecord = b.bytes.size();
  Put32(b.bytes, kEndRecordSignature);
  Put16(b.bytes, 0);
  Put16(b.bytes, 0);
  Put16(b.bytes, layout.zip64Records ? 0xFFFF : static_cast<uint16_t>(entries.size()));
  Put16(b.bytes, layout.zip64Records ? 0xFFFF : static_cast<uint16_t>(entries.size()));
  Put32(b.bytes, static_cast<uint32_t>(dirSize));
  Put32(b.bytes, layout.zip64Records ? kAllOnes32 : dirOffset);
  Put16(b.bytes, static_cast<uint16_t>(layout.comment.size()));
  b.bytes += layout.comment + layout.trailing;
  return b;
}

std::vector<Entry> TwoEntries() {
  Entry a{"a.txt", "alpha"};
  Entry d{"dir/", ""};
  d.attributes = 0x10;
  Entry b{"b.txt", "bravo bravo"};
  return {a, d, b};
}

void SetU16(std::string& s, size_t at, uint16_t v) {
  s[at] = static_cast<char>(v);
  s[at + 1] = static_cast<char>(v >> 8);
}
void SetU32(std::string& s, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) s[at + i] = static_cast<char>(v >> (8 * i));
}

// The local records of `entries` without any directory after them.
std::string Records(const std::vector<Entry>& entries) {
  Built b = Build(entries);
  return b.bytes.substr(0, b.directoryStart);
}

// A local header as our writer leaves it until the entry's data is complete (CRC all
// ones, compressed size 0; a Zip64 block still zero), then what was written of the data.
std::string TornRecord(const std::string& name, const std::string& written, uint32_t size,
                       uint16_t flags = 0, uint16_t method = 8, bool wide = false) {
  std::string r;
  Put32(r, kLocalHeaderSignature);
  Put16(r, wide ? 45 : 20);
  Put16(r, flags);
  Put16(r, method);
  Put16(r, 0x1234);
  Put16(r, 0x5678);
  Put32(r, kAllOnes32);
  Put32(r, 0);
  Put32(r, wide ? kAllOnes32 : size);
  Put16(r, static_cast<uint16_t>(name.size()));
  Put16(r, wide ? 20 : 0);
  return r + name + std::string(wide ? 20 : 0, '\0') + written;
}

// What a local-header scan of `bytes` took, and how many entries it left out as the
// manager and its archiver report it.
struct ScanOutcome {
  std::vector<std::string> names;
  int32_t dropped = -1;
  int32_t reported = -1;  // LastOpenDroppedEntries
  int native = 0;
};

ScanOutcome Scan(const std::string& bytes) {
  ScanOutcome out;
  TZipWriter zip;
  ArchiverAccess::S(zip).lastOpenDropped = -1;  // must be set by the reading
  TReadOnlyMemoryStream stream(bytes.data(), static_cast<int64_t>(bytes.size()));
  TZWDirManager manager(&stream, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(),
                        false);
  try {
    manager.ReadDirectory();
  } catch (const EZWException& e) {
    out.native = e.NativeError();
  }
  for (int32_t i = 0; i < manager.WorkingDirectory.Count(); ++i)
    out.names.push_back(manager.WorkingDirectory.ItemPtr(i).FileName);
  out.dropped = manager.DroppedEntries;
  out.reported = zip.LastOpenDroppedEntries();
  return out;
}

std::string Flipped(std::string bytes, size_t at) {
  bytes[at] = static_cast<char>(bytes[at] ^ 0x55);
  return bytes;
}

TEST(ReadDirectory, PlainArchive) {
  Built b = Build(TwoEntries(), {.comment = "the comment"});
  DirectoryRead r = ReadDirectoryOf(b.bytes);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.items.size(), 3u);
  EXPECT_EQ(r.items[2].FileName, "b.txt");
  EXPECT_EQ(r.items[2].Crc32, ReferenceCrc32("bravo bravo"));
  EXPECT_EQ(r.comment, "the comment");
  EXPECT_EQ(r.startOffset, 0u);
  EXPECT_EQ(r.directoryStart, static_cast<int64_t>(b.directoryStart));
}

TEST(ReadDirectory, EndRecordSearch) {
  struct Case {
    const char* what;
    Layout layout;
    bool viaEndRecord;
    std::string comment;
  } cases[] = {
      {"comment holding an end record signature",
       {.comment = std::string("PK\x05\x06", 4) + std::string(30, 'x')},
       true,
       std::string("PK\x05\x06", 4) + std::string(30, 'x')},
      {"comment of 65535 bytes",
       {.comment = std::string(65535, 'c')},
       true,
       std::string(65535, 'c')},
      {"comment cut at a zero byte", {.comment = std::string("ab\0cd", 5)}, true, "ab"},
      {"trailing bytes after the record", {.trailing = "junk"}, false, ""},
      {"one trailing byte after the comment", {.comment = "c", .trailing = "j"}, false, ""},
  };
  for (const Case& c : cases) {
    DirectoryRead r = ReadDirectoryOf(Build(TwoEntries(), c.layout).bytes);
    ASSERT_TRUE(r.ok) << c.what << ": " << r.error;
    EXPECT_EQ(r.items.size(), 3u) << c.what;
    EXPECT_EQ(r.directoryStart >= 0, c.viaEndRecord) << c.what;  // else local headers
    EXPECT_EQ(r.comment, c.comment) << c.what;
  }
}

TEST(ReadDirectory, EmptyAndNothing) {
  Built empty = Build({});
  ASSERT_EQ(empty.bytes.size(), 22u);
  DirectoryRead r = ReadDirectoryOf(empty.bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_TRUE(r.items.empty());
  EXPECT_EQ(r.startOffset, 0u);
  // A stub followed by an empty directory: everything in front of the end record is
  // leading data.
  r = ReadDirectoryOf(Build({}, {.prefix = "stub!"}).bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.startOffset, 5u);
  for (std::string nothing :
       {std::string(), std::string("not an archive at all"), std::string("PK\x03\x04", 4)}) {
    r = ReadDirectoryOf(nothing);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.native, 35) << nothing;
  }
}

TEST(ReadDirectory, LeadingDataIsFoundFromTheFirstLocalHeader) {
  std::string stub(300, 's');
  // Offsets that leave out the stub are moved by its size, directory entries too
  // (their local headers are copied like any other).
  Built unadjusted = Build(TwoEntries(), {.prefix = stub});
  DirectoryRead r = ReadDirectoryOf(unadjusted.bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.startOffset, 300u);
  EXPECT_EQ(r.items[0].RealLocalHeaderOffset(), 300u);
  EXPECT_EQ(r.items[1].RealLocalHeaderOffset(), 300u + 40);
  EXPECT_EQ(r.items[1].ExternalAttributes, 0x10u);
  // Offsets that include it stay.
  r = ReadDirectoryOf(Build(TwoEntries(), {.prefix = stub, .offsetsIncludePrefix = true}).bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.startOffset, 300u);
  EXPECT_EQ(r.items[0].RealLocalHeaderOffset(), 300u);
  EXPECT_EQ(r.items[1].RealLocalHeaderOffset(), 340u);
  // Central order unlike file order, first entry empty, no stub: nothing is moved.
  std::vector<Entry> entries = {{"data.bin", "0123456789"}, {"empty", ""}};
  r = ReadDirectoryOf(Build(entries, {.centralOrder = {1, 0}}).bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.items[0].FileName, "empty");
  EXPECT_EQ(r.items[0].RealLocalHeaderOffset(), 48u);
  EXPECT_EQ(r.items[1].RealLocalHeaderOffset(), 0u);
  EXPECT_EQ(r.startOffset, 0u);
}

TEST(ReadDirectory, Zip64EndRecords) {
  // Found where the locator points, or directly before the locator when its offset
  // leaves out a stub; a locator whose record is nowhere is refused.
  DirectoryRead r = ReadDirectoryOf(Build(TwoEntries(), {.zip64Records = true}).bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.hasZip64);
  EXPECT_EQ(r.items.size(), 3u);
  r = ReadDirectoryOf(
      Build(TwoEntries(),
            {.prefix = "MZstub", .zip64Records = true, .locatorIncludesPrefix = false})
          .bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.startOffset, 6u);
  EXPECT_EQ(r.items[2].RealLocalHeaderOffset(), 6u + 40 + 34);

  Built b = Build(TwoEntries(), {.zip64Records = true});
  std::string broken = b.bytes;
  broken[b.endRecord - 20 - 56] = 'X';  // the record's signature
  r = ReadDirectoryOf(broken);
  EXPECT_EQ(r.native, 40);
  std::string outside = b.bytes;
  SetU32(outside, b.endRecord - 12, 0xFFFFFF00);  // locator offset far outside
  SetU32(outside, b.endRecord - 12 + 4, 0x7FFFFFFF);
  outside[b.endRecord - 20 - 56] = 'X';
  EXPECT_EQ(ReadDirectoryOf(outside).native, 40);
  // A locator within the first bytes of the file cannot have a record before it.
  std::string tiny = "0123456789" + std::string("PK\x06\x07", 4) + std::string(16, '\0');
  std::string saturated = Build({}).bytes;
  SetU16(saturated, 10, kAllOnes16);
  EXPECT_EQ(ReadDirectoryOf(tiny + saturated).native, 40);
  // Bytes that only look like a locator, before an end record that needs no Zip64
  // value (a name or comment may end that way): not a locator.
  Entry e{"x", "data"};
  e.comment = std::string("PK\x06\x07", 4) + std::string(16, 'z');
  r = ReadDirectoryOf(Build({e}).bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_FALSE(r.hasZip64);
  EXPECT_EQ(r.items.size(), 1u);
  EXPECT_EQ(ReadDirectoryOf(tiny + Build({}).bytes).items.size(), 0u);
}

TEST(ReadDirectory, HostileDirectoriesFailCleanly) {
  Built b = Build(TwoEntries(), {.comment = "c"});
  size_t central = b.directoryStart;
  struct Case {
    const char* what;
    std::function<void(std::string&)> damage;
    int native;  // 0: reads, -1: stream read error
    size_t entries;
  } cases[] = {
      {"count far above the entries", [&](std::string& s) { SetU16(s, b.endRecord + 10, 65000); },
       0, 3},
      {"size beyond the file, offset right",
       [&](std::string& s) { SetU32(s, b.endRecord + 12, 0x7FFFFFF0); }, 0, 3},
      {"size and offset both wrong",
       [&](std::string& s) {
         SetU32(s, b.endRecord + 12, 0x7FFFFFF0);
         SetU32(s, b.endRecord + 16, 0x7FFFFFF0);
       },
       35, 0},
      {"name running past the end", [&](std::string& s) { SetU16(s, central + 28, 60000); }, -1, 0},
      {"comment running past the end", [&](std::string& s) { SetU16(s, central + 32, 0xFFFF); }, -1,
       0},
      {"extra running past the end", [&](std::string& s) { SetU16(s, central + 30, 0x8000); }, -1,
       0},
      {"second header signature broken", [&](std::string& s) { s[central + 46 + 5] = 'X'; }, 35, 0},
      {"size short, stored offset right",
       [&](std::string& s) {
         SetU32(s, b.endRecord + 12, static_cast<uint32_t>(b.endRecord - central - 10));
       },
       0, 3},
      // The directory ends where the end record begins, whatever the file holds after.
      {"last comment running into the end record",
       [&](std::string& s) { SetU16(s, b.endRecord - 46 - 5 + 32, 3); }, -1, 0},
  };
  for (const Case& c : cases) {
    std::string bytes = b.bytes;
    c.damage(bytes);
    DirectoryRead r = ReadDirectoryOf(bytes);
    if (c.native == 0) {
      EXPECT_TRUE(r.ok) << c.what << ": " << r.error;
      EXPECT_EQ(r.items.size(), c.entries) << c.what;
    } else {
      EXPECT_FALSE(r.ok) << c.what;
      if (c.native > 0) {
        EXPECT_EQ(r.native, c.native) << c.what << ": " << r.error;
      } else {
        EXPECT_EQ(r.error, "Stream read error") << c.what;
      }
    }
  }
}

TEST(ReadDirectory, ExtraFieldBlocks) {
  struct Case {
    const char* what;
    std::string extra;
    std::vector<std::pair<uint16_t, size_t>> blocks;  // (ID, data size)
  } cases[] = {
      {"two blocks",
       std::string("\x34\x12\x02\x00"
                   "xy\x99\x00\x00\x00",
                   10),
       {{0x1234, 2}, {0x99, 0}}},
      {"block longer than the field is cut",
       std::string("\x34\x12\x64\x00"
                   "abcdef",
                   10),
       {{0x1234, 6}}},
      {"header cut short ends the field",
       std::string("\x34\x12\x01\x00"
                   "z\x55\x55",
                   7),
       {{0x1234, 1}}},
  };
  for (const Case& c : cases) {
    Entry e{"x", "data"};
    e.centralExtra = c.extra;
    DirectoryRead r = ReadDirectoryOf(Build({e}).bytes);
    ASSERT_TRUE(r.ok) << c.what << r.error;
    ASSERT_EQ(r.items[0].ExtraFields.size(), c.blocks.size()) << c.what;
    for (size_t i = 0; i < c.blocks.size(); ++i) {
      EXPECT_EQ(r.items[0].ExtraFields[i].HeaderID, c.blocks[i].first) << c.what;
      EXPECT_EQ(r.items[0].ExtraFields[i].Data.size(), c.blocks[i].second) << c.what;
      EXPECT_EQ(r.items[0].ExtraFields[i].DataSize, c.blocks[i].second) << c.what;
    }
  }
}

TEST(ReadDirectory, Zip64BlockValues) {
  Built b = Build({{"big", "0123456789"}});
  // All four central fields all ones, the block carrying the four values.
  std::string bytes = b.bytes;
  size_t c = b.directoryStart;
  SetU32(bytes, c + 20, kAllOnes32);
  SetU32(bytes, c + 24, kAllOnes32);
  SetU16(bytes, c + 34, kAllOnes16);
  SetU32(bytes, c + 42, kAllOnes32);
  std::string block;
  Put16(block, 1);
  Put16(block, 28);
  Put64(block, 10);  // uncompressed
  Put64(block, 10);  // compressed
  Put64(block, 0);   // offset
  Put32(block, 0);   // disk
  std::string withBlock = bytes.substr(0, c + 46 + 3) + block + bytes.substr(c + 46 + 3);
  SetU16(withBlock, c + 30, static_cast<uint16_t>(block.size()));
  SetU32(withBlock, withBlock.size() - 22 + 12, static_cast<uint32_t>(46 + 3 + block.size()));
  DirectoryRead r = ReadDirectoryOf(withBlock);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_TRUE(r.items[0].NeedsZip64);
  EXPECT_EQ(r.items[0].RealUncompressedSize(), 10u);
  EXPECT_EQ(r.items[0].RealCompressedSize(), 10u);
  EXPECT_EQ(r.items[0].RealLocalHeaderOffset(), 0u);
  // The same block without its last value: the disk number is unknown, refused.
  std::string shortBlock = withBlock;
  SetU16(shortBlock, c + 46 + 3 + 2, 24);
  EXPECT_EQ(ReadDirectoryOf(shortBlock).native, 35);
}

TEST(ReadDirectory, LongNamesAndCommentsAreKeptWhole) {
  std::string name = std::string(300, 'n') + ".txt";
  Entry e{name, "x"};
  e.comment = std::string(400, 'k');
  Built b = Build({e});
  DirectoryRead r = ReadDirectoryOf(b.bytes);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.items[0].FileName, name);
  EXPECT_EQ(r.items[0].FileComment, e.comment);
  // Written again, and read again, nothing is lost.
  TZipWriter zip;
  zip.Options().OEMFileNames = false;
  TReadOnlyMemoryStream in(b.bytes.data(), static_cast<int64_t>(b.bytes.size()));
  TZWDirManager first(&in, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(), false);
  first.ReadDirectory();
  TMemoryStream out;
  out.WriteBuffer(b.bytes.data(), static_cast<int64_t>(b.directoryStart));
  first.WriteDirectory(&out);
  std::string rewritten(out.Data().begin(), out.Data().end());
  EXPECT_EQ(rewritten, b.bytes);
  // A local-header scan keeps the whole name as well.
  r = ReadDirectoryOf(b.bytes + "trailing");
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.items[0].FileName, name);
}

TEST(ReadDirectory, ScanningLocalHeaders) {
  Entry streamed{"s.txt", "streamed data", true};
  Entry wide{"w.txt", "zip64 descriptor", true, true};
  Entry empty{"folder", ""};
  Entry plain{"p.txt", "plain"};
  Built b = Build({streamed, wide, empty, plain}, {.trailing = "no end record"});
  DirectoryRead r = ReadDirectoryOf(b.bytes);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.items.size(), 4u);
  EXPECT_EQ(r.directoryStart, -1);
  for (size_t i : {0u, 1u}) {
    EXPECT_EQ(r.items[i].Crc32, ReferenceCrc32(i ? wide.data : streamed.data)) << i;
    EXPECT_EQ(r.items[i].RealCompressedSize(), (i ? wide.data : streamed.data).size()) << i;
    EXPECT_EQ(r.items[i].RealUncompressedSize(), (i ? wide.data : streamed.data).size()) << i;
    EXPECT_EQ(r.items[i].ExternalAttributes, 0x20u);
  }
  EXPECT_EQ(r.items[2].ExternalAttributes, 0x10u);  // empty without bit 3: a folder
  EXPECT_EQ(r.items[3].RealLocalHeaderOffset(), 64u + 75 + 36);
  EXPECT_EQ(r.items[3].FileName, "p.txt");

  // An entry whose data would reach past the end of the file is not taken.
  std::string cut = Build({plain, Entry{"big", std::string(1000, 'b')}}).bytes;
  cut.resize(30 + 5 + 5 + 30 + 3 + 500);
  r = ReadDirectoryOf(cut);
  ASSERT_TRUE(r.ok);
  ASSERT_EQ(r.items.size(), 1u);
  EXPECT_EQ(r.items[0].FileName, "p.txt");
  EXPECT_EQ(Scan(cut).dropped, 1);
  // Nothing plausible at all: refused, so no update can take the file for empty.
  std::string bogus = std::string("PK\x03\x04", 4) + std::string(26, '\xff');
  EXPECT_EQ(ReadDirectoryOf(bogus).native, 35);
}

// Without a directory, entries whose data was never completed, or does not give the
// CRC-32 and size of its header, are left out and counted; the scan finds the next
// local header behind them. Encrypted data cannot be checked without the password.
TEST(ReadDirectory, ScanLeavesOutUnfinishedAndDamagedEntries) {
  Entry a{"a.txt", "alpha"};
  Entry c{"c.txt", TextBytes(2000, 7)};
  c.method = 8;
  Entry stored{"s.txt", TextBytes(300, 3)};
  Entry deflated{"d.txt", TextBytes(4000, 4)};
  deflated.method = 8;
  Entry streamed{"st.txt", TextBytes(3000, 5), true};
  streamed.method = 8;
  Entry encrypted{"e.bin", "twelve bytes" + TextBytes(200, 6)};
  encrypted.flags = 1;
  Entry folder{"dir/", ""};
  Entry empty{"empty", ""};
  empty.method = 8;  // some writers mark empty entries deflated
  std::string before = Records({a});
  std::string after = Records({c});
  std::string partial = Deflated(TextBytes(5000, 1)).substr(0, 700);
  size_t dataAt = before.size() + 30;  // the data of the entry behind `a`
  std::string bytes = before + Records({deflated}) + after;
  std::string wrongSize = bytes;
  SetU32(wrongSize, before.size() + 22, 3999);  // one byte short of what inflates
  struct Case {
    const char* what;
    std::string bytes;
    std::vector<std::string> names;
    int32_t dropped;
  } cases[] = {
      {"completed entries of every kind",
       Records({a, stored, deflated, streamed, encrypted, folder, empty, c}),
       {"a.txt", "s.txt", "d.txt", "st.txt", "e.bin", "dir/", "empty", "c.txt"},
       0},
      {"unfinished deflated entry between two complete ones",
       before + TornRecord("t.bin", partial, 5000) + after,
       {"a.txt", "c.txt"},
       1},
      {"unfinished stored entry with a Zip64 placeholder",
       TornRecord("big.iso", TextBytes(3000, 2), 0, 0, 0, true) + after,
       {"c.txt"},
       1},
      {"unfinished encrypted entry",
       before + TornRecord("x", partial, 5000, 1) + after,
       {"a.txt", "c.txt"},
       1},
      {"unfinished entry at the end of the file",
       before + TornRecord("t.bin", partial, 5000),
       {"a.txt"},
       1},
      {"header written, no data yet", before + TornRecord("t.bin", "", 5000), {"a.txt"}, 1},
      {"two unfinished entries in a row",
       before + TornRecord("t1", partial, 5000) + TornRecord("t2", partial, 5000) + after,
       {"a.txt", "c.txt"},
       2},
      {"stored data damaged",
       Flipped(before + Records({stored}) + after, dataAt + 5 + 100),
       {"a.txt", "c.txt"},
       1},
      {"deflated data damaged", Flipped(bytes, dataAt + 5 + 200), {"a.txt", "c.txt"}, 1},
      {"deflated data giving more than its stated size", wrongSize, {"a.txt", "c.txt"}, 1},
      {"streamed deflated data damaged",
       Flipped(before + Records({streamed}) + after, dataAt + 6 + 100),
       {"a.txt", "c.txt"},
       1},
      {"encrypted data unlike its CRC is kept",
       Flipped(before + Records({encrypted}) + after, dataAt + 5 + 20),
       {"a.txt", "e.bin", "c.txt"},
       0},
  };
  for (const Case& k : cases) {
    ScanOutcome r = Scan(k.bytes);
    EXPECT_EQ(r.native, 0) << k.what;
    EXPECT_EQ(r.names, k.names) << k.what;
    EXPECT_EQ(r.dropped, k.dropped) << k.what;
    EXPECT_EQ(r.reported, k.dropped) << k.what;
  }
  // Nothing but an unfinished entry: not an archive, as before.
  EXPECT_EQ(Scan(TornRecord("t.bin", partial, 5000)).native, 35);
  // Headers nested in one another's data, each failing its check: refused once the
  // checks have read the file several times over, rather than read once per header.
  std::string nested;
  const size_t headers = 200, tail = 100000, total = 30 * headers + tail;
  for (size_t i = 1; i <= headers; ++i) {
    std::string h = TornRecord("", "", static_cast<uint32_t>(total - 30 * i), 0, 0);
    SetU32(h, 14, 0);                                      // CRC
    SetU32(h, 18, static_cast<uint32_t>(total - 30 * i));  // compressed size
    nested += h;
  }
  nested += std::string(tail, 'x') + after;
  EXPECT_EQ(Scan(nested).native, 35);
  // Checked one by one, a few of them are fine.
  EXPECT_EQ(Scan(nested.substr(30 * (headers - 3))).names, std::vector<std::string>{"c.txt"});
  // A directory read from an end record drops nothing.
  ScanOutcome r = Scan(Build({a, c}).bytes);
  EXPECT_EQ(r.names.size(), 2u);
  EXPECT_EQ(r.reported, 0);
}

TEST(ReadDirectory, NamesByCodePageAndUtf8Flag) {
  Entry oem{"\x84.txt", "1"};       // CP437 a-umlaut
  Entry utf8{"\xc3\xa4.txt", "2"};  // UTF-8 a-umlaut, flagged
  utf8.flags = 0x0800;
  Entry slash{"dir\\file", "3"};
  Built b = Build({oem, utf8, slash});
  DirectoryRead r = ReadDirectoryOf(b.bytes, true);
  ASSERT_TRUE(r.ok);
  EXPECT_EQ(r.items[0].FileName, "\xc3\xa4.txt");
  EXPECT_EQ(r.items[1].FileName, "\xc3\xa4.txt");  // flagged names are not converted
  EXPECT_EQ(r.items[2].FileName, "dir/file");
  r = ReadDirectoryOf(b.bytes, false);
  EXPECT_EQ(r.items[0].FileName, "\x84.txt");
}

// The directory as written.
class WriteDirectoryTest : public ::testing::Test {
 protected:
  std::string Write(const std::vector<TDirItem>& items, const std::string& comment = "") {
    TMemoryStream stream;
    TZWDirManager manager(&stream, ArchiverAccess::S(zip_), ArchiverAccess::S(zip_), zip_.Files(),
                          false);
    for (const TDirItem& item : items)
      manager.WorkingDirectory.SetItem(manager.WorkingDirectory.Add(), item);
    manager.ArchiveComment = comment;
    manager.WriteDirectory();
    return std::string(stream.Data().begin(), stream.Data().end());
  }
  TZipWriter zip_;
};

TDirItem Item(const std::string& name) {
  TDirItem item;
  item.Signature = kCentralHeaderSignature;
  item.VersionMadeBy = item.VersionNeeded = 20;
  item.FileName = name;
  item.FileNameLength = static_cast<uint16_t>(name.size());
  return item;
}

TEST_F(WriteDirectoryTest, EmptyArchiveIsTheBareEndRecord) {
  EXPECT_EQ(Hex(Write({})), "504b0506" + std::string(36, '0'));
  std::string withComment = Write({}, "note");
  EXPECT_EQ(withComment.size(), 26u);
  EXPECT_EQ(withComment.substr(22), "note");
}

TEST_F(WriteDirectoryTest, Zip64BlockIsRegeneratedAndForeignBlocksKept) {
  TDirItem item = Item("f");
  item.CompressedSize = item.UncompressedSize = item.LocalHeaderOffset = kAllOnes32;
  item.Zip64UncompressedSize = 0x100000001;
  item.Zip64CompressedSize = 0x100000002;
  item.Zip64LocalHeaderOffset = 0x100000003;
  item.ExtraFields.push_back({0x0001, 8, {9, 9, 9, 9, 9, 9, 9, 9}});  // old, dropped
  item.ExtraFields.push_back({0x5455, 3, {1, 2, 3}});
  item.FileComment = "ab";
  item.FileCommentLength = 4;  // padded with zero bytes
  std::string bytes = Write({item});
  std::string extra = bytes.substr(46 + 1, 4 + 24 + 4 + 3);
  EXPECT_EQ(Hex(extra),
            "0100"
            "1800"
            "0100000001000000"
            "0200000001000000"
            "0300000001000000"
            "5554"
            "0300"
            "010203");
  EXPECT_EQ(GetU16(reinterpret_cast<const uint8_t*>(bytes.data()) + 30), 35);
  EXPECT_EQ(bytes.substr(46 + 1 + 35, 4), std::string("ab\0\0", 4));
}

TEST_F(WriteDirectoryTest, ExtraFieldNeverOverflowsItsLength) {
  TDirItem item = Item("f");
  item.DiskNumberStart = kAllOnes16;  // needs a Zip64 block of 8 bytes
  item.ExtraFields.push_back({0x7777, 65000, std::vector<uint8_t>(65000, 7)});
  item.ExtraFields.push_back({0x8888, 600, std::vector<uint8_t>(600, 8)});
  std::string bytes = Write({item});
  DirectoryRead r = ReadDirectoryOf(bytes);
  ASSERT_TRUE(r.ok) << r.error;
  ASSERT_EQ(r.items[0].ExtraFields.size(), 2u);  // the Zip64 block and the first kept one
  EXPECT_EQ(r.items[0].ExtraFields[1].HeaderID, 0x7777);
  EXPECT_EQ(r.items[0].ExtraFields[1].Data.size(), 65000u);
}

TEST_F(WriteDirectoryTest, EntryCountsFrom65535UseZip64EndRecords) {
  for (size_t count : {65534u, 65535u}) {
    std::vector<TDirItem> items(count, Item("e"));
    std::string bytes = Write(items);
    const uint8_t* end = reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - 22;
    bool zip64 = count >= 65535;
    EXPECT_EQ(GetU16(end + 10), zip64 ? 0xFFFF : count);
    EXPECT_EQ(GetU16(end + 8), zip64 ? 0xFFFF : count);
    EXPECT_EQ(GetU32(end - 20) == kZip64LocatorSignature, zip64);
    if (zip64) {
      TZip64EndRecord record = TZip64EndRecord::Decode(end - 20 - 56);
      EXPECT_EQ(record.Signature, kZip64EndRecordSignature);
      EXPECT_EQ(record.SizeOfRecord, 44u);
      EXPECT_EQ(record.VersionMadeBy, 45);
      EXPECT_EQ(record.TotalEntries, count);
      EXPECT_EQ(record.CentralDirSize, (46u + 1) * count);
      TZip64Locator locator = TZip64Locator::Decode(end - 20);
      EXPECT_EQ(locator.Zip64EndOffset, bytes.size() - 22 - 20 - 56);
      EXPECT_EQ(locator.TotalDisks, 1u);
    }
    DirectoryRead r = ReadDirectoryOf(bytes);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_EQ(r.items.size(), count);
    EXPECT_EQ(r.hasZip64, zip64);
  }
}

TEST_F(WriteDirectoryTest, NamesGoOutInTheirCodePage) {
  zip_.Options().OEMFileNames = true;
  TDirItem plain = Item("\xc3\xa4");
  TDirItem flagged = Item("\xc3\xa4");
  flagged.Flags = 0x0800;
  std::string bytes = Write({plain, flagged});
  EXPECT_EQ(bytes.substr(46, 1), "\x84");
  EXPECT_EQ(bytes.substr(46 + 1 + 46, 2), "\xc3\xa4");
}

}  // namespace
}  // namespace zw::test

namespace zw::test {
namespace {

// Keeps the bytes written from `base` on; what lies before is never stored, so a
// directory can be written as if at a position beyond 4 GiB.
class HighStream : public TStream {
 public:
  explicit HighStream(int64_t base) : base_(base), position_(base) {}
  int64_t Read(void*, int64_t) override { return 0; }
  int64_t Write(const void* buffer, int64_t count) override {
    size_t at = static_cast<size_t>(position_ - base_);
    if (data_.size() < at + static_cast<size_t>(count))
      data_.resize(at + static_cast<size_t>(count));
    std::memcpy(data_.data() + at, buffer, static_cast<size_t>(count));
    position_ += count;
    return count;
  }
  int64_t Seek(int64_t offset, SeekOrigin origin) override {
    position_ = origin == SeekOrigin::kBegin     ? offset
                : origin == SeekOrigin::kCurrent ? position_ + offset
                                                 : GetSize() + offset;
    return position_;
  }
  void SetSize(int64_t) override {}
  int64_t GetSize() override { return base_ + static_cast<int64_t>(data_.size()); }
  std::string data_;

 private:
  int64_t base_, position_;
};

TEST(WriteDirectoryRules, Zip64EndRecordsWhenTheDirectoryEndsBeyond4GiB) {
  struct Case {
    int64_t start;
    bool offsetAllOnes;
  } cases[] = {{0xFFFFFFF0, false}, {0x100000010, true}};
  for (const Case& c : cases) {
    TZipWriter zip;
    HighStream stream(c.start);
    TZWDirManager manager(&stream, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(),
                          false);
    TDirItem& item = manager.WorkingDirectory.ItemPtr(manager.WorkingDirectory.Add());
    item.Signature = kCentralHeaderSignature;
    item.FileName = "x";
    manager.WriteDirectory();
    const auto* bytes = reinterpret_cast<const uint8_t*>(stream.data_.data());
    size_t size = stream.data_.size();
    ASSERT_EQ(size, 47u + 56 + 20 + 22);
    TEndOfCentralDir end = TEndOfCentralDir::Decode(bytes + size - 22);
    EXPECT_EQ(end.CentralDirOffset, c.offsetAllOnes ? kAllOnes32 : static_cast<uint32_t>(c.start));
    EXPECT_EQ(end.TotalEntries, 1);
    TZip64EndRecord record = TZip64EndRecord::Decode(bytes + 47);
    EXPECT_EQ(record.Signature, kZip64EndRecordSignature);
    EXPECT_EQ(record.CentralDirOffset, static_cast<uint64_t>(c.start));
    EXPECT_EQ(record.CentralDirSize, 47u);
    TZip64Locator locator = TZip64Locator::Decode(bytes + 47 + 56);
    EXPECT_EQ(locator.Zip64EndOffset, static_cast<uint64_t>(c.start) + 47);
    EXPECT_EQ(manager.DirectoryStart, c.start);
  }
}

// Corpus archives without Zip64 records: read and written again, the directory and
// end record come out byte for byte as they were (foreign extra blocks, comments,
// versions and attributes kept).
TEST(WriteDirectoryRules, RewrittenDirectoryIsByteIdentical) {
  ZW_SKIP_WITHOUT_CORPUS();
  for (const char* file :
       {"go-test.zip", "libzip-testfile-plus-extra.zip", "libzip-testcomment.zip",
        "libarchive-test_read_format_zip_jar.jar", "libzip-test-utf8-unmarked.zip",
        "libzip-testfile-long-comment.zip", "minizip-large_cd_comment.zip"}) {
    std::string original = ReadHostFile(CorpusDir() + file);
    TZipWriter zip;
    zip.Options().OEMFileNames = true;
    TReadOnlyMemoryStream in(original.data(), static_cast<int64_t>(original.size()));
    TZWDirManager manager(&in, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(), false);
    manager.ReadDirectory();
    ASSERT_GE(manager.DirectoryStart, 0) << file;
    TMemoryStream out;
    out.WriteBuffer(original.data(), manager.DirectoryStart);
    manager.WriteDirectory(&out);
    EXPECT_TRUE(std::string(out.Data().begin(), out.Data().end()) == original) << file;
  }
}

TEST(ProbeEndRecord, ReportsOnlyWhileProbingVolumes) {
  TZipWriter zip;
  std::string nothing = "no end record here";
  TReadOnlyMemoryStream stream(nothing.data(), static_cast<int64_t>(nothing.size()));
  TZWDirManager manager(&stream, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(),
                        false);
  EXPECT_TRUE(manager.ProbeEndRecord());
  ArchiverAccess::S(zip).volumeProbing = true;
  EXPECT_FALSE(manager.ProbeEndRecord());
  std::string empty = Build({}, {.comment = "hi"}).bytes;
  TReadOnlyMemoryStream emptyStream(empty.data(), static_cast<int64_t>(empty.size()));
  TZWDirManager second(&emptyStream, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(),
                       false);
  EXPECT_TRUE(second.ProbeEndRecord());
  EXPECT_EQ(second.ArchiveComment, "hi");
}

}  // namespace
}  // namespace zw::test

namespace zw::test {
namespace {

// Across volumes the entry count is followed; a count beyond what the directory holds
// ends in a read error instead of reading the same stream again from its start.
TEST(ReadDirectoryVolumes, CountBeyondTheDirectoryOnAFixedStream) {
  Built b = Build(TwoEntries());
  SetU16(b.bytes, b.endRecord + 10, 5);
  TZipWriter zip;
  zip.SetSpanningMode(smSpanning);
  TReadOnlyMemoryStream stream(b.bytes.data(), static_cast<int64_t>(b.bytes.size()));
  TZWDirManager manager(&stream, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(),
                        false);
  try {
    manager.ReadDirectory();
    ADD_FAILURE() << "no error";
  } catch (const EReadError&) {
  }
  SetU16(b.bytes, b.endRecord + 10, 3);
  TReadOnlyMemoryStream exact(b.bytes.data(), static_cast<int64_t>(b.bytes.size()));
  TZWDirManager reader(&exact, ArchiverAccess::S(zip), ArchiverAccess::S(zip), zip.Files(), false);
  reader.ReadDirectory();
  EXPECT_EQ(reader.WorkingDirectory.Count(), 3);
}

}  // namespace
}  // namespace zw::test

namespace zw::test {
namespace {

TEST(ReadDirectoryZip64, RecordSizeVariants) {
  Built b = Build(TwoEntries(), {.zip64Records = true});
  size_t record = b.endRecord - 20 - 56;
  // Extensible data after the record: found where the locator points.
  std::string extended =
      b.bytes.substr(0, b.endRecord - 20) + "EXTENDED" + b.bytes.substr(b.endRecord - 20);
  SetU32(extended, record + 4, 44 + 8);
  DirectoryRead r = ReadDirectoryOf(extended);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.items.size(), 3u);
  // A record that states a wrong size of itself, right before the locator.
  std::string misstated = b.bytes;
  SetU32(misstated, record + 4, 56);
  r = ReadDirectoryOf(misstated);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.items.size(), 3u);
}

}  // namespace
}  // namespace zw::test

namespace zw::test {
namespace {

// Streamed local headers that never meet a data descriptor: the search for one is
// made once, not once per header (which would read the file over and over).
TEST(ReadDirectoryScan, ManyStreamedHeadersWithoutDescriptors) {
  std::string header;
  Put32(header, kLocalHeaderSignature);
  Put16(header, 20);
  Put16(header, 8);  // bit 3
  header += std::string(22, '\0');
  std::string bytes;
  for (int i = 0; i < 40000; ++i) bytes += header;
  DirectoryRead r = ReadDirectoryOf(bytes);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.items.size(), 40000u);
}

}  // namespace
}  // namespace zw::test
