#include "bkup.h"

#include <cctype>
#include <climits>

#include "CodePage.h"
#include "Exceptions.h"
#include "FileSystem.h"
#include "Format.h"
#include "Paths.h"
#include "ZWExcept.h"
#include "ZWMasks.h"

namespace zw {

namespace {

const char kSpecifyLocation[] = "Specify a Location";
const char kProcessing[] = "Processing - Please Wait";

bool ParseDigits(const std::string& s, size_t i, int base, bool negative, int32_t& out) {
  if (i >= s.size()) return false;
  int64_t value = 0;
  for (; i < s.size(); ++i) {
    int c = std::tolower(static_cast<unsigned char>(s[i]));
    int digit = std::isdigit(c)                        ? c - '0'
                : (base == 16 && c >= 'a' && c <= 'f') ? c - 'a' + 10
                                                       : -1;
    if (digit < 0) return false;
    value = value * base + digit;
    if (value > (base == 16 ? int64_t{0xFFFFFFFF} : int64_t{INT32_MAX} + 1)) return false;
  }
  if (base == 16) {  // hexadecimal gives the 32-bit pattern
    out = static_cast<int32_t>(static_cast<uint32_t>(value));
    if (negative) out = -out;
    return true;
  }
  if (negative) value = -value;
  if (value > INT32_MAX || value < INT32_MIN) return false;
  out = static_cast<int32_t>(value);
  return true;
}

}  // namespace

int32_t StrToInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  int base = 10;
  if (i < text.size() && text[i] == '$') {
    base = 16;
    ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16;
    i += 2;
  }
  int32_t value = 0;
  if (!ParseDigits(text, i, base, negative, value))
    throw EConvertError(Format("'%s' is not a valid integer value", {text}));
  return value;
}

TBackupForm::TBackupForm(const StoredLayout& layout, std::vector<std::string> args,
                         UserInterface& ui, FileSystem& fs)
    : ui_(ui), fs_(fs), args_(std::move(args)) {
  LoadLayout(layout);
}

TBackupForm::~TBackupForm() = default;

void TBackupForm::LoadLayout(const StoredLayout& layout) {
  if (layout.objects.empty()) throw Exception("Stored layout holds no form");
  const StoredObject& form = layout.objects.front();
  SetName(form.name);
  window_.name = form.name;
  window_.left = form.GetInt("Left", 0);
  window_.top = form.GetInt("Top", 0);
  window_.width = form.GetInt("Width", 0);
  window_.height = form.GetInt("Height", 0);
  window_.caption = form.Get("Caption").value_or("");
  window_.font = {form.Get("Font.Name").value_or(""), form.GetInt("Font.Height", 0),
                  form.GetBool("Font.Bold", false)};
  for (const StoredObject& o : layout.objects) {
    if (o.className == "TLabel") {
      window_.labels.push_back(
          LabelLayout{o.name, o.GetInt("Left", 0), o.GetInt("Top", 0), o.GetInt("Width", 0),
                      o.GetInt("Height", 0), o.Get("Caption").value_or(""),
                      FontSpec{o.Get("Font.Name").value_or(""), o.GetInt("Font.Height", 0),
                               o.GetBool("Font.Bold", false)}});
    } else if (o.className == "TZipWriter") {
      LoadComponent(o);
    } else if (o.className == "TOpenDialog" || o.className == "TSaveDialog") {
      FileDialogRequest& dialog = o.className == "TOpenDialog" ? openDialog_ : saveDialog_;
      dialog = {o.Get("Filter").value_or(""), o.Get("InitialDir").value_or(""),
                o.Get("FileName").value_or(""), o.Get("DefaultExt").value_or("")};
    }
  }
}

// Creates the archive component and loads its stored values in their stored order.
void TBackupForm::LoadComponent(const StoredObject& stored) {
  zipWriter1_ = CreateOwned<TZipWriter>();
  zipWriter1_->SetName(stored.name);
  zipWriter1_->SetFileSystem(&fs_);
  zipWriter1_->SetUserInterface(&ui_);
  for (const auto& [key, value] : stored.properties) {
    if (key == "OnProcessFileFailure") {
      if (value != "ZipWriter1ProcessFileFailure")
        throw Exception(Format("Stored layout: unknown handler \"%s\"", {value}));
      zipWriter1_->OnProcessFileFailure =
          [this](TZWBaseArchiver* sender, const std::string& name, TZWProcessOperation op,
                 int32_t native, int32_t code, const std::string& message, TZWAction& action) {
            ZipWriter1ProcessFileFailure(sender, name, op, native, code, message, action);
          };
    } else {
      zipWriter1_->SetPublishedProperty(key, value);
    }
  }
}

void TBackupForm::SetLabel2(const std::string& text) {
  for (auto& label : window_.labels)
    if (label.name == "Label2") label.caption = text;
  ui_.SetLabelCaption("Label2", text);
}

void TBackupForm::FormActivate() {
  SetLabel2(kSpecifyLocation);
  try {
    StartRun();
  } catch (...) {
    errorEscaped_ = true;  // the provider shows the error box; the exit status tells it too
    throw;
  }
}

BkupExitStatus TBackupForm::ExitStatus() const {
  if (errorEscaped_) return kBkupError;
  if (state_.AbortRun) return kBkupBadParameters;
  if (state_.RunMode < 5 && !backupComplete_) return kBkupIncomplete;
  return kBkupDone;
}

void TBackupForm::StartRun() {
  ReadRunParameters();
  SetLabel2(kProcessing);  // the provider repaints at once: the run does not pump messages
  if (!state_.AbortRun && state_.RunMode < 5) RunBackup();
  ui_.EndApplication();
}

void TBackupForm::ReadRunParameters() {
  RunState& s = state_;
  s.AbortRun = false;
  for (size_t i = 0; i < s.RunParameters.size(); ++i)
    s.RunParameters[i] = i < args_.size() ? args_[i] : "";
  s.RunMode = StrToInt(s.RunParameters[0]);
  s.PictureOption = StrToInt(s.RunParameters[1]);
  s.DataPath = s.RunParameters[2];
  s.ArchiveName = s.RunParameters[3];
  s.FileSetSelector = s.RunParameters[4];
  s.ChosenDir.clear();
  if (s.RunMode == 4 || s.RunMode == 8) ChooseLocation();
  if (s.ArchiveName.empty()) s.ArchiveName = "vess";
  if (s.RunMode < 1 || s.RunMode > 8) {
    ui_.ShowNotice("Parameter 1 must be between 1 and 9 - Process is aborting");
    s.AbortRun = true;
  }
  if (!s.ChosenDir.empty())
    s.TargetDir = s.ChosenDir;
  else if (s.RunMode == 1 || s.RunMode == 5)
    s.TargetDir = "A:\\";
  else if (s.RunMode == 2 || s.RunMode == 6)
    s.TargetDir = "B:\\";
  else
    s.TargetDir = s.DataPath;
  if (s.PictureOption < 0 || s.PictureOption > 2) {
    ui_.ShowNotice("Parameter 2 must be between 0 and 2 - Process is aborting");
    s.AbortRun = true;
  }
  if (s.DataPath.empty()) {
    ui_.ShowNotice("Parameter 3, Pathname, is empty - Process is aborting");
    s.AbortRun = true;
  }
}

void TBackupForm::ChooseLocation() {
  RunState& s = state_;
  std::string initialDir = s.DataPath.empty() ? "" : s.DataPath.substr(0, s.DataPath.size() - 1);
  bool save = s.RunMode == 4;
  FileDialogRequest request = save ? saveDialog_ : openDialog_;
  request.initialDir = initialDir;
  request.fileName = save ? s.RunParameters[3] : "Vess";
  request.defaultExt.clear();
  std::string path;
  bool chosen = save ? ui_.ChooseFileToSave(request, path) : ui_.ChooseFileToOpen(request, path);
  if (!chosen) {
    ui_.ShowNotice("aborting backup since cancel was clicked");
    s.AbortRun = true;
    return;
  }
  if (save) ApplySaveChoice(path);  // an Open choice is not used: restore does no work
}

void TBackupForm::ApplySaveChoice(const std::string& path) {
  RunState& s = state_;
  s.ArchiveName = AnsiUpperCase(ExtractFileName(path));
  if (AnsiUpperCase(ExtractFileExt(path)) == ".ZIP") {
    size_t at = s.ArchiveName.find(".ZIP");
    if (at != std::string::npos) s.ArchiveName.erase(at, 4);
  }
  s.ChosenDir = ExtractFilePath(path);
  if (s.ChosenDir.empty() || !IsPathDelimiter(s.ChosenDir.back())) s.ChosenDir += '\\';
}

namespace {

// Failures of opening the archive that the utility reports in its own words.
enum class OpenFailure { kNone, kNoDiskette, kCannotCreate, kCorrupt };

// `targetReachable`: the target folder exists. A removable drive whose folder is there
// holds a medium, so a file that still cannot be made means write protection, which
// the cannot-create text names (its Write Lock tab), not a missing diskette.
OpenFailure ClassifyOpenFailure(const std::exception& e, bool removableTarget,
                                bool targetReachable) {
  if (IsArchiveDamaged(e)) return OpenFailure::kCorrupt;
  if (dynamic_cast<const EZWException*>(&e)) return OpenFailure::kNone;
  if (dynamic_cast<const EFCreateError*>(&e) || dynamic_cast<const EFOpenError*>(&e))
    return removableTarget && !targetReachable ? OpenFailure::kNoDiskette
                                               : OpenFailure::kCannotCreate;
  return OpenFailure::kNone;
}

// Why an existing archive cannot be opened for writing, as a result code: another
// program using these services holds it (180: in use by another process, try again
// later), else the read-only attribute or a write-protected medium (310: cannot
// create, check the Write Lock tab).
int32_t ReadOnlyArchiveResult(FileSystem& fs, const std::string& archive) {
  if (fs.Open(archive, FileMode::fmOpenReadWrite | FileMode::fmShareDenyWrite))
    return 180;  // released since
  return fs.LastError().code == OsErrorCode::kSharingViolation ? 180 : 310;
}

}  // namespace

void TBackupForm::RunBackup() {
  RunState& s = state_;
  ui_.SetWindowCaption("Vessimbrant Backup");
  zipWriter1_->SetSpanningMode(smNone);
  s.ArchiveFileName = s.TargetDir + s.ArchiveName + ".zip";
  zipWriter1_->SetFileName(s.ArchiveFileName);
  // Checked before the archive is opened: opening creates a new archive (and its
  // journal), and a missing data folder must leave nothing behind.
  if (!fs_.DirectoryExists(s.DataPath))
    s.ResultCode = 140;
  else if (OpenArchive()) {
    if (s.PictureOption == 0 || s.PictureOption == 1) AddDataFileSets();
    if ((s.PictureOption == 1 || s.PictureOption == 2) && !backupAborted_) AddPictureSets();
    if (backupAborted_) s.ResultCode = 190;
  }
  if (s.ResultCode == 0 || s.ResultCode == 40) {
    ui_.ShowNotice("Backup Complete");
    backupComplete_ = true;
  } else {
    ReportResult();
  }
  if (s.ResultCode == 310)
    ui_.ShowNotice("After correcting the problem press the Backup button again");
}

// Opens (or creates) the archive; false with ResultCode set when the target cannot
// take it. Other failures pass on to the error box.
bool TBackupForm::OpenArchive() {
  RunState& s = state_;
  std::string drive = AsciiUpperCase(ExtractFileDrive(s.ArchiveFileName));
  bool removable = drive == "A:" || drive == "B:";
  try {
    zipWriter1_->OpenArchiveFile();
  } catch (const std::exception& e) {
    switch (ClassifyOpenFailure(e, removable, fs_.DirectoryExists(s.TargetDir))) {
      case OpenFailure::kNoDiskette:
        s.ResultCode = 280;
        return false;
      case OpenFailure::kCannotCreate:
        s.ResultCode = 310;
        return false;
      case OpenFailure::kCorrupt:
        s.ResultCode = 110;
        return false;
      case OpenFailure::kNone:
        throw;
    }
    throw;
  }
  if (zipWriter1_->FileMode() != (FileMode::fmOpenRead | FileMode::fmShareDenyNone)) return true;
  // The component fell back to reading an archive it may not write; every set would
  // fail with "File is open in read-only mode". Name the reason instead.
  s.ResultCode = ReadOnlyArchiveResult(fs_, s.ArchiveFileName);
  zipWriter1_->CloseArchiveFile();
  return false;
}

void TBackupForm::AddDataFileSets() {
  const std::string& selector = state_.FileSetSelector;
  std::vector<std::string> masks;
  if (selector == "vess")
    masks = {"fi*.dat", "fi*.idx",  "pe*.dat",  "pe*.idx", "sy*.dat",
             "sy*.idx", "arc*.dat", "arc*.idx", "vi*.dat", "vi*.idx"};
  else if (selector == "Contri")
    masks = {"fi0020.*", "fi0004.*"};
  else
    masks = {selector};
  for (const std::string& mask : masks) {
    if (backupAborted_) return;
    AddFileSet(mask);
  }
  if (selector == "vess" && !backupAborted_ && fs_.FileExists(state_.DataPath + "..\\vess_rpt.dic"))
    AddFileSet("..\\vess_rpt.dic");
}

void TBackupForm::AddPictureSets() {
  for (const char* mask : {"Picture\\h*.*", "Picture\\m*.*", "Picture\\g*.*"}) {
    if (backupAborted_) return;
    AddFileSet(mask);
  }
}

void TBackupForm::AddFileSet(const std::string& mask) {
  zipWriter1_->AddFilesByMask(state_.DataPath + mask, 0x2F, "");
}

void TBackupForm::ReportResult() {
  const RunState& s = state_;
  std::string text;
  switch (s.ResultCode) {
    case 100:
      text = "No zip file was found on device specified - " + s.TargetDir;
      break;
    case 110:
      text =
          "An existing zip file exists and is corrupt.  Delete the existing zip file and try again";
      break;
    case 140:  // the folder that was searched, not the target
      text = "Nothing to do - No data files found in directory " + s.DataPath;
      break;
    case 180:
      text =
          "The Backup - Restore DLL is currently in use by another process - please try again "
          "later";
      break;
    case 190:
      text = "Backup was aborted - zip file is incomplete";
      break;
    case 280:
      text = "Check drive for presence of diskette";
      break;
    case 310:
      text = "Cannot create file - Check drive letter or the Write Lock tab on the diskette";
      break;
    case 400:
      text =
          "Chances are that all files were not backed up - Close all forms at all work stations "
          "and try again";
      break;
    case 527:
      return;
    default:
      text = Format("Unknown error occurred - %d", {s.ResultCode});
      break;
  }
  ui_.ShowNotice("Error occurred - " + text);
}

void TBackupForm::ZipWriter1ProcessFileFailure(TZWBaseArchiver*, const std::string& FileName,
                                               TZWProcessOperation, int32_t, int32_t,
                                               const std::string&, TZWAction& Action) {
  std::string upper = AsciiUpperCase(fs_.DisplayName(FileName));
  size_t cut = upper.find_last_of("\\/:");
  std::string namePart = cut == std::string::npos ? upper : upper.substr(cut + 1);
  if (namePart == "SY0125.IDX" || namePart == "SY0125.DAT" || TextMatchesMask(namePart, "VI*.*") ||
      TextMatchesMask(namePart, "ARC*.*"))
    return;
  ui_.ShowNotice("Skipping file " + upper + " as it cannot be backed up - ");
  int answer =
      ui_.AskChoice("Do you want to abort the backup? ", TMsgDlgType::mtError, mbYes | mbNo);
  if (answer != mrYes) return;
  // Stop: this batch rolls back, no further set is added, the user hears it is incomplete.
  backupAborted_ = true;
  Action = fxaAbort;
}

void TBackupForm::FormClose() {
  if (zipWriter1_) zipWriter1_->CloseArchiveFile();
}

}  // namespace zw
