#include "BkupHarness.h"

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

namespace zw::test {

namespace {

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) lines.push_back(line);
  return lines;
}

}  // namespace

BkupHarness::BkupHarness() {
  std::filesystem::create_directories(C());
  drives_ = "ZW_DRIVE_C=" + ShellQuote(C());
}

BkupHarness::~BkupHarness() {
  for (const auto& m : mounts_)
    if (RunCommand("umount " + ShellQuote(m)) != 0) RunCommand("umount -l " + ShellQuote(m));
}

std::string BkupHarness::C(const std::string& relative) const {
  return dir_ / ("c" + (relative.empty() ? std::string() : "/" + relative));
}

void BkupHarness::Put(const std::string& relative, const std::string& bytes) const {
  dir_.Write("c/" + relative, bytes);
}

void BkupHarness::PutSampleData(bool withDictionary) const {
  int seed = 1;
  for (const char* name :
       {"fi0001.dat", "fi0001.idx", "fi0004.dat", "fi0020.dat", "fi0020.idx", "pe0001.dat",
        "pe0001.idx", "sy0001.dat", "sy0001.idx", "sy0125.dat", "sy0125.idx", "arc0001.dat",
        "arc0001.idx", "vi0001.dat", "vi0001.idx", "notes.txt"}) {
    std::string body = std::string("record data of ") + name + "\r\n";
    for (int i = 0; i < 40; ++i)
      body += "line " + std::to_string(i * seed) + " of " + name + "\r\n";
    Put(std::string("church/data/") + name, body);
    ++seed;
  }
  for (const char* name : {"h0001.jpg", "m0001.jpg", "g0001.jpg", "x0001.jpg"})
    Put(std::string("church/data/Picture/") + name,
        RandomBytes(2000, static_cast<uint32_t>(seed++)));
  if (withDictionary) Put("church/vess_rpt.dic", "[Reports]\r\n");
}

std::string BkupHarness::MapDrive(char letter, const std::string& folder) {
  std::string host = dir_ / folder;
  std::filesystem::create_directories(host);
  drives_ += std::string(" ZW_DRIVE_") + letter + "=" + ShellQuote(host);
  return host;
}

std::string BkupHarness::MapWriteProtectedDrive(char letter, const std::string& folder) {
  std::string host = MapDrive(letter, folder);
  if (geteuid() == 0) {
    if (RunCommand("mount -t tmpfs -o ro,size=64k zwlocked " + ShellQuote(host)) == 0)
      mounts_.push_back(host);
  } else {
    std::filesystem::permissions(host,
                                 std::filesystem::perms::owner_write |
                                     std::filesystem::perms::group_write |
                                     std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
  }
  return host;
}

BkupRun BkupHarness::Run(const std::vector<std::string>& args,
                         const std::vector<std::string>& answers,
                         const std::string& extraEnv) const {
  std::string answerFile = dir_ / "answers.txt";
  {
    std::ofstream out(answerFile, std::ios::trunc);
    for (const auto& a : answers) out << a << "\n";
  }
  std::string errFile = dir_ / "stderr.txt";
  std::string command = "cd " + ShellQuote(dir_.path()) + " && " + limit_ +
                        "env ZW_UI=script:" + ShellQuote(answerFile) + " " + drives_ + " " +
                        extraEnv + " " + ZW_BKUP;
  for (const auto& a : args) command += " " + ShellQuote(a);
  command = "(" + command + " 2>" + ShellQuote(errFile) + ")";
  BkupRun run;
  std::string output;
  run.status = RunCommand(command, &output);
  run.transcript = SplitLines(output);
  run.errors = ReadHostFile(errFile);
  return run;
}

std::vector<std::string> BkupHarness::Entries(const std::string& hostArchive) const {
  std::string output;
  if (RunCommand("unzip -Z1 " + ShellQuote(hostArchive), &output) != 0) return {};
  return SplitLines(output);
}

bool BkupHarness::ArchiveTests(const std::string& hostArchive) const {
  return RunCommand("unzip -tq " + ShellQuote(hostArchive)) == 0;
}

std::string Line(const std::vector<std::string>& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) out += (i ? "\t" : "") + fields[i];
  return out;
}

std::vector<std::string> Opening() {
  return {Line({"window", "Vessimbrant Backup/Restore Form", "Label1=Creating Contri.zip File",
                "Label2=Processing - Please Wait"}),
          Line({"label", "Label2", "Specify a Location"})};
}

}  // namespace zw::test
