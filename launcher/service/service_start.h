// How a process with no command word tells whether the service control manager started it, without
// calling the dispatcher: that call, made from a console, fails only after a delay (ten seconds under
// Wine while another service runs).
#pragma once

namespace morix {

// True when this process's parent is the service control manager's process, services.exe in the
// system directory. A parent that cannot be looked at counts as not the manager.
bool startedByServiceManager();

} // namespace morix
