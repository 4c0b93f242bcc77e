// The crashing call chain built with -O2 and without frame pointers.
#define FRAMES_NAME(name) nofp_##name
#include "crash-reporting/core/tests/crash_frames.inc"
