#pragma once

#include <csignal>

// Signal dispositions for a process that writes an output file: SIGPIPE is
// ignored (a reader of the progress reports that goes away must not end the
// run; the failed write is simply dropped), SIGXFSZ is ignored (a file-size
// limit becomes a write error that is reported), and SIGINT, SIGTERM and SIGHUP
// remove the pending temporary file before ending the process as they would
// have. Signals the caller already ignores stay ignored. Safe to call again.
void installOutputSignalHandling();

// The temporary file the handlers remove; null when there is none. The path
// is copied; one pending file at a time.
void setPendingTemporary(const char *path);

// Holds off SIGINT, SIGTERM and SIGHUP on this thread while it lives, so that
// a temporary file is never created without being registered for removal.
class TerminationSignalsDeferred {
public:
  TerminationSignalsDeferred();
  ~TerminationSignalsDeferred();
  TerminationSignalsDeferred(const TerminationSignalsDeferred &) = delete;
  TerminationSignalsDeferred &operator=(const TerminationSignalsDeferred &) = delete;

private:
  sigset_t previous_;
};
