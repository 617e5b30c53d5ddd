#pragma once

struct ProgramOptions;

// Runs the dispatcher without a window on the running QCoreApplication until SIGTERM
// or SIGINT; returns the exit status. The periods can be shortened for tests through
// QUILLPOST_PERIODS="SCHEDULER_MS,TICK_MS,CLOSE_PAUSE_MS[,HANG_UP_PAUSE_MS]".
int RunHeadlessDispatcher(const ProgramOptions& options);
