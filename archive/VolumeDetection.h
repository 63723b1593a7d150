// Detecting a multi-volume archive when an existing one is opened: which volume holds
// the end record, how the volumes are named and whether they are split files or
// spanned disks. Each step reads the end record through a new directory manager on
// the volume opened.
#pragma once

#include <functional>

namespace zw {

class TStream;
class TZWVolumeNumberInfo;
struct TZWSettings;
struct TZWVolumeContext;

// How a directory manager made by detection opens another volume of the set: it
// returns the session's stream on that volume. The managers keep it, so it must not
// refer to anything shorter-lived than the open archive.
using TZWVolumeOpener = std::function<TStream*(TZWVolumeNumberInfo& volume)>;

// Detection writes the spanning mode and the volume naming it finds to `settings`
// (the settings `volumes` reads), opens volumes through `volumes`, and leaves the
// session's directory manager on the volume that holds the end record.
void DetectVolumes(TZWSettings& settings, const TZWVolumeContext& volumes,
                   const TZWVolumeOpener& opener);
// The same for an archive with an executable's name (a self-extracting one, whose last
// volume may be named otherwise).
void DetectExeVolumes(TZWSettings& settings, const TZWVolumeContext& volumes,
                      const TZWVolumeOpener& opener);

}  // namespace zw
