// The crashing call chain built without optimisation and with frame pointers.
#define FRAMES_NAME(name) fp_##name
#include "crash-reporting/core/tests/crash_frames.inc"
