// A program run as a child process with a time budget: for work that cannot
// be interrupted inside the process (a library call that may run for
// minutes), so that the caller can stop waiting and the work is ended.
// POSIX hosts only (the programs that use it are not built for Windows).
//
// The child is made by fork and exec, never by fork alone: a fork of a
// process with threads copies only the calling thread, so a lock another
// thread held at that moment (the allocator's, a library's) stays held in
// the child for good, and the child's first call that takes it never returns.
// A fresh program starts with none held.
#ifndef TQ_HOST_CHILD_H
#define TQ_HOST_CHILD_H

#include <string>
#include <vector>

// How runProgramWithin ended.
enum class ChildEnd {
    Answered,    // the program exited with code 0: its standard output is the answer
    PastBudget,  // the budget passed first: the program was killed and reaped
    Failed,      // it could not be started, or ended otherwise: the reason is given
};

// Runs the program file `program` with `args` (argv[1..]), writes `input`
// to its standard input, and gathers its standard output in `out` for at
// most `budgetMs` milliseconds. Its standard error is the caller's. The
// program is also ended by an alarm past the budget should the caller be
// gone before it. `error` names the reason of Failed. Thread-safe: each call
// has its own pipes and child.
ChildEnd runProgramWithin(const std::string &program, const std::vector<std::string> &args, const std::string &input,
                          int budgetMs, std::string &out, std::string &error);

// The file of the running program, or "" when the host cannot tell.
std::string ownProgramPath();

#endif
