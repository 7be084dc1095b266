// tqstream: writes message stream files from JSON Lines and prints any stream
// file as JSON Lines.
//
//   tqstream encode [[-i] in.jsonl] [-o out.file]
//   tqstream decode [[-i] file] [-o out.jsonl]
//   tqstream send [[-i] file] --to PIPE --port N [--address A] [--quiet]
//
// Exit status: 0 success; 1 a malformed input line (encode) or frame
// (decode); 2 usage or I/O errors.
#include "frames.h"
#include "send.h"
#include "tq_version.h"

#include <CLI/CLI.hpp>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>

namespace {

constexpr int kExitMalformed = 1;
constexpr int kExitUsage = 2;

bool readAll(const std::string &path, std::string &data)
{
    if (path.empty() || path == "-") {
        std::ostringstream ss;
        ss << std::cin.rdbuf();
        data = ss.str();
        return !std::cin.bad();
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "tqstream: cannot open '%s': %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    data.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) {
        std::fprintf(stderr, "tqstream: cannot read '%s'\n", path.c_str());
        return false;
    }
    return true;
}

bool writeAll(const std::string &path, const std::string &data)
{
    if (path.empty() || path == "-") {
        std::cout.write(data.data(), static_cast<std::streamsize>(data.size()));
        std::cout.flush();
        if (!std::cout) {
            std::fprintf(stderr, "tqstream: cannot write to standard output\n");
            return false;
        }
        return true;
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) {
        std::fprintf(stderr, "tqstream: cannot create '%s': %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    out.close();
    if (!out) {
        std::fprintf(stderr, "tqstream: cannot write '%s'\n", path.c_str());
        return false;
    }
    return true;
}

bool blank(const std::string &line)
{
    return line.find_first_not_of(" \t\r") == std::string::npos;
}

// Every line is checked; the output is written only when all are good.
int encode(const std::string &inPath, const std::string &outPath)
{
    std::string input;
    if (!readAll(inPath, input))
        return kExitUsage;

    std::string stream;
    int errors = 0;
    size_t lineNo = 0;
    std::istringstream lines(input);
    std::string line;
    while (std::getline(lines, line)) {
        ++lineNo;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (blank(line))
            continue;
        try {
            stream += tqstream::encodeFrame(tqstream::parseLine(line));
        } catch (const tqstream::StreamError &e) {
            std::fprintf(stderr, "tqstream: line %zu: %s\n", lineNo, e.what());
            ++errors;
        }
    }
    if (errors > 0) {
        std::fprintf(stderr, "tqstream: %d bad line%s, nothing written\n", errors,
                     errors == 1 ? "" : "s");
        return kExitMalformed;
    }
    return writeAll(outPath, stream) ? 0 : kExitUsage;
}

int decode(const std::string &inPath, const std::string &outPath)
{
    std::string stream;
    if (!readAll(inPath, stream))
        return kExitUsage;

    std::string out;
    bool malformed = false;
    size_t offset = 0;
    for (size_t frame = 1; offset < stream.size(); ++frame) {
        const tqstream::DecodedFrame d = tqstream::decodeFrame(stream, offset);
        if (!d.line.is_null()) {
            out += d.line.dump();
            out += '\n';
        }
        if (!d.problem.empty()) {
            malformed = true;
            std::fprintf(stderr, "tqstream: frame %zu at byte %zu: %s\n", frame, offset,
                         d.problem.c_str());
        }
        if (d.stop)
            break;
        offset = d.next;
    }
    if (!writeAll(outPath, out))
        return kExitUsage;
    return malformed ? kExitMalformed : 0;
}

}  // namespace

int main(int argc, char **argv)
{
    CLI::App app{"Writes message stream files from JSON Lines and prints stream files as JSON Lines."};
    app.require_subcommand(1);
    app.set_version_flag("--version", std::string("tqstream ") + TQ_VERSION);

    std::string encIn, encOut, decIn, decOut;
    CLI::App *enc = app.add_subcommand("encode", "JSON Lines (one message per line) to a stream file");
    enc->add_option("input,-i,--input", encIn, "JSON Lines input (default: standard input)");
    enc->add_option("-o,--output", encOut, "stream file to write (default: standard output)");
    CLI::App *dec = app.add_subcommand("decode", "a stream file to JSON Lines, one line per frame");
    dec->add_option("input,-i,--input", decIn, "stream file to read (default: standard input)");
    dec->add_option("-o,--output", decOut, "JSON Lines output (default: standard output)");

    std::string sendIn, sendTo, sendAddress = "127.0.0.1";
    uint16_t sendPort = 0;
    bool sendQuiet = false;
    CLI::App *snd = app.add_subcommand(
        "send", "a stream file's frames to a running daemon, each after the acknowledgements of the one before");
    snd->add_option("input,-i,--input", sendIn, "stream file to send (default: standard input)");
    snd->add_option("--to", sendTo, "the daemon's stream (its named pipe, TQ_ROOT/tqdaemon.file)")->required();
    snd->add_option("--port", sendPort, "the daemon's service port (its TQDAEMON entry)")->required();
    snd->add_option("--address", sendAddress, "the address the daemon listens on (TQ_ACK_ADDRESS, default 127.0.0.1)");
    snd->add_flag("-q,--quiet", sendQuiet, "print nothing per frame");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError &e) {
        const int rc = app.exit(e);
        return rc == 0 ? 0 : kExitUsage;
    }

    if (enc->parsed())
        return encode(encIn, encOut);
    if (snd->parsed()) {
        std::string stream;
        if (!readAll(sendIn, stream))
            return kExitUsage;
        return tqstream::send(stream, sendTo, sendAddress, sendPort, sendQuiet);
    }
    return decode(decIn, decOut);
}
