#pragma once
// How many processors the process may run on.

namespace platform {

// The processors the process may run on (its affinity: `taskset`, a container's cpuset), at
// least 1. A CPU quota that is not a set of processors is not seen.
unsigned UsableProcessors();

} // namespace platform
