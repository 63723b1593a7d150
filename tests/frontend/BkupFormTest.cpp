// The form's per-file failure policy end to end: files another process holds are
// passed over silently or reported with the notice and the abort question.
#include <gtest/gtest.h>

#include <algorithm>

#include "BkupHarness.h"
#include "ShareHolderClient.h"
#include "bkup.h"

namespace zw::test {
namespace {

constexpr uint16_t kDenyRead = 0x30;  // read access, others may not read

std::string Notice(const std::string& text) { return Line({"notice", "bkup", text, "OK"}); }
std::string Question(const std::string& answer) {
  return Line({"choice", "Error", "Yes,No", "Do you want to abort the backup? ", answer});
}
std::string Skipping(const std::string& upperPath) {
  return Notice("Skipping file " + upperPath + " as it cannot be backed up - ");
}

bool Has(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

class BkupFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    h.PutSampleData(false);
    ASSERT_TRUE(holder.Started());
  }
  void Hold(const std::string& name) {
    ASSERT_EQ(holder.Hold(h.C("church/data/" + name), kDenyRead), OsErrorCode::kNone);
  }
  BkupHarness h;
  ShareHolderProcess holder;
};

TEST_F(BkupFailureTest, OrdinaryFileIsReportedAndNoGoesOnWithoutIt) {
  Hold("fi0020.dat");
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"}, {"No"});
  std::vector<std::string>& t = run.transcript;
  auto notice = std::find(t.begin(), t.end(), Skipping("C:\\CHURCH\\DATA\\FI0020.DAT"));
  ASSERT_NE(notice, t.end()) << run.errors;
  EXPECT_EQ(*(notice + 1), Question("No"));
  EXPECT_EQ(t[t.size() - 2], Notice("Backup Complete"));
  EXPECT_EQ(run.status, kBkupDone);
  std::vector<std::string> entries = h.Entries(h.C("church/data/vess.zip"));
  EXPECT_FALSE(Has(entries, "fi0020.dat"));
  EXPECT_TRUE(Has(entries, "fi0001.dat"));
  EXPECT_TRUE(Has(entries, "vi0001.idx"));  // later sets still ran
}

TEST_F(BkupFailureTest, SilentNamesAndMasksShowNothing) {
  Hold("sy0125.dat");
  Hold("vi0001.idx");
  Hold("arc0001.dat");
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"});
  for (const auto& line : run.transcript) EXPECT_NE(line.rfind("choice", 0), 0u) << line;
  std::vector<std::string> entries = h.Entries(h.C("church/data/vess.zip"));
  for (const char* missing : {"sy0125.dat", "vi0001.idx", "arc0001.dat"})
    EXPECT_FALSE(Has(entries, missing)) << missing;
  EXPECT_TRUE(Has(entries, "sy0125.idx"));
  EXPECT_EQ(run.transcript[run.transcript.size() - 2], Notice("Backup Complete"));
}

TEST_F(BkupFailureTest, ArcMaskNeedsADotSoArcAloneIsAskedAbout) {
  h.Put("church/data/ARCHIVE.TXT", "silent by mask");
  h.Put("church/data/ARC", "asked about: the mask needs a dot");
  ASSERT_EQ(holder.Hold(h.C("church/data/ARCHIVE.TXT"), kDenyRead), OsErrorCode::kNone);
  ASSERT_EQ(holder.Hold(h.C("church/data/ARC"), kDenyRead), OsErrorCode::kNone);
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "*"}, {"No"});
  EXPECT_FALSE(Has(run.transcript, Skipping("C:\\CHURCH\\DATA\\ARCHIVE.TXT")));
  EXPECT_TRUE(Has(run.transcript, Skipping("C:\\CHURCH\\DATA\\ARC")));
}

TEST_F(BkupFailureTest, YesStopsTheBackupAndSaysItIsIncomplete) {
  Hold("pe0001.dat");
  BkupRun run = h.Run({"3", "0", "C:\\church\\data\\", "vess", "vess"}, {"Yes"});
  std::vector<std::string>& t = run.transcript;
  ASSERT_GE(t.size(), 4u);
  EXPECT_EQ(t[t.size() - 3], Question("Yes"));
  EXPECT_EQ(t[t.size() - 2],
            Notice("Error occurred - Backup was aborted - zip file is incomplete"));
  EXPECT_EQ(t.back(), "end");
  EXPECT_FALSE(Has(t, Notice("Backup Complete")));
  EXPECT_EQ(run.status, kBkupIncomplete);
  // The fi sets were complete batches; the pe batch rolled back; later sets never ran.
  std::vector<std::string> entries = h.Entries(h.C("church/data/vess.zip"));
  EXPECT_TRUE(Has(entries, "fi0001.dat"));
  EXPECT_FALSE(Has(entries, "pe0001.idx"));
  EXPECT_FALSE(Has(entries, "sy0001.dat"));
  EXPECT_TRUE(h.ArchiveTests(h.C("church/data/vess.zip")));
}

}  // namespace
}  // namespace zw::test
