// Work run in a child process with a time budget: for work that cannot be
// interrupted inside the process (a library call that may run for minutes),
// so that the caller can stop waiting and the work is ended. POSIX hosts only
// (the programs that use it are not built for Windows).
#ifndef TQ_HOST_CHILD_H
#define TQ_HOST_CHILD_H

#include <functional>
#include <string>

// Runs `work` in a child process made by fork() and waits at most
// `budgetMs` milliseconds for the text it returns. True with the text in
// `out`; false when the budget passed (the child is then killed and reaped)
// or the child could not be made or ended without a result. `forked` runs in
// the parent right after fork(), before the wait (to release what was held
// across it). The child calls only `work` and then _exit.
bool runInChild(const std::function<std::string()> &work, int budgetMs, std::string &out,
                const std::function<void()> &forked);

#endif
