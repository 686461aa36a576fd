#include "mailing/core_dumps.h"

#include <sys/prctl.h>
#include <sys/resource.h>

void TurnOffCoreDumps() {
    // Not dumpable: no core file, whatever the limit says later, and no other process of the user may
    // read this one's memory through /proc or ptrace.
    ::prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    const rlimit none{0, 0};
    ::setrlimit(RLIMIT_CORE, &none);
}
