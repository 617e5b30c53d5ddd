#pragma once

struct ProgramOptions;

// Runs the dispatcher without a window on the running QCoreApplication until SIGTERM
// or SIGINT; returns the exit status. A build with QUILLPOST_TEST_PERIODS lets tests
// shorten the periods, the send's time-out with its ticks, through
// QUILLPOST_PERIODS="SCHEDULER_MS,TICK_MS,CLOSE_PAUSE_MS[,HANG_UP_PAUSE_MS]"; any
// other build ignores the variable.
int RunHeadlessDispatcher(const ProgramOptions& options);
