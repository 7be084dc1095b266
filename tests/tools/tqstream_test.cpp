// tqstream encode/decode, run as the built program.
#include "support/testsupport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using tqtest::RunResult;

RunResult tqstream(const std::vector<std::string> &args, const std::string &input = "")
{
    std::vector<std::string> argv{tqtest::binPath("tqstream")};
    argv.insert(argv.end(), args.begin(), args.end());
    return tqtest::run(argv, {}, input);
}

std::string joinLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const auto &l : lines)
        text += l + "\n";
    return text;
}

std::string hexOf(const std::string &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

std::string bytesOf(const std::string &hex)
{
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

// Encodes lines, then decodes the file; returns the decode run.
struct RoundTrip {
    RunResult encode;
    RunResult decode;
    std::string stream;
};

RoundTrip roundTrip(const tqtest::TempRoot &root, const std::string &jsonl)
{
    RoundTrip rt;
    tqtest::writeFile(root.file("in.jsonl"), jsonl);
    rt.encode = tqstream({"encode", "-i", root.file("in.jsonl"), "-o", root.file("s.file")});
    rt.stream = tqtest::readFile(root.file("s.file"));
    rt.decode = tqstream({"decode", "-i", root.file("s.file")});
    return rt;
}

// Every kind of well-formed frame, in the exact form decode prints.
const std::vector<std::string> kAllKinds = {
    R"({"type":"graph","moid":"m-1","parent_protocol":null,"parent_name":null,"protocol":"SAN","name":"Fabric A","layout":"1","background":null,"icon":"fabric","label":"Fabric A","details":"some details","unique_id":"u-fab","contents":[{"kind":"graph","protocol":"SAN","name":"Zone 1"},{"kind":"vertex","protocol":"3","name":"sw1"},{"kind":"box","protocol":"B","name":"box1"},{"keyword":"GetLinksInGraph","protocol":"x","name":null}],"end":3})",
    R"({"type":"graph_continue","contents":[{"kind":"vertex","protocol":"4","name":"sw2"}],"end":3})",
    R"({"type":"graph_continue","contents":[],"end":1})",
    R"({"type":"vertex","identifier":2,"graph_protocol":"SAN","graph_name":"Fabric A","protocol":"3","name":"sw1","status":"1","icon":"switch","label":"sw1","details":null,"unique_id":"u-sw1"})",
    R"({"type":"vertex","identifier":1,"graph_protocol":"B","graph_name":"box1","protocol":"4","name":"port","status":"2","icon":null,"label":null,"details":"d","unique_id":"NULL"})",
    R"({"type":"arc","moid":"a-1","graph_protocol":"SAN","graph_name":"Fabric A","binding":"7","a_endpoint":"v3","a_name":"sw1","z_endpoint":"v4","z_name":"sw2","arc_id":"12","icon":"link","label":"l","details":null,"status":"3"})",
    R"({"type":"vertex_status","unique_id":"u-sw1","name":"sw1","status":"4","state":"down"})",
    R"({"type":"arc_status","binding":"7","a_endpoint":"v3","a_name":"sw1","z_endpoint":"v4","z_name":"sw2","arc_index":"12","status":"2","moid":"a-1"})",
    R"({"type":"common_properties","common_name":"dev","name":"Switch","state":"ok","device_type":"switch","management_url":"1http://a","capacity":"10","serial":"S1","vendor":"V","launch_flag":"TRUE","edfi_flag":"true","node_flag":null})",
    R"({"type":"graph_update","protocol":"SAN","name":"Fabric A","icon":"fabric2","label":"Fabric Ä"})",
    R"({"type":"change_icon","unique_id":"u-sw1","icon":"switch2"})",
    R"({"type":"change_label","unique_id":"u-sw1","label":"null"})",
    R"({"type":"content_ids","protocol":"SAN","name":"Fabric A","contents":[{"kind":"graph","protocol":"SAN","name":"Zone 1"}],"end":3})",
    R"({"type":"content_continue","contents":[{"keyword":null,"protocol":null,"name":null}],"end":1})",
    R"({"type":"content_ids","protocol":"SAN","name":"Fabric A","contents":[],"end":200})",
    R"({"type":"ack"})",
    R"({"type":"message","msg_type":5})",
    R"({"type":"message","msg_type":-128})",
    R"({"type":"payload","kind":9,"data":"00ff10"})",
    R"({"type":"payload","kind":0,"data":""})",
    R"({"type":"api","subtype":4,"data":"0000000141"})",
    R"({"type":"api","subtype":0,"data":""})",
    R"({"type":"api","subtype":12,"data":"ff"})",
    R"({"type":"api","subtype":-1,"data":"00"})",
};

TEST(TqstreamRoundTrip, EveryWellFormedKindComesBackUnchanged)
{
    tqtest::TempRoot root;
    const RoundTrip rt = roundTrip(root, joinLines(kAllKinds));
    ASSERT_EQ(rt.encode.exitCode, 0) << rt.encode.err;
    EXPECT_EQ(rt.decode.exitCode, 0) << rt.decode.err;
    EXPECT_EQ(rt.decode.err, "");
    EXPECT_EQ(tqtest::splitLines(rt.decode.out), kAllKinds);
}

TEST(TqstreamRoundTrip, RawFramesWithLyingLengthsComeBackUnchangedAndAreNamed)
{
    tqtest::TempRoot root;
    // Each raw line keeps the frame layout in step (its declared lengths are
    // the bytes present) except the last, whose header length runs past the end.
    const std::vector<std::string> lines = {
        R"({"type":"ack"})",
        // header announces 10 payload bytes, 1 present
        R"({"type":"raw","header":"03313000","payload":"09"})",
        // a two-byte header for an acknowledge-only frame
        R"({"type":"raw","header":"7f00"})",
        // header length 0
        R"({"type":"raw","header":""})",
        // a vertex whose second string claims 900 bytes
        R"({"type":"raw","header":"033900","payload":"010202000003840041"})",
        // payload length 0
        R"({"type":"raw","header":"033000","payload":""})",
        R"({"type":"message","msg_type":9})",
        // payload length lies past the end of the stream
        R"({"type":"raw","header":"03313000","payload":"0109","payload_length":50})",
    };
    const RoundTrip rt = roundTrip(root, joinLines(lines));
    ASSERT_EQ(rt.encode.exitCode, 0) << rt.encode.err;
    EXPECT_EQ(rt.decode.exitCode, 1);
    EXPECT_EQ(tqtest::splitLines(rt.decode.out), lines);

    const auto err = tqtest::splitLines(rt.decode.err);
    ASSERT_EQ(err.size(), 6u) << rt.decode.err;
    EXPECT_EQ(err[0], "tqstream: frame 2 at byte 5: payload length 1 differs from the size 10 its header announces");
    EXPECT_EQ(err[1], "tqstream: frame 3 at byte 18: message type 127 with a 2-byte header (1 expected)");
    EXPECT_EQ(err[2], "tqstream: frame 4 at byte 24: header length 0: no message type (the daemon ends the stream here)");
    EXPECT_EQ(err[3], "tqstream: frame 5 at byte 28: vertex field 2 'graph_protocol': string runs past the "
                      "payload (length 900, 2 bytes left)");
    EXPECT_EQ(err[4], "tqstream: frame 6 at byte 48: payload length 0 (the daemon ends the stream here)");
    EXPECT_EQ(err[5], "tqstream: frame 8 at byte 64: payload length 50 runs past the end of the stream (2 bytes left)");
}

TEST(TqstreamEncode, VertexFrameMatchesHandComputedBytes)
{
    tqtest::TempRoot root;
    const std::string line =
        R"({"type":"vertex","identifier":2,"graph_protocol":"SAN","graph_name":"G","protocol":"3","name":"sw","status":"1","icon":null,"label":"L","details":null,"unique_id":"u"})";
    const RunResult r = tqstream({"encode"}, line + "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string expected =
        "04000000" "03353800"     // header length 4; type 3, "58", NUL
        "3a000000"                // payload length 58, little-endian
        "01" "02" "02"            // API payload, vertex, identifier 2
        "0000000453414e00"        // "SAN"
        "000000024700"            // "G"
        "000000023300"            // "3"
        "00000003737700"          // "sw"
        "000000023100"            // "1"
        "0000000100"              // absent icon
        "000000024c00"            // "L"
        "0000000100"              // absent details
        "000000027500";           // "u"
    EXPECT_EQ(hexOf(r.out), expected);
}

TEST(TqstreamEncode, ListLengthCountsTheEntryBytesAndTheFlagFollows)
{
    const RunResult r = tqstream(
        {"encode"},
        R"({"type":"content_ids","protocol":"P","name":"N","contents":[{"kind":"vertex","protocol":"3","name":"v"}],"end":1})"
        "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::string expected =
        "04000000" "03353400" "36000000" "010b"   // 54-byte payload, content_ids
        "000000025000" "000000024e00"            // "P", "N"
        "00000023"                               // 35 bytes of entries
        "00000013" "4765745665727469636573496e477261706800"  // "GetVerticesInGraph"
        "000000023300" "000000027600"
        "01";
    EXPECT_EQ(hexOf(r.out), expected);
}

TEST(TqstreamEncode, ContinuationDataIsTheEntriesThenTheFlag)
{
    const RunResult r = tqstream({"encode"}, R"({"type":"graph_continue","contents":[],"end":3})" "\n"
                                             R"({"type":"ack"})" "\n");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(hexOf(r.out), "03000000" "033200" "02000000" "0203" "01000000" "7f");
}

TEST(TqstreamEncode, BadLinesAreNamedAndNothingIsWritten)
{
    tqtest::TempRoot root;
    const std::string input =
        R"({"type":"ack"})" "\n"
        R"({"type":"change_icon","unique_id":"u"})" "\n"
        "\n"
        R"({"type":"vertex_status","unique_id":"u","name":7,"status":"1","state":null})" "\n"
        "{not json\n"
        R"({"type":"teleport"})" "\n"
        R"({"type":"vertex","identifier":256,"graph_protocol":"a","graph_name":"b","protocol":"c","name":"d","status":"e","icon":"f","label":"g","details":"h","unique_id":"i"})" "\n"
        R"({"type":"api","subtype":2,"data":""})" "\n"
        R"({"type":"payload","kind":9,"data":"0g"})" "\n"
        R"({"type":"change_label","unique_id":"u","label":"x","colour":"red"})" "\n"
        R"({"type":"content_continue","contents":[{"kind":"door","protocol":"p","name":"n"}],"end":1})" "\n";
    tqtest::writeFile(root.file("in.jsonl"), input);
    const RunResult r = tqstream({"encode", "-i", root.file("in.jsonl"), "-o", root.file("out.file")});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(tqtest::fileExists(root.file("out.file")));
    const auto err = tqtest::splitLines(r.err);
    ASSERT_EQ(err.size(), 10u) << r.err;
    EXPECT_EQ(err[0], "tqstream: line 2: missing field 'icon'");
    EXPECT_EQ(err[1], "tqstream: line 4: field 'name' must be a string or null");
    EXPECT_EQ(err[2].rfind("tqstream: line 5: invalid JSON: ", 0), 0u) << err[2];
    EXPECT_EQ(err[3], "tqstream: line 6: unknown type \"teleport\"");
    EXPECT_EQ(err[4], "tqstream: line 7: field 'identifier' must be an integer 0..255");
    EXPECT_EQ(err[5].rfind("tqstream: line 8: sub-type 2 is \"vertex\"", 0), 0u) << err[5];
    EXPECT_EQ(err[6], "tqstream: line 9: field 'data': '0g' is not a hex byte");
    EXPECT_EQ(err[7], "tqstream: line 10: unknown field 'colour'");
    EXPECT_EQ(err[8].rfind("tqstream: line 11: contents entry 1: field 'kind'", 0), 0u) << err[8];
    EXPECT_EQ(err[9], "tqstream: 9 bad lines, nothing written");
}

TEST(TqstreamEncode, KeyGivenTwiceIsRefusedNotSilentlyMerged)
{
    // A JSON parser keeps one of two equal keys; the device type written as
    // "type" would silently replace the message type.
    const RunResult r = tqstream(
        {"encode"},
        R"({"type":"common_properties","common_name":"d","name":"n","state":"s","type":"switch","management_url":"1x","capacity":"c","serial":"s","vendor":"v","launch_flag":"TRUE","edfi_flag":"TRUE","node_flag":"TRUE"})"
        "\n"
        R"({"type":"change_icon","unique_id":"u","icon":"a","icon":"b"})" "\n");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "");
    const auto err = tqtest::splitLines(r.err);
    ASSERT_EQ(err.size(), 3u) << r.err;
    EXPECT_EQ(err[0], "tqstream: line 1: key 'type' given twice (a common_properties message names its "
                      "device type 'device_type')");
    EXPECT_EQ(err[1], "tqstream: line 2: key 'icon' given twice");
}

TEST(TqstreamDecode, MalformedFrameIsNamedShownRawAndDecodingGoesOn)
{
    tqtest::TempRoot root;
    // A vertex frame whose lengths are consistent but whose second string
    // claims 900 bytes, then a well-formed acknowledge-only frame.
    const std::string payload = bytesOf("0102" "02" "0000000453414e00" "0000038441424300");
    const std::string frame = bytesOf("04000000") + bytesOf("03313900") + bytesOf("13000000") + payload;
    ASSERT_EQ(payload.size(), 19u);
    tqtest::writeFile(root.file("bad.file"), frame + bytesOf("010000007f"));

    const RunResult r = tqstream({"decode", "-i", root.file("bad.file")});
    EXPECT_EQ(r.exitCode, 1);
    const auto out = tqtest::splitLines(r.out);
    ASSERT_EQ(out.size(), 2u) << r.out;
    EXPECT_EQ(out[0], R"({"type":"raw","header":"03313900","payload":")" + hexOf(payload) + R"("})");
    EXPECT_EQ(out[1], R"({"type":"ack"})");
    EXPECT_EQ(r.err, "tqstream: frame 1 at byte 0: vertex field 3 'graph_name': string runs past the "
                     "payload (length 900, 4 bytes left)\n");

    // The raw line re-encodes to the very same bytes.
    tqtest::writeFile(root.file("back.jsonl"), r.out);
    const RunResult back = tqstream({"encode", "-i", root.file("back.jsonl")});
    ASSERT_EQ(back.exitCode, 0) << back.err;
    EXPECT_EQ(back.out, tqtest::readFile(root.file("bad.file")));
}

TEST(TqstreamDecode, FieldProblemsAreNamed)
{
    struct Case {
        const char *payloadHex;
        const char *problem;
    };
    const Case cases[] = {
        {"0109" "000000024100" "0000000141", "change_icon field 2 'icon': string of length 1 does not end in NUL"},
        {"0109" "0000000241" "00" "000000", "change_icon field 2 'icon': only 3 bytes left for the string length"},
        {"0109" "00000000", "change_icon field 1 'unique_id': string length 0 is below 1"},
        {"010a" "fffffffb", "change_label field 1 'unique_id': string length -5 is below 1"},
        {"0109" "00000003410000" "0000000100", "change_icon field 1 'unique_id': string holds a NUL before its end"},
        {"0109" "00000002ff000000000100", "change_icon field 1 'unique_id': string is not valid UTF-8"},
        {"0109" "0000000100" "0000000100" "ff", "change_icon: 1 bytes after the last field"},
        {"0102", "vertex field 1 'identifier': no byte left"},
        {"010b" "0000000100" "0000000100" "00000005" "01", "content_ids field 3 'contents': list length 5 does not fit the 1 bytes left (list and ending flag)"},
        {"010b" "0000000100" "0000000100" "00000004" "0000000901", "content_ids field 3 'contents': contents entry 1 keyword: string runs past the list (length 9, 0 bytes left)"},
        {"02", "graph_continue: no ending flag byte"},
        {"01", "API payload without a sub-type byte"},
    };
    for (const Case &c : cases) {
        const std::string payload = bytesOf(c.payloadHex);
        const std::string size = std::to_string(payload.size());
        std::string header = "\x03" + size + std::string(1, '\0');
        std::string frame;
        frame += static_cast<char>(header.size());
        frame += std::string(3, '\0');
        frame += header;
        frame += static_cast<char>(payload.size());
        frame += std::string(3, '\0');
        frame += payload;
        const RunResult r = tqstream({"decode"}, frame);
        EXPECT_EQ(r.exitCode, 1) << c.payloadHex;
        EXPECT_EQ(r.err, std::string("tqstream: frame 1 at byte 0: ") + c.problem + "\n") << c.payloadHex;
        EXPECT_EQ(r.out, R"({"type":"raw","header":")" + hexOf(header) + R"(","payload":")" + hexOf(payload) +
                             "\"}\n");
    }
}

TEST(TqstreamDecode, TruncatedStreamStopsWithAMessage)
{
    // An acknowledge-only frame, then a frame cut short inside its header.
    const std::string stream = bytesOf("010000007f" "0a000000" "0331");
    const RunResult r = tqstream({"decode"}, stream);
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.out, "{\"type\":\"ack\"}\n{\"type\":\"raw\",\"header\":\"0331\",\"header_length\":10}\n");
    EXPECT_EQ(r.err, "tqstream: frame 2 at byte 5: header length 10 runs past the end of the stream (2 bytes left)\n");

    const RunResult stray = tqstream({"decode"}, bytesOf("010000007f" "0100"));
    EXPECT_EQ(stray.exitCode, 1);
    EXPECT_EQ(stray.out, "{\"type\":\"ack\"}\n");
    EXPECT_EQ(stray.err, "tqstream: frame 2 at byte 5: 2 stray bytes at the end of the stream (a header length takes 4)\n");
}

TEST(TqstreamCli, UsageAndInputErrorsExitWithTwo)
{
    tqtest::TempRoot root;
    EXPECT_EQ(tqstream({}).exitCode, 2);
    EXPECT_EQ(tqstream({"shuffle"}).exitCode, 2);
    const RunResult missing = tqstream({"decode", "-i", root.file("no-such.file")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("no-such.file"), std::string::npos);
    const RunResult unwritable = tqstream({"encode", "-o", root.file("no/dir/out.file")}, "{\"type\":\"ack\"}\n");
    EXPECT_EQ(unwritable.exitCode, 2);
    EXPECT_EQ(tqstream({"--help"}).exitCode, 0);
}

TEST(TqstreamCli, TheFileMayBeGivenWithoutMinusI)
{
    tqtest::TempRoot root;
    tqtest::writeFile(root.file("in.jsonl"), "{\"type\":\"ack\"}\n");
    const RunResult enc = tqstream({"encode", root.file("in.jsonl"), "-o", root.file("s.file")});
    ASSERT_EQ(enc.exitCode, 0) << enc.err;
    const RunResult dec = tqstream({"decode", root.file("s.file")});
    EXPECT_EQ(dec.exitCode, 0) << dec.err;
    EXPECT_EQ(dec.out, "{\"type\":\"ack\"}\n");
}

TEST(TqstreamCli, EmptyInputGivesEmptyOutput)
{
    const RunResult enc = tqstream({"encode"}, "");
    EXPECT_EQ(enc.exitCode, 0);
    EXPECT_EQ(enc.out, "");
    const RunResult dec = tqstream({"decode"}, "");
    EXPECT_EQ(dec.exitCode, 0);
    EXPECT_EQ(dec.out, "");
}

}  // namespace
