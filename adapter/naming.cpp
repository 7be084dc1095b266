// Naming and lookup tables of the topology adapter: selection names,
// protocol numbers and names, layouts, statuses and the icon table read from
// oid_to_sym.
#include "adapter/state.h"
#include "adapter/tqot.h"
#include "log/log.h"
#include "host/fileid.h"
#include "host/hostpath.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>

namespace {

constexpr int kProtocolCount = 100;

// Indexed by the caller's protocol number. 1 to 32 follow the MIB-II ifType
// numbering; the empty entries are free numbers.
const char *const kProtocols[kProtocolCount] = {
    "NONEXISTENT",        //  0
    "OTHER_PROTOCOL",     //  1
    "REGULAR1822",        //  2
    "HDH1822",            //  3
    "DDN_X25",            //  4
    "RFC877_X25",         //  5
    "ETHERNET_CSMACD",    //  6
    "ISO88023_CSMACD",    //  7
    "ISO88024_TOKENBUS",  //  8
    "ISO88025_TOKENRING", //  9
    "ISO88026_MAN",       // 10
    "STARLAN",            // 11
    "PROTEON_10MBIT",     // 12
    "PROTEON_80MBIT",     // 13
    "HYPERCHANNEL",       // 14
    "FDDI",               // 15
    "LAPB",               // 16
    "SDLC",               // 17
    "DSL",                // 18
    "EL",                 // 19
    "BASIC_ISDN",         // 20
    "PRIMARY_ISDN",       // 21
    "PROP_P_P_SERIAL",    // 22
    "PPP",                // 23
    "SW_LOOPBACK",        // 24
    "EON",                // 25
    "ETHERNET_3MBIT",     // 26
    "NSIP",               // 27
    "SLIP",               // 28
    "ULTRA",              // 29
    "DS3",                // 30
    "SIP",                // 31
    "FRAME_RELAY",        // 32
    "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "", "",   // 33-49
    "TCP",                // 50
    "UDP",                // 51
    "ICMP",               // 52
    "SNMP",               // 53
    "FIBRE_CHANNEL",      // 54
    "ISCSI",              // 55
    "IP",                 // 56
    "SCSI",               // 57
    "FCIP",               // 58
    "", "", "", "", "", "",   // 59-64
    "IFCP",               // 65
    "", "", "", "",       // 66-69
    "SWITCH",             // 70
    "HUB",                // 71
    "BRIDGE",             // 72
    "ROUTER",             // 73
    "HOST",               // 74
    "STORAGE_ARRAY",      // 75
    "TAPE_LIBRARY",       // 76
    "JBOD",               // 77
    "RAID",               // 78
    "HBA",                // 79
    "GATEWAY",            // 80
    "FABRIC",             // 81
    "ZONE",               // 82
    "LOOP",               // 83
    "ARP",                // 84
    "DNS",                // 85
    "HTTP",               // 86
    "TELNET",             // 87
    "FTP",                // 88
    "SSH",                // 89
    "IPX",                // 90
    "LDAP",               // 91
    "NFS",                // 92
    "RPC",                // 93
    "CIM",                // 94
    "SMI_S",              // 95
    "WEB_MANAGEMENT",     // 96
    "",                   // 97
    "DHCP",               // 98
    "MANAGEMENT_STATION", // 99
};

// Platform submap layout per layout number 0..9.
const int32_t kLayouts[10] = {
    OVwNoLayout, OVwNoLayout, OVwNoLayout, OVwPointToPointLayout, OVwStarLayout,
    OVwRowColumnLayout, OVwRingLayout, OVwBusLayout, OVwPointToPointLayout, OVwMultipleConnLayout,
};

// Platform symbol status per status number 0..4.
const int32_t kStatuses[5] = {
    OVwStatusUnmanaged, OVwStatusCritical, OVwStatusMajor, OVwStatusNormal, OVwStatusMarginal,
};

// Longest key and value of an oid_to_sym line.
constexpr size_t kIconTextMax = 127;

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

void initUnprotocolMap()
{
    TQ_TRACE_SCOPE("initUnprotocolMap");
    NamingTables &t = adapterState().naming;
    t.protocolIndex.clear();
    // A name that occurs more than once keeps the index of its last occurrence.
    for (int32_t i = 0; i < kProtocolCount; ++i)
        t.protocolIndex[kProtocols[i]] = i;
    t.protocolIndexBuilt = true;
}

// Adds one oid_to_sym line ("key:value", value cut at a newline, tab or '#',
// trailing blanks removed) to the table. Null when the line was taken or is
// blank or a comment; else why it cannot be read.
const char *addIconLine(TraceScope &tqTraceScope_, const char *line, std::map<std::string, std::string> &map)
{
    if (line[0] == '\n')
        return nullptr;
    const char *colon = line;
    while (*colon != ':') {
        if (*colon == '#' || *colon == '\0' || *colon == '\n') {
            // Blanks before the end or a comment make no entry and no fault.
            const char *p = line;
            while (p < colon && (*p == ' ' || *p == '\t' || *p == '\r'))
                ++p;
            return p == colon ? nullptr : "no ':' between an icon key and a symbol type";
        }
        ++colon;
    }
    size_t keyLength = static_cast<size_t>(colon - line);
    const char *value = colon + 1;
    size_t valueLength = std::strcspn(value, "\n\t#");
    // A CRLF line end counts as the newline, as a text-mode read gives it.
    if (value[valueLength] == '\n' && valueLength > 0 && value[valueLength - 1] == '\r')
        --valueLength;
    while (valueLength > 0 && value[valueLength - 1] == ' ')
        --valueLength;
    if (keyLength > kIconTextMax) {
        TQ_TRACE_MSG("initIconMap: key too long, line skipped");
        return "icon key longer than 127 characters";
    }
    if (valueLength > kIconTextMax) {
        TQ_TRACE_MSG("initIconMap: value too long, line skipped");
        return "symbol type longer than 127 characters";
    }
    map[std::string(line, keyLength)] = std::string(value, valueLength);
    return nullptr;
}

void initIconMap()
{
    TQ_TRACE_SCOPE("initIconMap");
    NamingTables &t = adapterState().naming;
    t.iconMap.clear();
    t.iconMapBuilt = true;
    std::unique_ptr<FILE, FileCloser> file(std::fopen(hostPath("\\usr\\ov\\conf\\c\\oid_to_sym").c_str(), "r"));
    if (!file) {
        TQ_TRACE_MSG("initIconMap: could not open \\usr\\ov\\conf\\c\\oid_to_sym");
        return;
    }
    // Its lines are kept in memory: a file past the bound is not read.
    HostFileIdentity size;
    if (hostStreamIdentity(file.get(), size) && size.size > kLargestTableFile) {
        char text[256];
        std::snprintf(text, sizeof text, "Symbol types file %s is larger than %lld bytes: not read",
                      hostPath("\\usr\\ov\\conf\\c\\oid_to_sym").c_str(),
                      static_cast<long long>(kLargestTableFile));
        MessageLog(text);
        return;
    }
    // At most 255 characters per piece; the rest of a longer line comes as
    // a piece of its own. A line that cannot be read is named in the message
    // log, once, as the table is read.
    char line[256];
    long number = 1;
    while (std::fgets(line, sizeof line, file.get()) != nullptr) {
        if (const char *reason = addIconLine(tqTraceScope_, line, t.iconMap)) {
            char text[160];
            std::snprintf(text, sizeof text, "oid_to_sym line %ld cannot be read: %s; it gives no symbol type",
                          number, reason);
            MessageLog(text);
        }
        if (std::strchr(line, '\n') != nullptr)
            ++number;
    }
}

}  // namespace

char *TopologyAdapter::name(const char *protocolName, const char *objectName, char *buffer)
{
    TQ_TRACE_SCOPE("name");
    if (mapHandle == nullptr) {
        TQ_TRACE_MSG("No map open.");
        refuse(TQOT_ERR_NO_MAP);
        return nullptr;
    }
    if (buffer == nullptr)
        buffer = nameBuffer_;
    const size_t size = sizeof nameBuffer_;
    const char *first = shownText(protocolName);
    const char *second = shownText(objectName);
    const char *mapName = shownText(mapHandle->map_name);
    // ';' separates the parts: a part holding one would make the name of
    // another object (or read back as other parts).
    if (std::strchr(first, ';') != nullptr || std::strchr(second, ';') != nullptr) {
        TQ_TRACE_MSG("Name contains ';'.");
        refuse(TQOT_ERR_NAME_SEPARATOR);
        return nullptr;
    }
    // A name that does not fit is refused whole: a cut name would name
    // another object.
    if (std::strlen(first) + std::strlen(second) + std::strlen(mapName) + 2 >= size) {
        TQ_TRACE_MSG("Name too long.");
        refuse(TQOT_ERR_NAME_TOO_LONG);
        return nullptr;
    }
    std::snprintf(buffer, size, "%s%c%s%c%s", first, ';', second, ';', mapName);
    return buffer;
}

char *TopologyAdapter::unname(char *selectionName)
{
    TQ_TRACE_SCOPE("unname");
    if (selectionName == nullptr)
        return nullptr;
    char *first = std::strchr(selectionName, ';');
    if (first == nullptr) {
        // No object-name part: an empty one at the end of the text.
        return selectionName + std::strlen(selectionName);
    }
    *first = '\0';
    char *objectName = first + 1;
    char *second = std::strchr(objectName, ';');
    if (second != nullptr)
        *second = '\0';
    return objectName;
}

const char *TopologyAdapter::protocol(int32_t number)
{
    TQ_TRACE_SCOPE("protocol");
    if (number < 0 || number >= kProtocolCount) {
        TQ_TRACE_MSG("invalid protocol");
        return "invalid";
    }
    return kProtocols[number];
}

int32_t TopologyAdapter::unprotocol(const char *protocolName)
{
    TQ_TRACE_SCOPE("unprotocol");
    NamingTables &t = adapterState().naming;
    if (!t.protocolIndexBuilt)
        initUnprotocolMap();
    if (protocolName == nullptr)
        return 0;
    auto it = t.protocolIndex.find(protocolName);
    return it != t.protocolIndex.end() ? it->second : 0;
}

int32_t TopologyAdapter::layout(int32_t number)
{
    TQ_TRACE_SCOPE("layout");
    if (number < 0 || number >= static_cast<int32_t>(sizeof kLayouts / sizeof kLayouts[0])) {
        TQ_TRACE_MSG("invalid layout");
        return OVwNoLayout;
    }
    return kLayouts[number];
}

int32_t TopologyAdapter::status(int32_t number)
{
    TQ_TRACE_SCOPE("status");
    if (number < 0 || number >= static_cast<int32_t>(sizeof kStatuses / sizeof kStatuses[0])) {
        TQ_TRACE_MSG("invalid status");
        return kStatuses[0];
    }
    return kStatuses[number];
}

const char *TopologyAdapter::icon(const char *key)
{
    TQ_TRACE_SCOPE("icon");
    NamingTables &t = adapterState().naming;
    if (!t.iconMapBuilt)
        initIconMap();
    if (key == nullptr)
        return nullptr;
    auto it = t.iconMap.find(key);
    if (it == t.iconMap.end()) {
        TQ_TRACE_MSG("icon not found");
        return nullptr;
    }
    return it->second.c_str();
}
