// The events engine units fire through the archiver, as small interfaces: a unit that
// needs only events is handed one of these instead of the archiver, so it neither
// includes the component's surface nor reaches the archiver's whole state.
#pragma once

#include <cstdint>
#include <string>

#include "ZWTypes.h"

namespace zw {

class TZWBaseArchiver;

// Progress of an entry and of the whole run; a handler may set `cancel`.
class TZWProgressEvents {
 public:
  virtual void FileProgress(const std::string& name, double progress, TZWProcessOperation op,
                            TZWProgressPhase phase, bool& cancel) = 0;
  virtual void OverallProgress(double progress, TZWProcessOperation op, TZWProgressPhase phase,
                               bool& cancel) = 0;

 protected:
  ~TZWProgressEvents() = default;
};

// Requests for the volumes of a multi-volume archive (`n` 0-based) and the report of
// a full disk; a handler may change the volume's `name` and set `cancel`.
class TZWVolumeEvents {
 public:
  virtual void RequestBlankVolume(int32_t n, std::string& name, bool& cancel) = 0;
  virtual void RequestFirstVolume(std::string& name, bool& cancel) = 0;
  virtual void RequestLastVolume(std::string& name, bool& cancel) = 0;
  virtual void RequestMiddleVolume(int32_t n, std::string& name, bool& cancel) = 0;
  virtual void ReportDiskFull(int32_t n, const std::string& name, bool& cancel) = 0;

 protected:
  ~TZWVolumeEvents() = default;
};

// An entry that could not be processed: the handler answers with `action` (retry,
// ignore or abort).
class TZWFailureEvents {
 public:
  virtual void ProcessFileFailure(const std::string& name, TZWProcessOperation op, int32_t native,
                                  int32_t code, const std::string& message, TZWAction& action) = 0;

 protected:
  ~TZWFailureEvents() = default;
};

// The password of an encrypted entry being read: the handler gives one, or skips it.
class TZWPasswordEvents {
 public:
  virtual void Password(const std::string& name, std::string& password, bool& skip) = 0;

 protected:
  ~TZWPasswordEvents() = default;
};

// An existing file about to be replaced: the handler may change `dest` or say no.
class TZWOverwriteEvents {
 public:
  virtual void ConfirmOverwrite(const std::string& source, std::string& dest, bool& confirm) = 0;

 protected:
  ~TZWOverwriteEvents() = default;
};

// The events of an archiver, fired as the archiver fires them (defined with the
// component, ZipWriter.cpp).
class TZWArchiverEvents final : public TZWProgressEvents,
                                public TZWVolumeEvents,
                                public TZWFailureEvents,
                                public TZWPasswordEvents,
                                public TZWOverwriteEvents {
 public:
  explicit TZWArchiverEvents(TZWBaseArchiver& archiver) : archiver_(archiver) {}
  void FileProgress(const std::string& name, double progress, TZWProcessOperation op,
                    TZWProgressPhase phase, bool& cancel) override;
  void OverallProgress(double progress, TZWProcessOperation op, TZWProgressPhase phase,
                       bool& cancel) override;
  void RequestBlankVolume(int32_t n, std::string& name, bool& cancel) override;
  void RequestFirstVolume(std::string& name, bool& cancel) override;
  void RequestLastVolume(std::string& name, bool& cancel) override;
  void RequestMiddleVolume(int32_t n, std::string& name, bool& cancel) override;
  void ReportDiskFull(int32_t n, const std::string& name, bool& cancel) override;
  void ProcessFileFailure(const std::string& name, TZWProcessOperation op, int32_t native,
                          int32_t code, const std::string& message, TZWAction& action) override;
  void Password(const std::string& name, std::string& password, bool& skip) override;
  void ConfirmOverwrite(const std::string& source, std::string& dest, bool& confirm) override;

 private:
  TZWBaseArchiver& archiver_;
};

}  // namespace zw
