#include "VolumeSupport.h"

#include <cstdio>
#include <cstring>
#include <random>

namespace zw::test {
namespace {

uint16_t U16(const std::string& b, size_t at) {
  return static_cast<uint16_t>(static_cast<uint8_t>(b[at]) | static_cast<uint8_t>(b[at + 1]) << 8);
}
uint32_t U32(const std::string& b, size_t at) {
  return U16(b, at) | uint32_t{U16(b, at + 2)} << 16;
}
uint64_t U64(const std::string& b, size_t at) {
  return U32(b, at) | uint64_t{U32(b, at + 4)} << 32;
}

std::string WriteSet(const TempDir& dir, const VolumeSet& volumes) {
  for (size_t i = 0; i + 1 < volumes.size(); ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "set.z%02zu", i + 1);
    WriteHostFile(dir / name, volumes[i]);
  }
  WriteHostFile(dir / "set.zip", volumes.back());
  return dir / "set.zip";
}

// Zip64 extra values of a central header for its all-ones fields.
void TakeZip64(const std::string& extra, uint64_t& offset, uint32_t& disk, bool wideSizes[2],
               bool wideOffset, bool wideDisk) {
  for (size_t at = 0; at + 4 <= extra.size();) {
    uint16_t id = U16(extra, at), size = U16(extra, at + 2);
    if (id == 1) {
      size_t p = at + 4;
      for (int k = 0; k < 2; ++k)
        if (wideSizes[k]) p += 8;
      if (wideOffset) offset = U64(extra, p), p += 8;
      if (wideDisk) disk = U32(extra, p);
      return;
    }
    at += 4 + size;
  }
}

}  // namespace

std::string CheckLayout(const VolumeSet& volumes, std::vector<LayoutEntry>* entries,
                        std::vector<uint64_t>* zip64Fields) {
  if (volumes.empty()) return "no volumes";
  const std::string& last = volumes.back();
  size_t end = last.rfind(std::string("PK\5\6"));
  if (end == std::string::npos || end + 22 > last.size()) return "no end record on the last volume";
  uint64_t thisDisk = U16(last, end + 4), dirDisk = U16(last, end + 6);
  uint64_t total = U16(last, end + 10), offset = U32(last, end + 16);
  if (end >= 20 && U32(last, end - 20) == 0x07064B50) {
    uint64_t recordAt = U64(last, end - 12);
    if (recordAt + 56 > last.size() || U32(last, recordAt) != 0x06064B50) return "bad Zip64 record";
    if (zip64Fields)
      *zip64Fields = {U32(last, recordAt + 16), U32(last, recordAt + 20), U32(last, end - 16),
                      U32(last, end - 4)};
    thisDisk = U32(last, recordAt + 16);
    dirDisk = U32(last, recordAt + 20);
    total = U64(last, recordAt + 32);
    offset = U64(last, recordAt + 48);
  }
  if (thisDisk + 1 != volumes.size()) return "end record names disk " + std::to_string(thisDisk);
  size_t disk = dirDisk, at = offset;
  for (uint64_t i = 0; i < total; ++i) {
    if (disk < volumes.size() && at == volumes[disk].size()) ++disk, at = 0;  // next volume
    if (disk >= volumes.size()) return "directory runs past the last volume";
    const std::string& v = volumes[disk];
    if (at + 46 > v.size() || U32(v, at) != 0x02014B50)
      return "no central header " + std::to_string(i) + " on volume " + std::to_string(disk);
    size_t length = 46 + U16(v, at + 28) + U16(v, at + 30) + U16(v, at + 32);
    if (at + length > v.size()) return "central header " + std::to_string(i) + " straddles";
    LayoutEntry e;
    e.name = v.substr(at + 46, U16(v, at + 28));
    e.disk = U16(v, at + 34);
    e.offset = U32(v, at + 42);
    bool wideSizes[2] = {U32(v, at + 24) == 0xFFFFFFFF, U32(v, at + 20) == 0xFFFFFFFF};
    TakeZip64(v.substr(at + 46 + U16(v, at + 28), U16(v, at + 30)), e.offset, e.disk, wideSizes,
              U32(v, at + 42) == 0xFFFFFFFF, U16(v, at + 34) == 0xFFFF);
    if (e.disk >= volumes.size()) return e.name + ": no such disk";
    const std::string& lv = volumes[e.disk];
    if (e.offset + 30 > lv.size() || U32(lv, e.offset) != 0x04034B50)
      return e.name + ": no local header at its place";
    size_t localLength = 30 + U16(lv, e.offset + 26) + U16(lv, e.offset + 28);
    if (e.offset + localLength > lv.size()) return e.name + ": local header straddles";
    if (lv.substr(e.offset + 30, U16(lv, e.offset + 26)) != e.name)
      return e.name + ": local name differs";
    if (entries) entries->push_back(e);
    at += length;
  }
  return "";
}

std::string SevenZipTest(const std::string& path) {
  std::string output;
  int rc = RunCommand("7zz t " + ShellQuote(path) + " </dev/null", &output);
  return rc == 0 && output.find("Everything is Ok") != std::string::npos ? "" : output;
}

std::string SevenZipTestSet(const VolumeSet& volumes) {
  TempDir dir;
  return SevenZipTest(WriteSet(dir, volumes));
}

std::string InfoZipMergeTest(const VolumeSet& volumes) {
  TempDir dir;
  std::string set = WriteSet(dir, volumes), output;
  // Standard input is closed so that a missing volume fails instead of prompting.
  if (RunCommand("zip -s 0 " + ShellQuote(set) + " --out " + ShellQuote(dir / "merged.zip") +
                     " </dev/null",
                 &output) != 0)
    return "zip -s 0: " + output;
  if (RunCommand("unzip -t " + ShellQuote(dir / "merged.zip"), &output) != 0)
    return "unzip -t: " + output;
  return "";
}

std::string RandomData(size_t count, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string out(count, '\0');
  for (char& c : out) c = static_cast<char>(rng());
  return out;
}

int DiskSwappingUi::AskChoice(const std::string& text, TMsgDlgType kind, TMsgDlgButtons buttons) {
  int answer = ScriptUserInterface::AskChoice(text, kind, buttons);
  int disk = 0;
  if (answer != mrOk) return answer;
  if (std::sscanf(text.c_str(), "Please insert a blank disk #%d", &disk) == 1)
    insertDisk_(disk);
  else if (!returnDisk_)
    return answer;
  else if (std::sscanf(text.c_str(), "Please insert disk #%d", &disk) == 1)
    returnDisk_(disk);
  else if (text == "Please insert the first disk")
    returnDisk_(1);
  else if (text.rfind("Please insert the last disk", 0) == 0 ||
           text.find("insert last disk") != std::string::npos)
    returnDisk_(0);
  return answer;
}

std::vector<std::string> Questions(const std::string& transcript) {
  std::vector<std::string> out;
  std::istringstream lines(transcript);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind("choice\t", 0) != 0) continue;
    size_t answerAt = line.rfind('\t');
    size_t textAt = line.rfind('\t', answerAt - 1);
    out.push_back(line.substr(textAt + 1, answerAt - textAt - 1) + " -> " +
                  line.substr(answerAt + 1));
  }
  return out;
}

}  // namespace zw::test
