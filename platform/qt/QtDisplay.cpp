#include "QtDisplay.h"

#include <dlfcn.h>

#include <QCoreApplication>
#include <QDir>
#include <QJsonArray>
#include <QJsonObject>
#include <QLibraryInfo>
#include <QPluginLoader>
#include <QStringList>
#include <cstdlib>
#include <vector>

namespace zw {

namespace {

std::string& Chosen() {
  static std::string platform;
  return platform;
}

// The X connection of the check, held until Qt has its own: an X server resets
// when its last client leaves (Xvfb among them), and a connection made during the
// reset is refused.
struct HeldConnection {
  void* connection = nullptr;
  void (*disconnect)(void*) = nullptr;
  void Release() {
    if (connection) disconnect(connection);
    connection = nullptr;
  }
};
HeldConnection& HeldX() {
  static HeldConnection held;
  return held;
}

std::string EnvText(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

// Where Qt looks for platform plugins (its library paths without the program's
// own folder, which holds none here).
QStringList PlatformPluginDirs() {
  QStringList dirs;
  if (std::string own = EnvText("QT_QPA_PLATFORM_PLUGIN_PATH"); !own.empty())
    dirs << QString::fromLocal8Bit(own);
  for (const QString& base :
       QString::fromLocal8Bit(EnvText("QT_PLUGIN_PATH")).split(':', Qt::SkipEmptyParts))
    dirs << base + QStringLiteral("/platforms");
  dirs << QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms");
  return dirs;
}

bool NamesPlatform(const QJsonObject& metaData, const QString& name) {
  if (!metaData.value(QStringLiteral("IID"))
           .toString()
           .startsWith(
               QStringLiteral("org.qt-project.Qt.QPA.QPlatformIntegrationFactoryInterface")))
    return false;
  const QJsonArray keys =
      metaData.value(QStringLiteral("MetaData")).toObject().value(QStringLiteral("Keys")).toArray();
  for (const auto& key : keys)
    if (key.toString().compare(name, Qt::CaseInsensitive) == 0) return true;
  return false;
}

// Plugins are found by the platform names in their metadata, as Qt finds them. A
// plugin file that is there but does not load (a library it needs is missing) makes
// Qt abort just the same, so it is loaded here; Qt uses the loaded copy later.
std::string PluginProblem(const QString& name) {
  std::string problem = "Qt's " + name.toStdString() + " platform plugin is not installed";
  for (const QString& dir : PlatformPluginDirs()) {
    for (const QString& file : QDir(dir).entryList(QDir::Files)) {
      QPluginLoader loader(QDir(dir).filePath(file));
      if (!NamesPlatform(loader.metaData(), name)) continue;
      if (loader.load()) return {};
      problem = "Qt's " + name.toStdString() +
                " platform plugin does not load: " + loader.errorString().toStdString();
    }
  }
  return problem;
}

// The client libraries that Qt's plugins connect with are opened directly, so no
// headers or link dependencies are needed; they stay loaded for the plugin.
void* ClientLibrary(const char* soname) { return dlopen(soname, RTLD_NOW | RTLD_LOCAL); }

template <typename Function>
Function Symbol(void* library, const char* name) {
  return reinterpret_cast<Function>(dlsym(library, name));
}

std::string XServerProblem() {
  std::string display = EnvText("DISPLAY");
  if (display.empty()) return "DISPLAY is not set";
  void* xcb = ClientLibrary("libxcb.so.1");
  if (!xcb) return "libxcb is not installed";
  auto connect = Symbol<void* (*)(const char*, int*)>(xcb, "xcb_connect");
  auto hasError = Symbol<int (*)(void*)>(xcb, "xcb_connection_has_error");
  auto disconnect = Symbol<void (*)(void*)>(xcb, "xcb_disconnect");
  if (!connect || !hasError || !disconnect) return "libxcb lacks its connection functions";
  void* connection = connect(nullptr, nullptr);  // xcb never returns null
  if (!connection || hasError(connection) != 0) {
    if (connection) disconnect(connection);
    return "the X display " + display + " does not answer";
  }
  HeldX().Release();
  HeldX() = {connection, disconnect};
  return {};
}

std::string WaylandProblem() {
  std::string display = EnvText("WAYLAND_DISPLAY");
  void* wayland = ClientLibrary("libwayland-client.so.0");
  if (!wayland) return "libwayland-client is not installed";
  auto connect = Symbol<void* (*)(const char*)>(wayland, "wl_display_connect");
  auto disconnect = Symbol<void (*)(void*)>(wayland, "wl_display_disconnect");
  if (!connect || !disconnect) return "libwayland-client lacks its connection functions";
  void* connection = connect(nullptr);  // WAYLAND_DISPLAY, or wayland-0 as Qt does
  if (!connection)
    return "the Wayland display " + (display.empty() ? "wayland-0" : display) + " does not answer";
  disconnect(connection);
  return {};
}

// A platform spec is "name" or "name:options".
std::string PlatformProblem(const std::string& spec) {
  QString name = QString::fromStdString(spec.substr(0, spec.find(':')));
  if (std::string problem = PluginProblem(name); !problem.empty()) return problem;
  if (name == QStringLiteral("xcb")) return XServerProblem();
  if (name.startsWith(QStringLiteral("wayland"))) return WaylandProblem();
  return {};
}

}  // namespace

std::string QtDisplayProblem() {
  Chosen().clear();
  if (QCoreApplication::instance()) return {};
  std::vector<std::string> candidates;
  if (std::string given = EnvText("QT_QPA_PLATFORM"); !given.empty()) {
    for (const QString& spec : QString::fromStdString(given).split(';', Qt::SkipEmptyParts))
      candidates.push_back(spec.trimmed().toStdString());
  } else {
    // Qt's own order: Wayland first when a Wayland session is there.
    if (!EnvText("WAYLAND_DISPLAY").empty()) candidates.push_back("wayland");
    if (!EnvText("DISPLAY").empty()) candidates.push_back("xcb");
  }
  if (candidates.empty()) return "no display: DISPLAY and WAYLAND_DISPLAY are not set";
  std::string problems;
  for (const std::string& spec : candidates) {
    std::string problem = PlatformProblem(spec);
    if (problem.empty()) {
      Chosen() = spec;
      return {};
    }
    problems += (problems.empty() ? "" : "; ") + problem;
  }
  return problems;
}

const std::string& ChosenQtPlatform() { return Chosen(); }

void ReleaseDisplayCheck() { HeldX().Release(); }

}  // namespace zw
