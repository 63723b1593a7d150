// The Save and Open dialogs of the Qt provider, and the conversions they need
// between this system's Windows-style requests and Qt's forms.
#pragma once

#include <QString>
#include <optional>
#include <string>

#include "UserInterface.h"

class QWidget;

namespace zw {

// "Desc|pattern|Desc|pattern" as Qt's "Desc (pattern);;Desc (pattern)": the
// description is kept as given and " (pattern)" is added unless the description
// already ends with it; ";"-separated patterns become blank-separated (Qt's form),
// and the test for the ending uses that form. An entry without a pattern is left
// out.
QString QtFilterText(const std::string& filter);

// The host folder of a Windows-style folder (relative ones taken against the active
// file system's current directory, drive letters mapped with ZW_DRIVE_x); nullopt
// for an empty text or a folder without a host form.
std::optional<QString> HostFolder(const std::string& folder);

// Runs Qt's own (not the native) Save or Open dialog; on acceptance `path` is the
// chosen file's absolute host path in the rooted "\" form.
bool RunFileDialog(QWidget* parent, bool save, const FileDialogRequest& request, std::string& path);

}  // namespace zw
