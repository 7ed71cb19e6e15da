// Application class-data sharing ([jvm] class_data_sharing): the VM maps the classes of the application
// from a dynamic archive in the per-user cache (config/user_cache.h) instead of loading and verifying
// them again. The archive belongs to one launcher build, one runtime, one set of VM options and one class
// path, whose archives keep their size and time: all of these make its name, so a change of any of them
// finds no archive, starts normally and makes a new one at the end of the run (-XX:ArchiveClassesAtExit,
// written under a temporary name and renamed into place). An archive whose content does not match the
// checksum in its name is damaged: it is removed and made anew, as the VM could crash on it. -Xshare:auto
// lets the VM start without the archive whenever it refuses it.
#pragma once

#include "windows/vm_options.h"

#include <cstddef>
#include <string>

namespace morix {

// The smallest feature version whose VM can make a dynamic archive.
inline constexpr int kClassDataMinimumFeature = 13;

// True when this run shares class data: the key is set, the runtime is recent enough and the per-user
// cache exists. Decided once, after the runtime has been found.
bool classDataSharingActive();

// Puts the sharing options at `position` of the assembled options (after the launcher's own
// properties), unless sharing is off or the configured options already choose for themselves. The
// archives extracted for this run (in its own directory, which no later run shares) are then replaced on
// the class and module paths by their stable copies in the cache; only then, so that a run that does not
// share copies nothing.
void addClassDataOptions(VmOptionList& options, size_t position);

// Renames the archive this run made into place. Called when the VM has ended (DestroyJavaVM returned, or
// the exit hook); does nothing when there is none.
void finishClassDataArchive();

} // namespace morix
