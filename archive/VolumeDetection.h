// Detecting a multi-volume archive when an existing one is opened: which volume holds
// the end record, how the volumes are named and whether they are split files or
// spanned disks. Each step reads the end record through a new directory manager on
// the volume opened.
#pragma once

namespace zw {

class TZWBaseArchiver;

void DetectSpanningMode(TZWBaseArchiver& a);
void DetectVolumes(TZWBaseArchiver& a);
void DetectExeVolumes(TZWBaseArchiver& a);

}  // namespace zw
