// iofloor: the I/O floor of a daemon run. Reads the traces and the message
// log a run produced, splits them into the entries the daemon wrote, and
// appends each entry again to fresh files, opening, writing and closing the
// file for every entry exactly as the daemon's writers do. The time this takes
// is the least any daemon keeping the same log contract can spend on it.
//
//   iofloor --std tq_std.trc --n2o tq_n2o.trc --log tqdaemon.log --out DIR [--repeat N]
//
// Entries: a trace entry starts at a line that begins with "[<ctime>]\t"
// (entries may hold line breaks of their own, so lines are not entries); a
// message-log entry starts at a line that begins with "MM/DD/YY HH:MM:SS:
// tqdaemon.exe: ", and the header line before the first entry is an entry
// of its own. The three files' entries are interleaved in proportion, as the
// daemon interleaves them. Prints key=value lines; time_us (wall) and cpu_us
// (user + system) are the medians of the repeats, min_us and cpu_min_us the
// least.
#include "host/hostfile.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Entry {
    size_t offset;
    size_t length;
};

struct Source {
    const char *label;
    std::string path;
    std::string data;
    std::vector<Entry> entries;
    std::string outPath;
};

bool digit(char c) { return c >= '0' && c <= '9'; }

// "[Www Mmm dd hh:mm:ss yyyy]\t" at p (27 bytes).
bool traceEntryAt(const std::string &s, size_t p)
{
    if (s.size() - p < 27)
        return false;
    const char *t = s.data() + p;
    return t[0] == '[' && t[4] == ' ' && t[8] == ' ' && t[11] == ' ' && t[14] == ':' && t[17] == ':' &&
           t[20] == ' ' && digit(t[21]) && digit(t[22]) && digit(t[23]) && digit(t[24]) && t[25] == ']' &&
           t[26] == '\t';
}

// "MM/DD/YY HH:MM:SS: tqdaemon.exe: " at p.
bool logEntryAt(const std::string &s, size_t p)
{
    static const char kTail[] = ": tqdaemon.exe: ";
    const size_t need = 17 + sizeof kTail - 1;
    if (s.size() - p < need)
        return false;
    const char *t = s.data() + p;
    for (int i : {0, 1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16})
        if (!digit(t[i]))
            return false;
    return t[2] == '/' && t[5] == '/' && t[8] == ' ' && t[11] == ':' && t[14] == ':' &&
           std::memcmp(t + 17, kTail, sizeof kTail - 1) == 0;
}

// Splits at the line starts where startsAt() holds; text before the first
// such line is an entry of its own.
std::vector<Entry> split(const std::string &s, bool (*startsAt)(const std::string &, size_t))
{
    std::vector<Entry> out;
    size_t begin = 0;
    size_t p = 0;
    while (p < s.size()) {
        if (p > begin && startsAt(s, p)) {
            out.push_back({begin, p - begin});
            begin = p;
        }
        const size_t lineEnd = s.find('\n', p);
        if (lineEnd == std::string::npos)
            break;
        p = lineEnd + 1;
    }
    if (begin < s.size())
        out.push_back({begin, s.size() - begin});
    return out;
}

bool readFile(const std::string &path, std::string &data)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return !in.bad();
}

[[noreturn]] void usage(const char *why)
{
    if (why != nullptr)
        std::fprintf(stderr, "iofloor: %s\n", why);
    std::fprintf(stderr, "usage: iofloor --std FILE --n2o FILE --log FILE --out DIR [--repeat N]\n");
    std::exit(2);
}

}  // namespace

int main(int argc, char **argv)
{
    std::vector<Source> sources(3);
    sources[0].label = "std";
    sources[1].label = "n2o";
    sources[2].label = "log";
    std::string outDir;
    int repeat = 1;
    for (int i = 1; i < argc; ++i) {
        std::string opt = argv[i];
        if (i + 1 >= argc)
            usage(("missing value for " + opt).c_str());
        const char *v = argv[++i];
        if (opt == "--std")
            sources[0].path = v;
        else if (opt == "--n2o")
            sources[1].path = v;
        else if (opt == "--log")
            sources[2].path = v;
        else if (opt == "--out")
            outDir = v;
        else if (opt == "--repeat")
            repeat = std::max(1, std::atoi(v));
        else
            usage(("unknown option " + opt).c_str());
    }
    if (outDir.empty())
        usage("--out is required");

    size_t total = 0;
    for (Source &s : sources) {
        if (s.path.empty())
            continue;   // a file the run did not produce has no entries
        if (!readFile(s.path, s.data)) {
            std::fprintf(stderr, "iofloor: cannot read %s: %s\n", s.path.c_str(), std::strerror(errno));
            return 1;
        }
        s.entries = split(s.data, &s == &sources[2] ? logEntryAt : traceEntryAt);
        s.outPath = outDir + "/" + s.label + ".out";
        total += s.entries.size();
    }

    // The order of the appends: each file's entries spread evenly over the run.
    std::vector<std::pair<size_t, size_t>> order;   // (source, entry)
    order.reserve(total);
    {
        std::vector<size_t> next(sources.size(), 0);
        for (size_t n = 0; n < total; ++n) {
            size_t best = sources.size();
            double bestAt = 2.0;
            for (size_t k = 0; k < sources.size(); ++k) {
                if (next[k] >= sources[k].entries.size())
                    continue;
                double at = (static_cast<double>(next[k]) + 0.5) / static_cast<double>(sources[k].entries.size());
                if (at < bestAt) {
                    bestAt = at;
                    best = k;
                }
            }
            order.emplace_back(best, next[best]++);
        }
    }

    std::vector<double> times;
    std::vector<double> cpuTimes;
    auto cpuNow = [] {
        rusage use{};
        getrusage(RUSAGE_SELF, &use);
        return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) * 1e6 +
               static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec);
    };
    for (int r = 0; r < repeat; ++r) {
        for (Source &s : sources)
            if (!s.outPath.empty())
                unlink(s.outPath.c_str());
        const double c0 = cpuNow();
        auto t0 = std::chrono::steady_clock::now();
        for (const auto &[k, e] : order) {
            const Source &s = sources[k];
            const Entry &entry = s.entries[e];
            if (!hostAppend(s.outPath, s.data.data() + entry.offset, entry.length)) {
                std::fprintf(stderr, "iofloor: cannot append to %s: %s\n", s.outPath.c_str(), std::strerror(errno));
                return 1;
            }
        }
        auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::micro>(t1 - t0).count());
        cpuTimes.push_back(cpuNow() - c0);
        // The copies must be byte for byte what the daemon wrote.
        for (const Source &s : sources) {
            if (s.outPath.empty())
                continue;
            struct stat st;
            if (stat(s.outPath.c_str(), &st) != 0 || static_cast<size_t>(st.st_size) != s.data.size()) {
                std::fprintf(stderr, "iofloor: %s does not match %s in size\n", s.outPath.c_str(), s.path.c_str());
                return 1;
            }
        }
    }
    for (const Source &s : sources)
        if (!s.outPath.empty())
            unlink(s.outPath.c_str());

    std::vector<double> sorted = times;
    std::sort(sorted.begin(), sorted.end());
    for (const Source &s : sources)
        std::printf("entries_%s=%zu\nbytes_%s=%zu\n", s.label, s.entries.size(), s.label, s.data.size());
    std::printf("entries=%zu\n", total);
    std::printf("time_us=%.0f\n", sorted[sorted.size() / 2]);
    std::printf("min_us=%.0f\n", sorted.front());
    std::sort(cpuTimes.begin(), cpuTimes.end());
    std::printf("cpu_us=%.0f\n", cpuTimes[cpuTimes.size() / 2]);
    std::printf("cpu_min_us=%.0f\n", cpuTimes.front());
    std::printf("per_entry_us=%.3f\n", total > 0 ? sorted[sorted.size() / 2] / static_cast<double>(total) : 0.0);
    return 0;
}
