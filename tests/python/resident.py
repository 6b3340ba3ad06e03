"""The process's resident memory, read from /proc so that the memory tests need no peer (psutil has no
free-threaded build) and run on every interpreter."""

import os

PAGE = os.sysconf("SC_PAGE_SIZE")


def resident_bytes():
    """Resident set size of this process now, in bytes (the second field of /proc/self/statm, in pages)."""
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * PAGE
