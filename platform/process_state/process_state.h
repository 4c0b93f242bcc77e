// The process-wide state of our libraries, and the one way to put it back.
//
// A few things live once per process: the defaults suites already read, the main bundle and
// the data directory, the SDK's configured app and component registry, log sinks, probes and
// the like. Whoever moves such state away from what a fresh process has adds, once, the
// function that puts it back; `resetProcessState()` runs them all. The program never calls
// it: a test environment does, before and after each test, so no test depends on what an
// earlier one left behind.
//
//   void setSink(Sink sink) {
//     platform::addProcessStateReset(+[] { gSink = nullptr; });
//     gSink = std::move(sink);
//   }
//
// Threads: adding is safe from any thread. Resetting is for a quiet process: nothing else
// may use the state while it runs.
#pragma once

namespace platform {

using ProcessStateReset = void (*)();

// Adds `reset` to the process's list; adding the same function again does nothing.
void addProcessStateReset(ProcessStateReset reset);

// Runs every reset added so far, the most recently added first. The list is kept: putting
// back state that is already fresh does nothing.
void resetProcessState();

}  // namespace platform
