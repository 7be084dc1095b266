// Termination requests: SIGTERM and SIGINT set a flag that the daemon reads at
// whole-message boundaries and while it waits, instead of ending the process
// in the middle of a message.
#ifndef TQ_HOST_SIGNALS_H
#define TQ_HOST_SIGNALS_H

// Installs the handlers of SIGTERM and SIGINT. System calls they interrupt
// are not restarted, so a read that waits for the stream returns at once.
void installStopSignals();

// The signal that asked the process to stop, or 0.
int stopSignal();
inline bool stopRequested() { return stopSignal() != 0; }

// Sleeps for the given milliseconds, or less when a stop is requested.
void sleepUnlessStopped(int milliseconds);

#endif
