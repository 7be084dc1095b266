// tq_fuzz_seeds: splits encoded message streams into seed corpora for the
// three fuzz targets.
//
//   tq_fuzz_seeds OUTDIR STREAM...
//
// OUTDIR/reader:   each stream whole, each frame alone, and runs of frames
// OUTDIR/dispatch: each payload as a dispatch record, and runs of records
//                  (so that vertices find their graphs and arcs their ends)
// OUTDIR/codec:    the field data of each API message, behind the two
//                  selector bytes of the codec target
// Files are named by a hash of their content, so repeated runs and repeated
// inputs do not pile up. A stream whose tail does not parse as frames keeps
// its whole-stream seed; its frames up to there are used as usual.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace {

constexpr size_t kRun = 12;          // frames or records per run seed
constexpr size_t kStep = 6;          // runs start every kStep frames
constexpr size_t kMaxSeed = 16384;   // larger seeds only slow the fuzzer

struct Frame {
    std::string bytes;     // the whole frame as stored
    bool api = false;      // message type 3 with a payload
    std::string payload;   // kind byte then data
};

int32_t le32(const std::string &s, size_t at)
{
    int32_t v = 0;
    std::memcpy(&v, s.data() + at, 4);
    return v;
}

std::vector<Frame> splitFrames(const std::string &s)
{
    std::vector<Frame> frames;
    size_t at = 0;
    while (at + 4 <= s.size()) {
        const size_t start = at;
        const int32_t headerLength = le32(s, at);
        if (headerLength <= 0 || static_cast<size_t>(headerLength) > s.size() - at - 4)
            break;
        at += 4;
        const char type = s[at];
        at += static_cast<size_t>(headerLength);
        Frame f;
        if (type == 3) {
            if (at + 4 > s.size())
                break;
            const int32_t payloadLength = le32(s, at);
            if (payloadLength <= 0 || static_cast<size_t>(payloadLength) > s.size() - at - 4)
                break;
            at += 4;
            f.api = true;
            f.payload = s.substr(at, static_cast<size_t>(payloadLength));
            at += static_cast<size_t>(payloadLength);
        }
        f.bytes = s.substr(start, at - start);
        frames.push_back(std::move(f));
    }
    return frames;
}

std::string hashName(const std::string &data)
{
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : data) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char name[17];
    std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(h));
    return name;
}

int written = 0;

void put(const std::string &dir, const std::string &data)
{
    if (data.empty() || data.size() > kMaxSeed)
        return;
    std::ofstream out(dir + "/" + hashName(data), std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (out)
        ++written;
}

// A dispatch record: kind, big-endian 16-bit length, data.
std::string record(const Frame &f)
{
    const std::string data = f.payload.substr(1);
    if (data.size() > 0xFFFF)
        return std::string();
    std::string r(1, f.payload[0]);
    r += static_cast<char>((data.size() >> 8) & 0xFF);
    r += static_cast<char>(data.size() & 0xFF);
    return r + data;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: tq_fuzz_seeds OUTDIR STREAM...\n");
        return 2;
    }
    const std::string out = argv[1];
    const std::string reader = out + "/reader", dispatch = out + "/dispatch", codec = out + "/codec";
    for (const std::string &d : {out, reader, dispatch, codec})
        ::mkdir(d.c_str(), 0755);

    for (int i = 2; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        if (!in) {
            std::fprintf(stderr, "tq_fuzz_seeds: cannot read %s\n", argv[i]);
            return 2;
        }
        const std::string stream((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        put(reader, stream);
        const std::vector<Frame> frames = splitFrames(stream);

        for (size_t first = 0; first < frames.size(); first += kStep) {
            std::string run, records;
            for (size_t k = first; k < frames.size() && k < first + kRun; ++k) {
                run += frames[k].bytes;
                if (frames[k].api && !frames[k].payload.empty())
                    records += record(frames[k]);
            }
            put(reader, run);
            put(dispatch, records);
        }
        for (const Frame &f : frames) {
            put(reader, f.bytes);
            if (!f.api || f.payload.empty())
                continue;
            put(dispatch, record(f));
            // Codec: debug flag on, string reads first; the data after the
            // sub-type byte.
            if (f.payload[0] == 1 && f.payload.size() > 2)
                put(codec, std::string("\x01\x00", 2) + f.payload.substr(2));
        }
    }
    std::printf("tq_fuzz_seeds: %d seed files written under %s\n", written, out.c_str());
    return 0;
}
