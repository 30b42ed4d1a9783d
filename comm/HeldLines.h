#pragma once

namespace krv::comm {

class WaitAbort;

// The serial lines this program holds open, so that SIGINT and SIGTERM end
// it only after each has been let go: its exclusive mark, lock file and line
// settings put back, which the system does not do for a pseudo-terminal
// whose other end stays open.
namespace held_lines {

// A port is about to take a line; `abort` wakes its waits. False once the
// program is stopping: the port must not take the line then.
[[nodiscard]] bool enter(WaitAbort *abort);
// The port has let go of the line (or never got it).
void leave(WaitAbort *abort);

// Installs the handlers for SIGINT and SIGTERM. The handler only wakes a
// watcher thread, which cuts the held lines' waits short, waits (a few
// seconds at most) until they are let go and then ends the program by the
// same signal. A second signal ends it at once. Call once from main(),
// before starting threads; false when the handlers cannot be installed.
[[nodiscard]] bool stopOnSignals();

// For a command that runs until stopped and ends with a normal exit: once
// the lines are let go, the signal's number is written as one byte to `fd`
// (a pipe the event loop watches) instead of ending the program by it. A
// second signal still ends the program at once.
void stopThrough(int fd);

} // namespace held_lines

} // namespace krv::comm
