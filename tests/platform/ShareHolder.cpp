// A second process for the sharing tests. It reads commands from standard input,
// one per line with tab-separated fields, runs them through the real provider and
// answers each with one line: "ok" or "err <Windows-style code>".
//   hold <mode> <path>      open and keep the handle
//   try <mode> <path>       open and close at once
//   delete <path>           DeleteFile
//   rename <from> <to>      RenameFile
//   release                 close every held handle
// The process ends at end of input, which also closes what it holds.
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "LinuxFileSystem.h"

namespace {

std::vector<std::string> SplitTabs(const std::string& line) {
  std::vector<std::string> fields;
  std::stringstream in(line);
  std::string field;
  while (std::getline(in, field, '\t')) fields.push_back(field);
  return fields;
}

std::string Reply(bool ok, zw::FileSystem& fs) {
  return ok ? "ok" : "err " + std::to_string(static_cast<int>(fs.LastError().code));
}

}  // namespace

int main() {
  zw::LinuxFileSystem fs;
  std::vector<std::unique_ptr<zw::FileHandle>> held;
  std::string line;
  while (std::getline(std::cin, line)) {
    std::vector<std::string> f = SplitTabs(line);
    std::string reply = "err 87";
    if (f.size() == 3 && (f[0] == "hold" || f[0] == "try")) {
      auto handle = fs.Open(f[2], static_cast<uint16_t>(std::stoul(f[1])));
      reply = Reply(handle != nullptr, fs);
      if (handle && f[0] == "hold") held.push_back(std::move(handle));
    } else if (f.size() == 2 && f[0] == "delete") {
      reply = Reply(fs.DeleteFile(f[1]), fs);
    } else if (f.size() == 3 && f[0] == "rename") {
      reply = Reply(fs.RenameFile(f[1], f[2]), fs);
    } else if (f.size() == 1 && f[0] == "release") {
      held.clear();
      reply = "ok";
    }
    std::cout << reply << std::endl;
  }
  return 0;
}
