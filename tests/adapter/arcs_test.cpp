// Arc operations of the adapter on an in-memory map.
#include "adapter_fixture.h"

#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using tqtest::AdapterFixture;
using tqtest::AdapterFixtureMulti;
using tqtest::SymbolView;

constexpr int32_t kIP = 56;
constexpr int32_t kEthernet = 6;
constexpr int kMapStatus1 = 2;
constexpr int kMapStatus2 = 4;
constexpr int kMapStatus3 = 1;

const char kIcons[] =
    "1.3.6.1.2.1.2.2.1.3.1.1:Endpoint:Vertex\n"
    "1.3.6.1.2.1.2.2.1.3.1.4:Connection:Default\n"
    "link.fast:Connection:Fast\n";

tqotEndpointProtocol num(int32_t n)
{
    tqotEndpointProtocol p;
    p.vertexProtocol = n;
    return p;
}
tqotEndpointProtocol txt(const char *s)
{
    tqotEndpointProtocol p;
    p.graphProtocol = const_cast<char *>(s);
    return p;
}

OVwObjectId makeGraph(OVwMapInfo *map, const std::string &selectionName, OVwSubmapId parent)
{
    OVwObjectId id = OVwDbCreateObjectBySelectionName(selectionName.c_str());
    if (id == 0 || OVwCreateSubmap(map, id, OVwGraphSubmap, 0, selectionName.c_str(), 0, 0) == 0 ||
        OVwCreateSymbol(map, parent, id, nullptr, selectionName.c_str(), 1, 2, nullptr, 0) == 0)
        return 0;
    return id;
}

bool traceHas(const std::string &trace, const std::string &operation, const std::string &message)
{
    for (const std::string &line : tqtest::splitLines(trace))
        if (line.find(operation + "(") != std::string::npos && line.find("): " + message) != std::string::npos)
            return true;
    return false;
}

// Runs unarcName on an exactly-sized heap copy, so a read past the text is a
// heap overflow under the sanitizer build.
struct Unarced {
    int32_t binding = -1;
    tqotEndpointProtocol a{}, z{};
    std::string aName, zName;
    std::string aText, zText;   // protocol slots that hold texts
    bool aNull = false, zNull = false;
    int32_t index = -1;
    std::string textAfter;
};
Unarced unarc(TopologyAdapter *ad, const std::string &text)
{
    char *copy = static_cast<char *>(std::malloc(text.size() + 1));
    std::memcpy(copy, text.c_str(), text.size() + 1);
    Unarced r;
    char *aName = nullptr;
    char *zName = nullptr;
    ad->unarcName(copy, &r.binding, &r.a, &aName, &r.z, &zName, &r.index);
    r.aNull = aName == nullptr;
    r.zNull = zName == nullptr;
    r.aName = aName != nullptr ? aName : "";
    r.zName = zName != nullptr ? zName : "";
    if (r.binding == 4 || r.binding == 5)
        r.aText = r.a.graphProtocol;
    if (r.binding == 4 || r.binding == 6)
        r.zText = r.z.graphProtocol;
    r.textAfter = copy;
    std::free(copy);
    return r;
}

template <class Base>
class ArcOpsT : public Base {
protected:
    OVwObjectId net = 0;
    OVwSubmapId netSubmap = 0;

    void SetUp() override
    {
        Base::SetUp();
        this->writeIcons(kIcons);
        net = makeGraph(TopologyAdapterPeer::mapHandle(*this->ad), this->sel("IP", "net"), this->rootSubmap());
        ASSERT_NE(net, 0);
        netSubmap = this->childSubmap(net);
    }

    OVwObjectId vertex(const char *name, int32_t protocol = kIP, const char *graph = "net")
    {
        return this->ad->tqotCreateVertexInGraph("IP", graph, protocol, name, nullptr, name, nullptr, 1);
    }
    OVwObjectId arc7(int32_t aP, const char *a, int32_t zP, const char *z, int32_t index = 1,
                     const char *iconKey = nullptr, int32_t statusNumber = 1)
    {
        return this->ad->tqotCreateArcInGraph("IP", "net", 7, num(aP), a, num(zP), z, index, iconKey, "link",
                                              nullptr, statusNumber);
    }
    std::vector<SymbolView> connections(OVwObjectId arc) { return this->symbolsOf(arc, netSubmap); }
};
using ArcOps = ArcOpsT<AdapterFixture>;
using ArcOpsMulti = ArcOpsT<AdapterFixtureMulti>;

// ---- arc names -------------------------------------------------------------------

TEST_F(ArcOps, ArcNamesAreCanonicalWhenOrdered)
{
    // Protocol names decide first, then endpoint names; either order gives one name.
    EXPECT_STREQ(ad->arcName(7, num(kIP), "b", num(kEthernet), "a", 3), "ETHERNET_CSMACD;a;IP;b;3;default");
    EXPECT_STREQ(ad->arcName(7, num(kEthernet), "a", num(kIP), "b", 3), "ETHERNET_CSMACD;a;IP;b;3;default");
    EXPECT_STREQ(ad->arcName(7, num(kIP), "z", num(kIP), "a", -2), "IP;a;IP;z;-2;default");
    // A prefix is the smaller; bytes compare unsigned.
    EXPECT_STREQ(ad->arcName(4, txt("IPX"), "a", txt("IP"), "b", 0), "IP;b;IPX;a;0;default");
    EXPECT_STREQ(ad->arcName(4, txt("\xC3x"), "a", txt("Z"), "b", 0), "Z;b;\xC3x;a;0;default");
    EXPECT_STREQ(ad->arcName(5, txt("IP"), "n", num(kEthernet), "m", 9), "ETHERNET_CSMACD;m;IP;n;9;default");
    EXPECT_STREQ(ad->arcName(6, num(kIP), "n", txt("ANY"), "m", 9), "ANY;m;IP;n;9;default");

    TopologyAdapterPeer::orderedArcNames(*ad) = 0;
    EXPECT_STREQ(ad->arcName(7, num(kIP), "b", num(kEthernet), "a", 3), "IP;b;ETHERNET_CSMACD;a;3;default");
}

TEST_F(ArcOps, ArcNameBoundsAndBadBindings)
{
    // 17 fixed characters: "IP;" ";IP;" ";1;default".
    std::string a(119, 'a');
    std::string z119(119, 'z');
    std::string z120(120, 'z');
    const char *name255 = ad->arcName(7, num(kIP), a.c_str(), num(kIP), z119.c_str(), 1);
    ASSERT_NE(name255, nullptr);
    EXPECT_EQ(std::strlen(name255), 255u);
    EXPECT_EQ(ad->arcName(7, num(kIP), a.c_str(), num(kIP), z120.c_str(), 1), nullptr);
    EXPECT_TRUE(traceHas(adapterTrace(), "arcName", "Name too long."));

    for (int32_t binding : {0, 3, 8, -1}) {
        clearAdapterTrace();
        EXPECT_EQ(ad->arcName(binding, num(kIP), "a", num(kIP), "b", 1), nullptr);
        std::string trace = adapterTrace();
        EXPECT_TRUE(traceHas(trace, "endpointProtocols", "arcNameBinding not supported"));
        EXPECT_TRUE(traceHas(trace, "arcName", "bad endpoint name"));
    }

    // Protocol areas hold 127 characters; a longer name is refused, not cut.
    char aArea[128];
    char zArea[128];
    std::string p127(127, 'P');
    std::string p128(128, 'P');
    EXPECT_EQ(ad->endpointProtocols(4, txt(p127.c_str()), txt("IP"), aArea, zArea), 0);
    EXPECT_EQ(std::string(aArea), p127);
    EXPECT_EQ(ad->endpointProtocols(5, txt(p128.c_str()), num(kIP), aArea, zArea), -1);
    EXPECT_TRUE(traceHas(adapterTrace(), "endpointProtocols", "endpoint protocol name too long"));
    EXPECT_EQ(ad->endpointProtocols(6, num(kIP), txt(nullptr), aArea, zArea), -1);

    // A status change with such a binding says so by its own code, never by
    // success or a code left pending by an earlier call.
    (void)ad->tqotGetError();
    EXPECT_EQ(ad->tqotChangeArcStatus(3, num(kIP), "a", num(kIP), "b", 1, 2), TQOT_ERR_BAD_BINDING);
    EXPECT_EQ(ad->name("a;b", "x"), nullptr);
    EXPECT_EQ(ad->tqotChangeArcStatus(8, num(kIP), "a", num(kIP), "b", 1, 2), TQOT_ERR_BAD_BINDING);
    EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_NAME_SEPARATOR);
}

TEST_F(ArcOps, ArcOfExactly255CharactersIsCreatedAnd256Refused)
{
    std::string a(119, 'a');
    std::string z119(119, 'z');
    std::string z120(120, 'z');
    ASSERT_NE(vertex(a.c_str()), 0);
    ASSERT_NE(vertex(z119.c_str()), 0);
    ASSERT_NE(vertex(z120.c_str()), 0);

    OVwObjectId arc = arc7(kIP, a.c_str(), kIP, z119.c_str());
    ASSERT_NE(arc, 0);
    char *selName = OVwDbObjectIdToSelectionName(arc);
    ASSERT_NE(selName, nullptr);
    EXPECT_EQ(std::strlen(selName), 255u);
    OVFree(selName);

    clearAdapterTrace();
    EXPECT_EQ(arc7(kIP, a.c_str(), kIP, z120.c_str()), 0);
    std::string trace = adapterTrace();
    EXPECT_TRUE(traceHas(trace, "arcName", "Name too long."));
    EXPECT_TRUE(traceHas(trace, "tqotCreateArcInGraph", "bad arc name"));
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC), 1u);

    // An arc that cannot be named creates none of its missing endpoints.
    const std::string newA(119, 'b');
    const std::string newZ(120, 'y');
    EXPECT_EQ(arc7(kIP, newA.c_str(), kIP, newZ.c_str()), 0);
    EXPECT_EQ(objectId(sel("IP", newA)), 0);
    EXPECT_EQ(objectId(sel("IP", newZ)), 0);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX), 3u);
}

TEST_F(ArcOps, RefusalsLeaveTheirOwnPendingError)
{
    ASSERT_NE(vertex("x"), 0);
    const std::string a(119, 'a');
    const std::string z120(120, 'z');
    ASSERT_NE(vertex(a.c_str()), 0);
    ASSERT_NE(vertex(z120.c_str()), 0);
    struct Case {
        const char *what;
        std::function<OVwObjectId()> create;
        int32_t code;
    };
    const Case cases[] = {
        {"arc name over 255 characters", [&] { return arc7(kIP, a.c_str(), kIP, z120.c_str()); },
         TQOT_ERR_NAME_TOO_LONG},
        {"';' in an endpoint name", [&] { return arc7(kIP, "x", kIP, "y;1"); }, TQOT_ERR_NAME_SEPARATOR},
        {"';' in the graph name",
         [&] { return ad->tqotCreateArcInGraph("IP", "n;et", 7, num(kIP), "x", num(kIP), "y", 1, nullptr, nullptr,
                                               nullptr, 1); },
         TQOT_ERR_NAME_SEPARATOR},
        {"';' in a graph endpoint's protocol",
         [&] { return ad->tqotCreateArcInGraph("IP", "net", 5, txt("I;P"), "x", num(kIP), "y", 1, nullptr, nullptr,
                                               nullptr, 1); },
         TQOT_ERR_NAME_SEPARATOR},
        {"unresolved endpoint",
         [&] { return ad->tqotCreateArcInGraph("IP", "net", 4, txt("IP"), "x", txt("IP"), "nobody", 1, nullptr,
                                               nullptr, nullptr, 1); },
         TQOT_ERR_NO_ENDPOINT},
        {"missing graph",
         [&] { return ad->tqotCreateArcInGraph("IP", "nowhere", 7, num(kIP), "x", num(kIP), "y", 1, nullptr,
                                               nullptr, nullptr, 1); },
         TQOT_ERR_NO_CONTAINER},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.create(), 0);
        const int32_t code = ad->tqotGetError();
        EXPECT_EQ(code, c.code);
        EXPECT_STRNE(ad->tqotGetErrorMsg(code), "tqot2ov error");
    }
    // Nothing was made under a name holding ';', and no arc took another's name.
    EXPECT_EQ(objectId(sel("IP", "y;1")), 0);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC), 0u);
    // Status changes and deletions refuse such names too, touching nothing.
    EXPECT_EQ(ad->tqotChangeArcStatus(7, num(kIP), "x", num(kIP), "y;1", 1, 2), TQOT_ERR_NAME_SEPARATOR);
    EXPECT_EQ(ad->tqotDeleteArcFromGraph("IP", "net", 7, num(kIP), "x", num(kIP), "y;1", 1), -1);
    EXPECT_TRUE(traceHas(adapterTrace(), "arcName", "Name contains ';'."));
}

TEST_F(ArcOps, UnarcNameNeverReadsPastAShortOrForeignName)
{
    for (const char *text : {"", "IP", "IP;a;IP", "a;b;c;d", "IP;a;IP;b;", "IP;a;IP;b;x;default",
                             "IP;a;IP;b;12x;default", "IP;a;IP;b;-;default", "IP;a;IP;b;99999999999;default"}) {
        Unarced r = unarc(ad, text);
        EXPECT_EQ(r.binding, 0) << text;
        EXPECT_TRUE(r.aNull && r.zNull) << text;
        EXPECT_EQ(r.index, 0) << text;
        EXPECT_EQ(r.textAfter, text);   // left whole
    }

    Unarced r = unarc(ad, "IP;a;ETHERNET_CSMACD;b;-12");   // no map part: still an arc name
    EXPECT_EQ(r.binding, 7);
    EXPECT_EQ(r.a.vertexProtocol, kIP);
    EXPECT_EQ(r.z.vertexProtocol, kEthernet);
    EXPECT_EQ(r.aName, "a");
    EXPECT_EQ(r.zName, "b");
    EXPECT_EQ(r.index, -12);

    r = unarc(ad, "SANNET;g;IP;v;4;default");
    EXPECT_EQ(r.binding, 5);
    EXPECT_EQ(r.aText, "SANNET");
    EXPECT_EQ(r.aName, "g");
    EXPECT_EQ(r.z.vertexProtocol, kIP);
    r = unarc(ad, "IP;v;SANNET;g;4;default");
    EXPECT_EQ(r.binding, 6);
    EXPECT_EQ(r.a.vertexProtocol, kIP);
    EXPECT_EQ(r.zText, "SANNET");
    r = unarc(ad, "SANNET;g;OTHER;h;4;default");
    EXPECT_EQ(r.binding, 4);
    EXPECT_EQ(r.aText, "SANNET");
    EXPECT_EQ(r.zText, "OTHER");
    EXPECT_EQ(r.zName, "h");
    EXPECT_EQ(r.index, 4);
}

// ---- creation ------------------------------------------------------------------------

TEST_F(ArcOps, ArcFromAToZAndStatusOfZToAReachOneObject)
{
    OVwObjectId arc = arc7(kIP, "Z-end", kEthernet, "A-end", 5, nullptr, 1);
    ASSERT_NE(arc, 0);
    std::vector<SymbolView> conns = connections(arc);
    ASSERT_EQ(conns.size(), 1u);
    EXPECT_EQ(conns[0].variety, OVwConnSymbol);
    EXPECT_EQ(conns[0].type, "Connection:Default");   // null icon key: the default connection icon
    EXPECT_EQ(conns[0].label, "link");
    EXPECT_EQ(conns[0].status, kMapStatus1);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 1u);

    EXPECT_EQ(ad->tqotChangeArcStatus(7, num(kEthernet), "A-end", num(kIP), "Z-end", 5, 2), 0);
    EXPECT_EQ(connections(arc)[0].status, kMapStatus2);

    // Equal protocols: the endpoint names decide.
    OVwObjectId same = arc7(kIP, "q", kIP, "p", 1, "link.fast");
    ASSERT_NE(same, 0);
    EXPECT_EQ(connections(same)[0].type, "Connection:Fast");
    EXPECT_EQ(ad->tqotChangeArcStatus(7, num(kIP), "p", num(kIP), "q", 1, 2), 0);
    EXPECT_EQ(connections(same)[0].status, kMapStatus2);

    // A different index names a different arc: nothing changes, and the caller learns it.
    EXPECT_EQ(ad->tqotChangeArcStatus(7, num(kIP), "p", num(kIP), "q", 2, 1), TQOT_ERR_NO_OBJECT);
    EXPECT_STREQ(ad->tqotGetErrorMsg(TQOT_ERR_NO_OBJECT), "no object has that name");
    EXPECT_EQ(connections(same)[0].status, kMapStatus2);
}

TEST_F(ArcOps, Binding7CreatesMissingEndpointsAsVertices)
{
    OVwObjectId arc = arc7(kIP, "newA", kEthernet, "newZ");
    ASSERT_NE(arc, 0);
    for (const std::string &name : {sel("IP", "newA"), sel("ETHERNET_CSMACD", "newZ")}) {
        OVwObjectId v = objectId(name);
        ASSERT_NE(v, 0) << name;
        EXPECT_EQ(boolField(v, "isVertex"), 1);
        std::vector<SymbolView> syms = symbolsOf(v, netSubmap);
        ASSERT_EQ(syms.size(), 1u);
        EXPECT_EQ(syms[0].type, "Endpoint:Vertex");
        EXPECT_EQ(syms[0].label, name.substr(name.find(';') + 1, 4));
        EXPECT_EQ(syms[0].status, kMapStatus3);
        EXPECT_EQ(syms[0].statusSource, 3);
        EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX, v), 1u);
    }
    EXPECT_EQ(connections(arc).size(), 1u);
}

TEST_F(ArcOps, Binding4NeverCreatesEndpoints)
{
    ASSERT_NE(vertex("known"), 0);
    EXPECT_EQ(ad->tqotCreateArcInGraph("IP", "net", 4, txt("IP"), "known", txt("IP"), "unknown", 1, nullptr,
                                       nullptr, nullptr, 1),
              0);
    EXPECT_EQ(ad->tqotCreateArcInGraph("IP", "net", 4, txt("IP"), "x", txt("IP"), "y", 1, nullptr, nullptr,
                                       nullptr, 1),
              0);
    EXPECT_EQ(objectId(sel("IP", "unknown")), 0);
    EXPECT_EQ(objectId(sel("IP", "x")), 0);
    EXPECT_EQ(objectId(sel("IP", "y")), 0);
    EXPECT_TRUE(traceHas(adapterTrace(), "endpointSymbols", "missing endpoint"));
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC), 0u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_VERTEX), 1u);
}

TEST_F(ArcOps, Bindings5And6CreateTheNumberedEndpointOnlyBesideAKnownOne)
{
    // 5: a text, z number. Unknown a: z is not created.
    EXPECT_EQ(ad->tqotCreateArcInGraph("IP", "net", 5, txt("IP"), "ga", num(kEthernet), "vz", 1, nullptr,
                                       nullptr, nullptr, 1),
              0);
    EXPECT_EQ(objectId(sel("ETHERNET_CSMACD", "vz")), 0);
    // 6: a number, z text. Known z: a is created.
    ASSERT_NE(vertex("gz"), 0);
    OVwObjectId arc = ad->tqotCreateArcInGraph("IP", "net", 6, num(kEthernet), "va", txt("IP"), "gz", 1,
                                               nullptr, nullptr, nullptr, 1);
    ASSERT_NE(arc, 0);
    EXPECT_NE(objectId(sel("ETHERNET_CSMACD", "va")), 0);
}

TEST_F(ArcOps, EndpointWithoutASymbolInTheGraphFailsWithoutAnArcObject)
{
    OVwObjectId san = makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("IP", "san"), rootSubmap());
    ASSERT_NE(san, 0);
    OVwObjectId a = vertex("inNet");
    OVwObjectId z = vertex("inSan", kIP, "san");
    ASSERT_NE(a, 0);
    ASSERT_NE(z, 0);

    EXPECT_EQ(arc7(kIP, "inNet", kIP, "inSan"), 0);
    EXPECT_EQ(objectId(ad->arcName(7, num(kIP), "inNet", num(kIP), "inSan", 1)), 0);
    EXPECT_TRUE(symbolsOf(z, netSubmap).empty());   // not added to the graph either
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC), 0u);
}

// An arc sent again gets its label and status, as a vertex sent again does;
// an absent label keeps the one shown.
TEST_F(ArcOps, ExistingArcInTheGraphIsUpdatedWithoutANewSymbol)
{
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    EXPECT_EQ(arc7(kIP, "b", kIP, "a"), arc);
    EXPECT_EQ(connections(arc).size(), 1u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 1u);

    EXPECT_EQ(ad->tqotCreateArcInGraph("IP", "net", 7, num(kIP), "a", num(kIP), "b", 1, nullptr, "relabelled",
                                       nullptr, 2),
              arc);
    EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_NONE);
    ASSERT_EQ(connections(arc).size(), 1u);
    EXPECT_EQ(connections(arc)[0].label, "relabelled");
    EXPECT_EQ(connections(arc)[0].status, kMapStatus2);
    EXPECT_EQ(ad->tqotCreateArcInGraph("IP", "net", 7, num(kIP), "a", num(kIP), "b", 1, nullptr, nullptr, nullptr,
                                       3),
              arc);
    EXPECT_EQ(connections(arc)[0].label, "relabelled");
    EXPECT_EQ(connections(arc)[0].status, kMapStatus3);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 1u);
}

TEST_F(ArcOpsMulti, WithoutSingleSymbolARepeatAddsAConnection)
{
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    EXPECT_EQ(arc7(kIP, "a", kIP, "b"), arc);
    EXPECT_EQ(connections(arc).size(), 2u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 2u);

    // The status change reaches every symbol of the arc.
    EXPECT_EQ(ad->tqotChangeArcStatus(7, num(kIP), "b", num(kIP), "a", 1, 2), 0);
    for (const SymbolView &s : connections(arc))
        EXPECT_EQ(s.status, kMapStatus2);
}

// An arc drawn inside the exploded view of an object that the graph shows
// counts as present; inside an ordinary graph submap it does not.
TEST_F(ArcOps, ArcShownInAnExplodedViewOfAMemberIsPresent)
{
    for (int submapType : {OVwExplodedSubmap, OVwGraphSubmap}) {
        std::string tag = std::to_string(submapType);
        std::string aName = "x" + tag;
        std::string zName = "y" + tag;
        OVwObjectId x = vertex(aName.c_str());
        OVwObjectId y = vertex(zName.c_str());
        OVwObjectId holder = vertex(("holder" + tag).c_str());
        ASSERT_NE(holder, 0);
        OVwSubmapId view = OVwCreateSubmap(TopologyAdapterPeer::mapHandle(*ad), holder, submapType, 0, "view", 0, 0);
        ASSERT_NE(view, 0);
        OVwSymbolId xs = OVwCreateSymbol(TopologyAdapterPeer::mapHandle(*ad), view, x, nullptr, nullptr, 1, 3, nullptr, 0);
        OVwSymbolId ys = OVwCreateSymbol(TopologyAdapterPeer::mapHandle(*ad), view, y, nullptr, nullptr, 1, 3, nullptr, 0);
        OVwObjectId arc =
            OVwDbCreateObjectBySelectionName(ad->arcName(7, num(kIP), aName.c_str(), num(kIP), zName.c_str(), 1));
        ASSERT_NE(arc, 0);
        ASSERT_NE(OVwCreateConnSymbol(TopologyAdapterPeer::mapHandle(*ad), arc, xs, ys, nullptr, nullptr, 1, 3, 0), 0);

        EXPECT_EQ(arc7(kIP, aName.c_str(), kIP, zName.c_str()), arc);
        EXPECT_EQ(connections(arc).size(), submapType == OVwExplodedSubmap ? 0u : 1u) << submapType;
    }
}

TEST_F(ArcOps, FailedConnectionStillGivesTheArcAndLeavesThePlatformError)
{
    ASSERT_NE(vertex("a"), 0);
    ASSERT_NE(vertex("b"), 0);
    mapdb::failNext("OVwCreateConnSymbol", OVw_NO_SUCH_SYMBOL);
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_PLATFORM);
    EXPECT_TRUE(connections(arc).empty());
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 1u);
}

// ---- listing ----------------------------------------------------------------------------

TEST_F(ArcOps, ListingDerivesTheBindingFromTheProtocolNames)
{
    ASSERT_NE(vertex("dev1"), 0);
    ASSERT_NE(vertex("dev2", kEthernet), 0);
    OVwObjectId g = makeGraph(TopologyAdapterPeer::mapHandle(*ad), sel("SANNET", "fabric"), netSubmap);
    ASSERT_NE(g, 0);

    // Created with binding 4, listed with numbers.
    ASSERT_NE(ad->tqotCreateArcInGraph("IP", "net", 4, txt("IP"), "dev1", txt("ETHERNET_CSMACD"), "dev2", 8,
                                       nullptr, nullptr, nullptr, 1),
              0);
    // A graph endpoint whose protocol is not in the table keeps its text.
    ASSERT_NE(ad->tqotCreateArcInGraph("IP", "net", 6, num(kIP), "dev1", txt("SANNET"), "fabric", 9, nullptr,
                                       nullptr, nullptr, 1),
              0);

    ArcList *list = ad->tqotGetArcsInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    const ArcEntry &e0 = list->entries[0];
    EXPECT_EQ(e0.binding, 7);
    EXPECT_EQ(e0.aProtocol.vertexProtocol, kEthernet);
    EXPECT_STREQ(e0.aName, "dev2");
    EXPECT_EQ(e0.zProtocol.vertexProtocol, kIP);
    EXPECT_STREQ(e0.zName, "dev1");
    EXPECT_EQ(e0.index, 8);
    const ArcEntry &e1 = list->entries[1];
    EXPECT_EQ(e1.binding, 6);
    EXPECT_EQ(e1.aProtocol.vertexProtocol, kIP);
    EXPECT_STREQ(e1.zProtocol.graphProtocol, "SANNET");
    EXPECT_STREQ(e1.zName, "fabric");
    EXPECT_EQ(e1.index, 9);

    // Each entry's parts delete what they name.
    EXPECT_EQ(ad->tqotDeleteArcFromGraph("IP", "net", e1.binding, e1.aProtocol, e1.aName, e1.zProtocol, e1.zName,
                                         e1.index),
              0);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC), 1u);
    EXPECT_EQ(ad->tqotFreeArcList(list), 0);
    EXPECT_EQ(ad->tqotFreeArcList(nullptr), 0);

    list = ad->tqotGetArcsInGraph("IP", "nograph");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    EXPECT_EQ(list->entries, nullptr);
    ad->tqotFreeArcList(list);
}

TEST_F(ArcOps, ForeignArcObjectIsListedButMatchesNothing)
{
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    OVwObjectId foreign = OVwDbCreateObjectBySelectionName("some;other;thing");
    ASSERT_NE(foreign, 0);
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(net, TQOT_KIND_ARC), foreign);

    ArcList *list = ad->tqotGetArcsInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 2);
    const ArcEntry &f = list->entries[1];
    EXPECT_EQ(f.binding, 0);
    EXPECT_EQ(f.aName, nullptr);
    EXPECT_EQ(f.zName, nullptr);
    EXPECT_STREQ(f.selectionName, "some;other;thing");
    EXPECT_EQ(ad->tqotDeleteArcFromGraph("IP", "net", f.binding, f.aProtocol, "x", f.zProtocol, "y", f.index), -1);
    EXPECT_EQ(connections(arc).size(), 1u);
    ad->tqotFreeArcList(list);
}

TEST_F(ArcOps, StaleArcEntryRebuildsTheIndex)
{
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    TopologyAdapterPeer::memberIndex(*ad).emplace(MemberKey(net, TQOT_KIND_ARC), 424242);
    ArcList *list = ad->tqotGetArcsInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    ASSERT_EQ(list->count, 1);
    EXPECT_STREQ(list->entries[0].aName, "a");
    ad->tqotFreeArcList(list);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, 424242), 0u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 1u);
}

// ---- deletion ----------------------------------------------------------------------------

TEST_F(ArcOps, DeletionWithANullEndpointNameChangesNothing)
{
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    mapdb::journalClear();
    mapdb::journalEnable(true);
    EXPECT_EQ(ad->tqotDeleteArcFromGraph("IP", "net", 7, num(kIP), "a", num(kIP), nullptr, 1), -1);
    EXPECT_EQ(ad->tqotDeleteArcFromGraph("IP", "net", 7, num(kIP), nullptr, num(kIP), "b", 1), -1);
    mapdb::journalEnable(false);
    EXPECT_TRUE(mapdb::journal().empty());
    EXPECT_TRUE(traceHas(adapterTrace(), "tqotDeleteArcFromGraph", "an endpointName is null"));
    EXPECT_EQ(connections(arc).size(), 1u);
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC, arc), 1u);
}

TEST_F(ArcOps, LibraryEntryDeletesThroughTheAdapter)
{
    OVwObjectId arc = arc7(kIP, "a", kEthernet, "b");
    ASSERT_NE(arc, 0);
    // Reversed endpoints name the same arc.
    EXPECT_EQ(::tqotDeleteArcFromGraph("IP", "net", 7, num(kEthernet), "b", num(kIP), "a", 1), 0);
    EXPECT_TRUE(connections(arc).empty());
    EXPECT_EQ(indexCount(net, TQOT_KIND_ARC), 0u);
    EXPECT_TRUE(traceHas(adapterTrace(), "tqotDeleteArcFromGraph", "enter"));
    EXPECT_EQ(::tqotDeleteArcFromGraph("IP", "net", 7, num(kEthernet), "b", num(kIP), "ghost", 1), -1);
    EXPECT_EQ(::tqotDeleteArcFromGraph("IP", "net", 9, num(kEthernet), "b", num(kIP), "a", 1), -1);
}

// ---- no map open --------------------------------------------------------------------------

TEST_F(ArcOps, WithNoMapOpenEveryOperationFailsCleanly)
{
    OVwObjectId arc = arc7(kIP, "a", kIP, "b");
    ASSERT_NE(arc, 0);
    OVwFreeMapInfo(TopologyAdapterPeer::mapHandle(*ad));
    TopologyAdapterPeer::mapHandle(*ad) = nullptr;

    EXPECT_EQ(arc7(kIP, "c", kIP, "d"), 0);
    EXPECT_EQ(ad->tqotGetError(), TQOT_ERR_NO_MAP);
    EXPECT_STREQ(ad->tqotGetErrorMsg(TQOT_ERR_NO_MAP), "no map is open");
    EXPECT_EQ(ad->arcName(7, num(kIP), "a", num(kIP), "b", 1), nullptr);
    EXPECT_EQ(ad->tqotChangeArcStatus(7, num(kIP), "a", num(kIP), "b", 1, 2), TQOT_ERR_NO_MAP);
    ArcList *list = ad->tqotGetArcsInGraph("IP", "net");
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->count, 0);
    ad->tqotFreeArcList(list);
    EXPECT_EQ(ad->tqotDeleteArcFromGraph("IP", "net", 7, num(kIP), "a", num(kIP), "b", 1), -1);
    EXPECT_EQ(objectId(sel("IP", "c")), 0);
}

}  // namespace
