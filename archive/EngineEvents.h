// The events engine units fire through the archiver, as small interfaces: a unit that
// needs only events is handed one of these instead of the archiver, so it neither
// includes the component's surface nor reaches the archiver's whole state.
#pragma once

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

// The progress events of an archiver, fired as the archiver fires them (defined with
// the component, ZipWriter.cpp).
class TZWArchiverEvents final : public TZWProgressEvents {
 public:
  explicit TZWArchiverEvents(TZWBaseArchiver& archiver) : archiver_(archiver) {}
  void FileProgress(const std::string& name, double progress, TZWProcessOperation op,
                    TZWProgressPhase phase, bool& cancel) override;
  void OverallProgress(double progress, TZWProcessOperation op, TZWProgressPhase phase,
                       bool& cancel) override;

 private:
  TZWBaseArchiver& archiver_;
};

}  // namespace zw
