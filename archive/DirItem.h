// The in-memory directory: one `TDirItem` per archive entry, held in central
// directory order by a `TZWDirArray`.
//
// A TDirItem is the image of the entry's central header (its base), its decoded name,
// comment, extra-field blocks and Zip64 values, and the state of a pending change
// (where its new data comes from and how it is to be written). Items are values:
// copying one copies its extra-field blocks, so copies never share data.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ZWTypes.h"
#include "ZipRecords.h"

namespace zw {

class TStream;

struct TExtraField {
  uint16_t HeaderID = 0;
  uint16_t DataSize = 0;
  std::vector<uint8_t> Data;  // DataSize bytes
};

struct TDirItem : TCentralFileHeader {
  static constexpr size_t kHeaderSize = TCentralFileHeader::kSize;

  // The decoded entry.
  std::string FileName;     // "/" separates; ANSI code page
  std::string FileComment;  // ANSI code page
  // The name's bytes as read when decoding cannot give them back (a NUL or "\" in
  // them): written again unchanged, so the central name keeps equal to the local one
  // of an entry that is copied. Empty otherwise, and for every new entry.
  std::string StoredNameBytes;
  std::vector<TExtraField> ExtraFields;
  uint64_t Zip64UncompressedSize = 0;
  uint64_t Zip64CompressedSize = 0;
  uint64_t Zip64LocalHeaderOffset = 0;
  uint32_t Zip64DiskNumberStart = 0;
  bool NeedsZip64 = false;

  // The pending change; never written to the archive. (The small fields share the word
  // above: a large directory holds an item per entry.)
  bool Modified = false;
  uint8_t CompressionMode = 0;
  TZWProcessOperation Operation = poAdd;
  std::string Password;
  std::shared_ptr<TStream> SourceStream;  // data source when set, else SourceFileName
  std::string SourceFileName;

  void EncodeHeader(uint8_t out[kHeaderSize]) const;
  void DecodeHeader(const uint8_t in[kHeaderSize]);

  // Full values: the Zip64 value when the 32-bit (16-bit) field is all ones.
  uint64_t RealCompressedSize() const;
  uint64_t RealUncompressedSize() const;
  uint64_t RealLocalHeaderOffset() const;
  uint32_t RealDiskNumberStart() const;
  // An all-ones field without any Zip64 block is the literal value (writers without
  // Zip64 support may store it); the Zip64 value then carries the same number.
  void TakeAllOnesLiterally();
  // Sets a position, in Zip64 form when it needs 32 bits or more or `forceZip64`.
  void SetLocalHeaderOffset(uint64_t position, bool forceZip64);
};

// Array of items in central directory order. Index arguments outside 0..Count-1
// raise EZWException "Index out of bounds" with internal code
// ecSetItemIndex, ecGetItemIndex, ecItemIndex or ecDeleteIndex and change nothing.
//
// Arrays share unchanged items: after Assign both hold the same items, and an item is
// copied when it is first changed through either array (the non-const ItemPtr,
// SetItem), so the directory saved for a batch costs a pointer per entry the batch
// leaves alone. Read through a const array where nothing changes: the non-const
// ItemPtr copies a shared item.
class TZWDirArray {
 public:
  TZWDirArray() = default;
  TZWDirArray(const TZWDirArray&) = delete;
  TZWDirArray& operator=(const TZWDirArray&) = delete;

  int32_t Count() const { return count_; }
  int32_t Capacity() const { return static_cast<int32_t>(items_.size()); }
  int32_t GrowStep() const { return growStep_; }

  // Makes n items in use. Growth: when n exceeds Capacity, GrowStep doubles (capped
  // at MaxGrowStep) and Capacity grows by it, or to n when that is not enough.
  // New slots start empty. n = 0 releases the storage.
  void SetCount(int32_t n);
  // Empties the array; the storage stays allocated for re-use.
  void Clear();
  void GetItem(int32_t index, TDirItem& item) const;
  void SetItem(int32_t index, const TDirItem& item);
  TDirItem& ItemPtr(int32_t index);
  const TDirItem& ItemPtr(int32_t index) const;
  void Delete(int32_t index);
  // Deep copy of `source` (no extra-field block is shared).
  void Assign(const TZWDirArray& source);
  // Appends one empty item and returns its index.
  int32_t Add();

  // First index whose FileName equals `name` without regard to case (by locale).
  // Kept fast with a case-folded index; call NameChanged after renaming an item
  // in place through ItemPtr.
  bool FindByName(const std::string& name, int32_t& index) const;
  void NameChanged(int32_t index);

  static constexpr int32_t kInitialGrowStep = 500;
  static constexpr int32_t kMaxGrowStep = 10000;

 private:
  void InvalidateIndex() const;
  void ExtendIndex() const;
  // Grows the slots to hold n items (see SetCount).
  void Reserve(int32_t n);
  // Capacity slots; those from Count on are empty.
  std::vector<std::shared_ptr<TDirItem>> items_;
  int32_t count_ = 0;
  int32_t growStep_ = kInitialGrowStep;
  // The case-folded name look-up: an open-addressed table of item indices (-1: free) at
  // the hash of the folded name, that hash kept beside each. The folded names are not
  // kept: a candidate is checked by folding its own name.
  mutable std::vector<int32_t> slots_;
  mutable std::vector<uint32_t> hashes_;
  mutable int32_t indexed_ = 0;  // items covered by the index
};

// The case-folded form used to compare names.
std::string FoldName(const std::string& name);

}  // namespace zw
