#include "DirItem.h"

#include <functional>

#include "CodePage.h"
#include "Streams.h"
#include "ZWExcept.h"
#include "ZipRecords.h"

namespace zw {

void TDirItem::EncodeHeader(uint8_t out[kHeaderSize]) const { Encode(out); }

void TDirItem::DecodeHeader(const uint8_t in[kHeaderSize]) {
  static_cast<TCentralFileHeader&>(*this) = TCentralFileHeader::Decode(in);
}

uint64_t TDirItem::RealCompressedSize() const {
  return CompressedSize == kAllOnes32 ? Zip64CompressedSize : CompressedSize;
}
uint64_t TDirItem::RealUncompressedSize() const {
  return UncompressedSize == kAllOnes32 ? Zip64UncompressedSize : UncompressedSize;
}
uint64_t TDirItem::RealLocalHeaderOffset() const {
  return LocalHeaderOffset == kAllOnes32 ? Zip64LocalHeaderOffset : LocalHeaderOffset;
}
uint32_t TDirItem::RealDiskNumberStart() const {
  return DiskNumberStart == kAllOnes16 ? Zip64DiskNumberStart : DiskNumberStart;
}

void TDirItem::TakeAllOnesLiterally() {
  if (UncompressedSize == kAllOnes32) Zip64UncompressedSize = kAllOnes32;
  if (CompressedSize == kAllOnes32) Zip64CompressedSize = kAllOnes32;
  if (LocalHeaderOffset == kAllOnes32) Zip64LocalHeaderOffset = kAllOnes32;
  if (DiskNumberStart == kAllOnes16) Zip64DiskNumberStart = kAllOnes16;
}

void TDirItem::SetLocalHeaderOffset(uint64_t position, bool forceZip64) {
  if (position >= kAllOnes32 || forceZip64) {
    NeedsZip64 = true;
    LocalHeaderOffset = kAllOnes32;
    Zip64LocalHeaderOffset = position;
  } else {
    LocalHeaderOffset = static_cast<uint32_t>(position);
  }
}

std::string FoldName(const std::string& name) {
  for (char c : name)
    if (static_cast<unsigned char>(c) >= 0x80) return AnsiUpperCase(name);
  return AsciiUpperCase(name);
}

namespace {

uint32_t HashOf(const std::string& key) {
  return static_cast<uint32_t>(std::hash<std::string>{}(key));
}

}  // namespace

void TZWDirArray::InvalidateIndex() const {
  slots_.clear();
  hashes_.clear();
  indexed_ = 0;
}

void TZWDirArray::ExtendIndex() const {
  if (indexed_ == count_) return;
  size_t wanted = 16;
  while (wanted < static_cast<size_t>(count_) * 2) wanted *= 2;
  if (slots_.size() < wanted) {  // grown: every item again
    slots_.assign(wanted, -1);
    hashes_.assign(wanted, 0);
    indexed_ = 0;
  }
  size_t mask = slots_.size() - 1;
  for (; indexed_ < count_; ++indexed_) {
    std::string key = FoldName(items_[static_cast<size_t>(indexed_)]->FileName);
    uint32_t hash = HashOf(key);
    for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
      int32_t held = slots_[slot];
      if (held < 0) {
        slots_[slot] = indexed_;
        hashes_[slot] = hash;
        break;
      }
      // An earlier item of the same name keeps the slot: the look-up finds the first.
      if (hashes_[slot] == hash && FoldName(items_[static_cast<size_t>(held)]->FileName) == key)
        break;
    }
  }
}

void TZWDirArray::Reserve(int32_t n) {
  if (n <= Capacity()) return;
  growStep_ = std::min(growStep_ * 2, kMaxGrowStep);
  int64_t capacity = static_cast<int64_t>(Capacity()) + growStep_ > n ? Capacity() + growStep_ : n;
  items_.resize(static_cast<size_t>(capacity));
}

void TZWDirArray::SetCount(int32_t n) {
  if (n < 0) n = 0;
  if (n == 0) {
    items_.clear();
    items_.shrink_to_fit();
    count_ = 0;
    InvalidateIndex();
    return;
  }
  Reserve(n);
  for (int32_t i = count_; i < n; ++i)
    items_[static_cast<size_t>(i)] = std::make_shared<TDirItem>();
  if (n < count_) {
    for (int32_t i = n; i < count_; ++i) items_[static_cast<size_t>(i)].reset();
    InvalidateIndex();
  }
  count_ = n;
}

void TZWDirArray::Clear() {
  for (int32_t i = 0; i < count_; ++i) items_[static_cast<size_t>(i)].reset();
  count_ = 0;
  InvalidateIndex();
}

void TZWDirArray::GetItem(int32_t index, TDirItem& item) const {
  if (index < 0 || index >= count_) throw EZWException(ecGetItemIndex);
  item = *items_[static_cast<size_t>(index)];
}

void TZWDirArray::SetItem(int32_t index, const TDirItem& item) {
  if (index < 0 || index >= count_) throw EZWException(ecSetItemIndex);
  items_[static_cast<size_t>(index)] = std::make_shared<TDirItem>(item);
  InvalidateIndex();
}

TDirItem& TZWDirArray::ItemPtr(int32_t index) {
  if (index < 0 || index >= count_) throw EZWException(ecItemIndex);
  std::shared_ptr<TDirItem>& slot = items_[static_cast<size_t>(index)];
  if (slot.use_count() > 1) slot = std::make_shared<TDirItem>(*slot);  // shared: copy first
  return *slot;
}

const TDirItem& TZWDirArray::ItemPtr(int32_t index) const {
  if (index < 0 || index >= count_) throw EZWException(ecItemIndex);
  return *items_[static_cast<size_t>(index)];
}

void TZWDirArray::Delete(int32_t index) {
  if (index < 0 || index >= count_) throw EZWException(ecDeleteIndex);
  items_.erase(items_.begin() + index);
  items_.emplace_back();  // the capacity stays
  --count_;
  InvalidateIndex();
}

void TZWDirArray::Assign(const TZWDirArray& source) {
  if (&source == this) return;
  Clear();
  if (source.Count() == 0) return SetCount(0);
  Reserve(source.Count());
  for (int32_t i = 0; i < source.Count(); ++i)
    items_[static_cast<size_t>(i)] = source.items_[static_cast<size_t>(i)];
  count_ = source.Count();
  InvalidateIndex();
}

int32_t TZWDirArray::Add() {
  SetCount(count_ + 1);
  return count_ - 1;
}

bool TZWDirArray::FindByName(const std::string& name, int32_t& index) const {
  ExtendIndex();
  if (count_ == 0) return false;
  std::string key = FoldName(name);
  uint32_t hash = HashOf(key);
  size_t mask = slots_.size() - 1;
  for (size_t slot = hash & mask;; slot = (slot + 1) & mask) {
    int32_t held = slots_[slot];
    if (held < 0) return false;
    if (hashes_[slot] != hash) continue;
    std::string heldKey = FoldName(items_[static_cast<size_t>(held)]->FileName);
    if (heldKey == key) {
      index = held;
      return true;
    }
    if (HashOf(heldKey) != hash) {  // stale: an item was renamed in place
      InvalidateIndex();
      return FindByName(name, index);
    }
  }
}

void TZWDirArray::NameChanged(int32_t index) {
  if (index < indexed_) InvalidateIndex();
}

}  // namespace zw
