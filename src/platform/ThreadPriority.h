#pragma once

// Lowers the CPU niceness and the I/O priority of the calling thread, so a backup run
// leaves the desktop responsive. Failures are ignored: the run works at any priority.
void lowerCurrentThreadPriority();
