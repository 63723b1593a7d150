// The backup utility: its one window, the run parameters and the backup job.
//
// The records data base application starts the utility with five positional
// parameters: mode (1-8), picture option (0-2), data folder (with its trailing
// separator), archive base name, file-set selector. The run happens inside the
// window's first activation; every message goes through the user interaction
// services, and the application ends itself when the run is over. An error that
// escapes the run is shown in an error box and the window stays open until closed.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "Component.h"
#include "FormLayout.h"
#include "UserInterface.h"
#include "ZipWriter.h"

namespace zw {

class FileSystem;

// The process-wide values of one run.
struct RunState {
  std::array<std::string, 5> RunParameters;
  int32_t RunMode = 0;
  int32_t PictureOption = 0;
  std::string DataPath;
  std::string ArchiveName;
  std::string FileSetSelector;
  std::string ChosenDir;
  std::string TargetDir;
  std::string ArchiveFileName;
  bool AbortRun = false;
  int32_t ResultCode = 0;
};

// Delphi-style integer conversion: optional blanks and sign, decimal digits or a
// "$"/"0x" hexadecimal number fitting 32 bits; anything else raises EConvertError
// "'%s' is not a valid integer value".
int32_t StrToInt(const std::string& text);

// Exit status of the program, for the application that starts it.
enum BkupExitStatus : int {
  kBkupDone = 0,           // "Backup Complete", or a restore mode whose checks passed
  kBkupError = 1,          // an error escaped the run (the error box)
  kBkupBadParameters = 2,  // a parameter check failed or the location was not chosen
  kBkupIncomplete = 3,     // a backup ended with "Error occurred - ..."
};

class TBackupForm : public TComponent, public ApplicationWindow {
 public:
  // `args` are the command-line parameters after the program name.
  TBackupForm(const StoredLayout& layout, std::vector<std::string> args, UserInterface& ui,
              FileSystem& fs);
  ~TBackupForm() override;

  // ApplicationWindow
  const WindowLayout& Layout() const override { return window_; }
  void Activate() override { FormActivate(); }
  void Close() override { FormClose(); }

  // Handlers bound by the stored layout.
  void FormActivate();
  void FormClose();

  // The component's per-file failure handler (bound by the stored layout).
  void ZipWriter1ProcessFileFailure(TZWBaseArchiver* Sender, const std::string& FileName,
                                    TZWProcessOperation Operation, int32_t NativeError,
                                    int32_t ErrorCode, const std::string& ErrorMessage,
                                    TZWAction& Action);

  const RunState& State() const { return state_; }
  // How the run ended; meaningful once the user interface's Run has returned.
  BkupExitStatus ExitStatus() const;
  TZipWriter& ZipWriter1() { return *zipWriter1_; }

 private:
  void StartRun();
  void ReadRunParameters();
  void ChooseLocation();
  void ApplySaveChoice(const std::string& path);
  void RunBackup();
  void AddDataFileSets();
  void AddPictureSets();
  void AddFileSet(const std::string& mask);
  bool OpenArchive();
  void ReportResult();
  void SetLabel2(const std::string& text);
  void LoadLayout(const StoredLayout& layout);
  void LoadComponent(const StoredObject& stored);

  UserInterface& ui_;
  FileSystem& fs_;
  std::vector<std::string> args_;
  WindowLayout window_;
  FileDialogRequest openDialog_;
  FileDialogRequest saveDialog_;
  RunState state_;
  TZipWriter* zipWriter1_ = nullptr;  // owned by the form
  bool backupAborted_ = false;        // the user answered Yes to stop the backup
  bool backupComplete_ = false;       // "Backup Complete" was shown
  bool errorEscaped_ = false;         // the run ended with an error box
};

// The layout built into the program (frontend/BackupForm.layout).
const std::string& BuiltInBackupFormLayout();

}  // namespace zw
