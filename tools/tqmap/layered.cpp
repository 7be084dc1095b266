// The layered drawing of a large submap (see layered.h).
#include "tools/tqmap/layered.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace tqmap {

namespace {

// Places and rows in pixels; a label holds at most kLabelChars characters,
// whose width (about 0.6 of the font size each) stays inside its place.
constexpr double kSlot = 120;
constexpr double kRow = 72;
constexpr double kMargin = 40;
constexpr int kFontSize = 10;
constexpr size_t kLabelChars = 18;
constexpr size_t kMaxOpenKeys = 64;

// Text for XML: markup escaped, bytes that are no UTF-8 as U+FFFD, and at most
// `most` characters (the last one an ellipsis when cut).
std::string xmlText(const std::string &text, size_t most = std::string::npos)
{
    std::vector<std::string> chars;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
        bool ok = len != 0 && i + len <= text.size();
        for (size_t k = 1; ok && k < len; ++k)
            ok = (static_cast<unsigned char>(text[i + k]) & 0xC0) == 0x80;
        if (!ok) {
            chars.emplace_back("\xEF\xBF\xBD");
            ++i;
            continue;
        }
        chars.push_back(text.substr(i, len));
        i += len;
    }
    if (most != std::string::npos && chars.size() > most) {
        chars.resize(most - 1);
        chars.emplace_back("\xE2\x80\xA6");
    }
    std::string out;
    for (const std::string &ch : chars) {
        if (ch == "&") out += "&amp;";
        else if (ch == "<") out += "&lt;";
        else if (ch == ">") out += "&gt;";
        else if (ch == "\"") out += "&quot;";
        else if (static_cast<unsigned char>(ch[0]) < 0x20) out += ' ';
        else out += ch;
    }
    return out;
}

std::string num(double v)
{
    std::ostringstream o;
    o << std::round(v * 10) / 10;
    return o.str();
}

std::string typeClass(const std::optional<std::string> &type)
{
    std::string cls = type ? type->substr(0, type->find(':')) : std::string();
    std::transform(cls.begin(), cls.end(), cls.begin(), [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return cls;
}

// The outline of a symbol centred at (x, y), in the symbol's colours.
std::string shapeAt(const std::string &cls, bool graph, double x, double y, const StatusColours &c)
{
    std::string paint = " fill=\"" + std::string(c.fill) + "\" stroke=\"" + c.line + "\" stroke-width=\"1.2\"";
    if (cls == "computer" || cls == "server")
        return "<ellipse cx=\"" + num(x) + "\" cy=\"" + num(y) + "\" rx=\"22\" ry=\"13\"" + paint + "/>";
    if (cls == "storage")
        return "<path d=\"M" + num(x - 18) + " " + num(y - 9) + " a18 5 0 0 0 36 0 v18 a18 5 0 0 1 -36 0 z M" +
               num(x - 18) + " " + num(y - 9) + " a18 5 0 0 1 36 0\"" + paint + "/>";
    double w = graph ? 26 : 20, h = 13;
    std::string pts = num(x - w) + "," + num(y - h) + " " + num(x + w) + "," + num(y - h) + " " + num(x + w) + "," +
                      num(y + h) + " " + num(x - w) + "," + num(y + h);
    if (cls == "network" || cls == "net")
        pts = num(x - w) + "," + num(y) + " " + num(x - w / 2) + "," + num(y - h) + " " + num(x + w / 2) + "," +
              num(y - h) + " " + num(x + w) + "," + num(y) + " " + num(x + w / 2) + "," + num(y + h) + " " +
              num(x - w / 2) + "," + num(y + h);
    return "<polygon points=\"" + pts + "\"" + paint + "/>";
}

std::string labelAt(const std::string &text, double x, double y)
{
    return "<text x=\"" + num(x) + "\" y=\"" + num(y + 27) + "\" text-anchor=\"middle\" font-family=\"Helvetica,sans-serif\" "
           "font-size=\"" + std::to_string(kFontSize) + "\" fill=\"#212121\" stroke=\"#fafafa\" stroke-width=\"3\" "
           "paint-order=\"stroke\">" + xmlText(text, kLabelChars) + "</text>";
}

// A place in the drawing: a symbol, a group standing for folded symbols, or
// the way to the page before (-1) or after (+1) the shown page of a group.
struct Item {
    int symbol = 0;        // 0 for a group or a page's neighbour
    int group = -1;        // index into the groups
    int pager = 0;
};

// The open key of a group's page (from 1).
std::string pageKey(const FoldedGroup &g, size_t page)
{
    return page <= 1 ? g.key : g.key + "p" + std::to_string(page);
}

// True when open key `k` opens a page of the group `key`.
bool opensGroup(const std::string &k, const std::string &key)
{
    return k.compare(0, key.size(), key) == 0 && (k.size() == key.size() || k[key.size()] == 'p');
}

// The page of group `key` the open keys ask for: 0 when none.
size_t askedPage(const std::set<std::string> &open, const std::string &key)
{
    // Keys of other groups can sort between ("t12" between "t1" and "t1p2").
    for (auto it = open.lower_bound(key); it != open.end() && it->compare(0, key.size(), key) == 0; ++it)
        if (opensGroup(*it, key))
            return it->size() == key.size() ? 1 : std::max<size_t>(1, std::strtoul(it->c_str() + key.size() + 1, nullptr, 10));
    return 0;
}

// A polyline's path data from its corners.
std::string pathOf(const std::vector<std::pair<double, double>> &pts)
{
    std::string d;
    for (size_t i = 0; i < pts.size(); ++i)
        d += (i == 0 ? "M" : " L") + num(pts[i].first) + " " + num(pts[i].second);
    return d;
}

class Layering {
public:
    Layering(const MapModel &m, int submap, const ViewQuery &q) : m_(m), submap_(submap), q_(q) {}

    LayeredDrawing run()
    {
        collect();
        classify();
        place();
        return draw();
    }

    bool wayTo(int symbol, std::set<std::string> &open)
    {
        collect();
        if (icons_.count(symbol) == 0)
            return false;
        classify();
        open = q_.open;
        for (FoldedGroup &g : groups_) {
            if (std::find(g.members.begin(), g.members.end(), symbol) == g.members.end())
                continue;
            if (!g.open)
                byName(g);
            auto at = std::find(g.members.begin(), g.members.end(), symbol);
            size_t index = static_cast<size_t>(at - g.members.begin());
            if (g.open && index >= g.from && index < g.to)
                return true;
            for (auto it = open.begin(); it != open.end();)
                it = opensGroup(*it, g.key) ? open.erase(it) : std::next(it);
            open.insert(pageKey(g, index / kPageSize + 1));
            return true;
        }
        return true;
    }

private:
    void collect()
    {
        std::set<int> reach;
        if (q_.around != 0)
            reach = withinHops(m_, q_.around, q_.hops);
        auto it = m_.symbolsOnSubmap.find(submap_);
        if (it == m_.symbolsOnSubmap.end())
            return;
        for (int sid : it->second) {
            const Symbol &s = m_.symbols.at(sid);
            if (s.isConnection())
                conns_.push_back(sid);
            else if (q_.around == 0 || reach.count(sid) != 0)
                icons_.insert(sid);
        }
        for (int cid : conns_) {
            const Symbol &c = m_.symbols.at(cid);
            if (c.connA == c.connZ)
                continue;
            all_[c.connA].insert(c.connZ);
            all_[c.connZ].insert(c.connA);
            if (icons_.count(c.connA) == 0 || icons_.count(c.connZ) == 0)
                continue;
            nbrs_[c.connA].insert(c.connZ);
            nbrs_[c.connZ].insert(c.connA);
        }
    }

    size_t degree(int sid, bool whole = false) const
    {
        const auto &in = whole ? all_ : nbrs_;
        auto it = in.find(sid);
        return it == in.end() ? 0 : it->second.size();
    }

    void classify()
    {
        std::map<int, std::vector<int>> fans;   // edge symbol -> leaves
        std::vector<int> loose;
        for (int sid : icons_) {
            size_t d = degree(sid);
            if (d == 0) {
                loose.push_back(sid);
            } else if (d == 1 && sid != q_.around && degree(sid, true) == 1 &&
                       degree(*nbrs_.at(sid).begin(), true) > 1) {
                // A leaf on the whole submap: a neighbourhood's rim stays in its role.
                fans[*nbrs_.at(sid).begin()].push_back(sid);
                leaf_.insert(sid);
            }
        }
        for (int sid : icons_)
            if (degree(sid) > 0 && leaf_.count(sid) == 0 && fans.count(sid) == 0)
                core_.push_back(sid);
        for (auto &[hub, leaves] : fans) {
            edges_.push_back(hub);
            FoldedGroup g;
            g.key = "f" + std::to_string(hub);
            g.hub = hub;
            g.members = leaves;
            fanOf_[hub] = groups_.size();
            openAsAsked(g, leaves.size() <= kFoldFan);
            groups_.push_back(std::move(g));
            if (groups_.back().open)
                fanItems_[hub] = pageItems(groups_.size() - 1);
        }
        // Loose symbols: by symbol type, each type of more than kFoldFan folded.
        std::map<std::string, std::vector<int>> byType;
        for (int sid : loose)
            byType[m_.symbols.at(sid).symbolType.value_or("")].push_back(sid);
        for (auto &[type, members] : byType) {
            if (members.size() <= kFoldFan) {
                for (int sid : members)
                    looseItems_.push_back({sid, -1});
                continue;
            }
            FoldedGroup g;
            g.key = "t" + std::to_string(members.front());
            g.members = members;
            openAsAsked(g, false);
            groups_.push_back(std::move(g));
            if (groups_.back().open) {
                std::vector<Item> page = pageItems(groups_.size() - 1);
                looseItems_.insert(looseItems_.end(), page.begin(), page.end());
            } else {
                looseItems_.push_back({0, static_cast<int>(groups_.size() - 1)});
            }
        }
        // Graphs first among the loose, as on the ranked drawing.
        std::stable_sort(looseItems_.begin(), looseItems_.end(), [&](const Item &a, const Item &b) {
            return a.symbol != 0 && b.symbol != 0 && m_.isGraphObject(m_.symbols.at(a.symbol).object) &&
                   !m_.isGraphObject(m_.symbols.at(b.symbol).object);
        });
    }

    // Pages: a group of more than kPageSize members in the order of their
    // names, so each page is a range of names.
    void byName(FoldedGroup &g) const
    {
        if (g.pages < 2)
            return;
        std::vector<std::pair<std::string, int>> named;
        named.reserve(g.members.size());
        for (int sid : g.members)
            named.emplace_back(displayName(m_, m_.symbols.at(sid)), sid);
        std::sort(named.begin(), named.end());
        for (size_t k = 0; k < named.size(); ++k)
            g.members[k] = named[k].second;
    }

    // Open when `always` or asked, at the page asked for (the last when asked
    // past it). Only an open group is put in the order of its pages: the
    // largest submap folds tens of thousands of symbols.
    void openAsAsked(FoldedGroup &g, bool always)
    {
        g.pages = std::max<size_t>(1, (g.members.size() + kPageSize - 1) / kPageSize);
        size_t page = askedPage(q_.open, g.key);
        g.open = always || page != 0;
        if (g.open)
            byName(g);
        g.page = std::min(std::max<size_t>(page, 1), g.pages);
        g.from = (g.page - 1) * kPageSize;
        g.to = std::min(g.members.size(), g.from + kPageSize);
    }

    // The shown page of an open group, with the ways to the pages beside it.
    std::vector<Item> pageItems(size_t gi) const
    {
        const FoldedGroup &g = groups_[gi];
        std::vector<Item> out;
        if (g.page > 1)
            out.push_back({0, static_cast<int>(gi), -1});
        for (size_t k = g.from; k < g.to; ++k)
            out.push_back({g.members[k], -1, 0});
        if (g.page < g.pages)
            out.push_back({0, static_cast<int>(gi), 1});
        return out;
    }

    // Columns and rows of a fan's block beneath its edge symbol.
    static std::pair<size_t, size_t> fanBlock(size_t n)
    {
        if (n == 0)
            return {1, 0};
        size_t cols = n <= kFoldFan ? std::min<size_t>(2, n) : static_cast<size_t>(std::ceil(std::sqrt(double(n))));
        return {cols, (n + cols - 1) / cols};
    }

    void at(const Item &item, double x, double y)
    {
        placed_.push_back({item, {x, y}});
    }

    void place()
    {
        // The edge bands first: they set the drawing's width.
        struct Band {
            std::vector<int> hubs;
            size_t slots = 0, rows = 1;
        };
        std::vector<Band> bands(1);
        for (int hub : edges_) {
            const FoldedGroup &g = groups_[fanOf_.at(hub)];
            auto [cols, rows] = g.open ? fanBlock(fanItems_[hub].size()) : std::pair<size_t, size_t>{1, 1};
            // With core symbols above, one band: a second would take their
            // lines through the first.
            if (core_.empty() && bands.back().slots > 0 && bands.back().slots + cols > kRowSlots)
                bands.emplace_back();
            bands.back().hubs.push_back(hub);
            bands.back().slots += cols;
            bands.back().rows = std::max(bands.back().rows, 1 + rows);
        }
        size_t width = std::max<size_t>({1, std::min(core_.size(), kRowSlots), std::min(looseItems_.size(), kRowSlots)});
        for (const Band &b : bands)
            width = std::max(width, b.slots);
        width_ = kMargin * 2 + static_cast<double>(width) * kSlot;
        double y = kMargin + kRow / 2;
        // Core rows, centred.
        for (size_t i = 0; i < core_.size(); i += kRowSlots) {
            size_t n = std::min(kRowSlots, core_.size() - i);
            double x0 = (width_ - static_cast<double>(n) * kSlot) / 2 + kSlot / 2;
            for (size_t k = 0; k < n; ++k)
                at({core_[i + k], -1}, x0 + static_cast<double>(k) * kSlot, y);
            y += kRow;
        }
        if (!core_.empty()) {
            // Room for the lines down to the edge switches: each core symbol
            // has its own bus between the last core row's labels and the
            // tops of the edge switches.
            double top = y - kRow + 32, bottom = y + kRow / 2 - 20;
            for (size_t i = 0; i < core_.size(); ++i)
                coreBus_[core_[i]] = {top + (bottom - top) * (static_cast<double>(i) + 0.5) / static_cast<double>(core_.size()),
                                      coreDrop(i)};
            y += kRow / 2;
        }
        for (const Band &b : bands) {
            if (b.hubs.empty())
                continue;
            double x = (width_ - static_cast<double>(b.slots) * kSlot) / 2;
            for (int hub : b.hubs) {
                size_t gi = fanOf_.at(hub);
                const FoldedGroup &g = groups_[gi];
                const std::vector<Item> &items = fanItems_[hub];
                auto [cols, rows] = g.open ? fanBlock(items.size()) : std::pair<size_t, size_t>{1, 1};
                double left = x + kSlot / 2, centre = x + static_cast<double>(cols) * kSlot / 2;
                at({hub, -1}, centre, y);
                if (g.open) {
                    for (size_t k = 0; k < items.size(); ++k) {
                        double ix = left + static_cast<double>(k % cols) * kSlot, iy = y + kRow * static_cast<double>(1 + k / cols);
                        at(items[k], ix, iy);
                        if (items[k].symbol != 0)
                            fanRoute_[items[k].symbol] = {hub, x};
                    }
                } else {
                    at({0, static_cast<int>(gi)}, centre, y + kRow);
                }
                (void)rows;
                x += static_cast<double>(cols) * kSlot;
            }
            y += kRow * static_cast<double>(b.rows) + kRow / 2;
        }
        for (size_t i = 0; i < looseItems_.size(); i += kRowSlots) {
            size_t n = std::min(kRowSlots, looseItems_.size() - i);
            for (size_t k = 0; k < n; ++k)
                at(looseItems_[i + k], kMargin + kSlot / 2 + static_cast<double>(k) * kSlot, y);
            y += kRow;
        }
        height_ = y + kMargin;
    }

    void drawSymbol(std::ostringstream &out, const Symbol &s, double x, double y)
    {
        bool graph = m_.isGraphObject(s.object);
        int st = m_.effectiveStatus(s);
        out << "<g id=\"s" << s.id << "\" class=\"node sym st" << st << (graph ? " graph" : "") << "\"><title>"
            << xmlText(selectionOf(m_, s.object) + " (" + statusName(st) + ")") << "</title>";
        auto kids = m_.submapsOfObject.find(s.object);
        bool link = graph && kids != m_.submapsOfObject.end();
        if (link)
            out << "<a xlink:href=\"/submap/" << kids->second.front() << "\">";
        out << shapeAt(typeClass(s.symbolType), graph, x, y, statusColours(st)) << labelAt(displayName(m_, s), x, y);
        if (link)
            out << "</a>";
        out << "</g>\n";
    }

    void drawGroup(std::ostringstream &out, const FoldedGroup &g, double x, double y)
    {
        int st = worstStatus(m_, g.members);
        StatusColours c = statusColours(st);
        std::string what = g.hub != 0 ? "on " + displayName(m_, m_.symbols.at(g.hub))
                                      : "without connections (" +
                                            m_.symbols.at(g.members.front()).symbolType.value_or("no type") + ")";
        out << "<g id=\"g-" << g.key << "\" class=\"group st" << st << "\" data-group=\"" << g.key
            << "\" data-count=\"" << g.members.size() << "\"><title>"
            << xmlText(std::to_string(g.members.size()) + " devices " + what + ", worst status " + statusName(st) +
                       ": click to open")
            << "</title>"
            << "<rect x=\"" << num(x - 30) << "\" y=\"" << num(y - 12) << "\" width=\"60\" height=\"24\" rx=\"6\" fill=\""
            << c.fill << "\" stroke=\"" << c.line << "\" stroke-width=\"2\" stroke-dasharray=\"4,2\"/>"
            << "<rect x=\"" << num(x - 26) << "\" y=\"" << num(y - 16) << "\" width=\"60\" height=\"24\" rx=\"6\" fill=\""
            << c.fill << "\" stroke=\"" << c.line << "\" stroke-width=\"1\" opacity=\"0.6\"/>"
            << "<text x=\"" << num(x) << "\" y=\"" << num(y + 4) << "\" text-anchor=\"middle\" font-family=\"Helvetica,sans-serif\" "
               "font-size=\"10\" font-weight=\"bold\">" << g.members.size() << "</text>"
            << labelAt(std::to_string(g.members.size()) + " devices", x, y) << "</g>\n";
    }

    // A page's neighbour: the way to the page before or after it.
    void drawPager(std::ostringstream &out, const FoldedGroup &g, int step, double x, double y)
    {
        size_t page = step < 0 ? g.page - 1 : g.page + 1;
        size_t from = (page - 1) * kPageSize, to = std::min(g.members.size(), from + kPageSize);
        const char *dir = step < 0 ? "prev" : "next";
        std::string text = (step < 0 ? "\xE2\x97\x82 page " : "page ") + std::to_string(page) + " of " +
                           std::to_string(g.pages) + (step < 0 ? "" : " \xE2\x96\xB8");
        out << "<g id=\"pg-" << g.key << "-" << dir << "\" class=\"pager\" data-group=\"" << g.key << "\" data-open=\""
            << pageKey(g, page) << "\"><title>"
            << xmlText(text + ": " + displayName(m_, m_.symbols.at(g.members[from])) + " to " +
                       displayName(m_, m_.symbols.at(g.members[to - 1])) + " (click)")
            << "</title><rect x=\"" << num(x - 30) << "\" y=\"" << num(y - 12)
            << "\" width=\"60\" height=\"24\" rx=\"12\" fill=\"#eceff1\" stroke=\"#607d8b\" stroke-width=\"1.5\"/>"
            << labelAt(text, x, y) << "</g>\n";
    }

    // Where a core symbol's lines to the edge switches arrive: spread over
    // the middle of the switch, so that lines from different core symbols
    // stay apart.
    double coreDrop(size_t i) const
    {
        if (core_.size() < 2)
            return 0;
        double step = std::min(8.0, 32.0 / static_cast<double>(core_.size() - 1));
        return (static_cast<double>(i) - static_cast<double>(core_.size() - 1) / 2) * step;
    }

    // The corners of a connection's line: a fan's link by the buses between
    // its rows and the block's left border, a core symbol's link to an edge
    // switch by the core symbol's bus, any other straight.
    std::vector<std::pair<double, double>> routeOf(int a, std::pair<double, double> pa, int z, std::pair<double, double> pz) const
    {
        auto leaf = fanRoute_.find(a);
        if (leaf == fanRoute_.end() || leaf->second.first != z) {
            leaf = fanRoute_.find(z);
            if (leaf != fanRoute_.end() && leaf->second.first == a) {
                std::swap(pa, pz);
            } else {
                leaf = fanRoute_.end();
            }
        }
        if (leaf != fanRoute_.end()) {
            // pa: the device, pz: its switch.
            double busFirst = pz.second + kRow / 2, bus = pa.second - kRow / 2;
            if (bus <= busFirst + 1)
                return {pz, {pz.first, busFirst}, {pa.first, busFirst}, pa};
            double border = leaf->second.second;
            return {pz, {pz.first, busFirst}, {border, busFirst}, {border, bus}, {pa.first, bus}, pa};
        }
        auto core = coreBus_.find(a);
        bool edgeEnd = fanOf_.count(z) != 0;
        if (core == coreBus_.end() || !edgeEnd) {
            core = coreBus_.find(z);
            edgeEnd = fanOf_.count(a) != 0;
            if (core != coreBus_.end() && edgeEnd)
                std::swap(pa, pz);
        }
        if (core != coreBus_.end() && edgeEnd && pz.second > pa.second) {
            // pa: the core symbol, pz: the edge switch.
            auto [bus, drop] = core->second;
            return {pa, {pa.first, bus}, {pz.first + drop, bus}, {pz.first + drop, pz.second}};
        }
        return {pa, pz};
    }

    LayeredDrawing draw()
    {
        LayeredDrawing d;
        std::unordered_map<int, std::pair<double, double>> where;
        std::unordered_map<int, std::pair<double, double>> groupAt;
        for (const auto &[item, xy] : placed_) {
            if (item.symbol != 0) {
                where[item.symbol] = xy;
                d.positions[item.symbol] = xy;
            } else if (item.pager == 0) {
                groupAt[item.group] = xy;
            }
        }
        std::ostringstream out;
        out << "<svg xmlns=\"http://www.w3.org/2000/svg\" xmlns:xlink=\"http://www.w3.org/1999/xlink\" class=\"layered\" "
               "width=\"" << num(width_) << "\" height=\"" << num(height_) << "\" viewBox=\"0 0 " << num(width_) << " "
            << num(height_) << "\">\n<g id=\"graph0\" class=\"graph\">\n";
        if (placed_.empty())
            out << "<text x=\"" << num(kMargin) << "\" y=\"" << num(kMargin) << "\" font-size=\"12\">"
                << (q_.around != 0 ? "(nothing within reach)" : "(empty)") << "</text>\n";
        // Lines under the symbols: a folded fan by one dotted line.
        for (const auto &[gi, xy] : groupAt) {
            const FoldedGroup &g = groups_[static_cast<size_t>(gi)];
            if (g.hub == 0 || where.count(g.hub) == 0)
                continue;
            auto [x1, y1] = where.at(g.hub);
            out << "<path class=\"fold-link\" d=\"M" << num(x1) << " " << num(y1) << " L" << num(xy.first) << " "
                << num(xy.second) << "\" stroke=\"#9e9e9e\" stroke-width=\"1.5\" stroke-dasharray=\"3,3\" fill=\"none\"/>\n";
        }
        // Links share the buses: the worse a link's status, the later it is
        // drawn, so that it shows on top.
        std::vector<int> byStatus;
        for (int cid : conns_)
            if (where.count(m_.symbols.at(cid).connA) != 0 && where.count(m_.symbols.at(cid).connZ) != 0)
                byStatus.push_back(cid);
        std::stable_sort(byStatus.begin(), byStatus.end(), [&](int x, int y) {
            return mapdb::statusSeverity(m_.effectiveStatus(m_.symbols.at(x))) <
                   mapdb::statusSeverity(m_.effectiveStatus(m_.symbols.at(y)));
        });
        for (int cid : byStatus) {
            const Symbol &c = m_.symbols.at(cid);
            auto a = where.find(c.connA), z = where.find(c.connZ);
            if (a == where.end() || z == where.end())
                continue;
            int st = m_.effectiveStatus(c);
            StatusColours col = statusColours(st);
            std::vector<std::pair<double, double>> route = routeOf(c.connA, a->second, c.connZ, z->second);
            std::string d1 = pathOf(route);
            out << "<g id=\"s" << cid << "\" class=\"edge conn st" << st << "\"><title>"
                << xmlText(displayName(m_, c) + " (" + statusName(st) + ")") << "</title><path d=\"" << d1
                << "\" stroke=\"" << col.line << "\" stroke-width=\"2\" fill=\"none\""
                << (st == 2 ? " stroke-dasharray=\"5,2\"" : "") << "/>";
            // A wide, unseen copy of the line takes the clicks.
            std::string unseen = "class=\"hit\" stroke=\"#000\" stroke-opacity=\"0\" stroke-width=\"12\"";
            if (route.size() == 2)
                out << "<line " << unseen << " x1=\"" << num(route[0].first) << "\" y1=\"" << num(route[0].second)
                    << "\" x2=\"" << num(route[1].first) << "\" y2=\"" << num(route[1].second) << "\"/>";
            else
                out << "<path " << unseen << " fill=\"none\" d=\"" << d1 << "\"/>";
            out << "</g>\n";
            d.shown.push_back(cid);
        }
        for (const auto &[item, xy] : placed_) {
            if (item.symbol != 0) {
                drawSymbol(out, m_.symbols.at(item.symbol), xy.first, xy.second);
                d.shown.push_back(item.symbol);
            } else if (item.pager != 0) {
                drawPager(out, groups_[static_cast<size_t>(item.group)], item.pager, xy.first, xy.second);
            } else {
                drawGroup(out, groups_[static_cast<size_t>(item.group)], xy.first, xy.second);
            }
        }
        out << "</g>\n</svg>\n";
        d.svg = out.str();
        std::sort(d.shown.begin(), d.shown.end());
        d.groups = std::move(groups_);
        return d;
    }

    const MapModel &m_;
    int submap_;
    const ViewQuery &q_;
    std::set<int> icons_;
    std::vector<int> conns_;
    std::unordered_map<int, std::set<int>> nbrs_, all_;   // neighbours among what is drawn, on the whole submap
    std::unordered_set<int> leaf_;
    std::vector<int> core_, edges_;
    std::vector<Item> looseItems_;
    std::vector<FoldedGroup> groups_;
    std::unordered_map<int, size_t> fanOf_;
    std::unordered_map<int, std::vector<Item>> fanItems_;                   // edge symbol -> its open fan's places
    std::unordered_map<int, std::pair<int, double>> fanRoute_;              // shown leaf -> its switch, its block's left border
    std::unordered_map<int, std::pair<double, double>> coreBus_;            // core symbol -> its bus's y, its drop's offset
    std::vector<std::pair<Item, std::pair<double, double>>> placed_;
    double width_ = 0, height_ = 0;
};

}  // namespace

std::string ViewQuery::key() const
{
    if (plain())
        return std::string();
    std::string k = "a" + std::to_string(around) + "h" + std::to_string(hops) + "o";
    for (const std::string &o : open)
        k += o + ",";
    return k;
}

ViewQuery parseViewQuery(const std::string &open, const std::string &around, const std::string &hops)
{
    ViewQuery q;
    std::istringstream in(open);
    std::string key;
    auto digits = [](const std::string &t) {
        return !t.empty() && t.size() < 10 && t.find_first_not_of("0123456789") == std::string::npos;
    };
    while (std::getline(in, key, ',') && q.open.size() < kMaxOpenKeys) {
        size_t page = key.find('p');
        if (key.size() > 1 && (key[0] == 'f' || key[0] == 't') && digits(key.substr(1, page - 1)) &&
            (page == std::string::npos || digits(key.substr(page + 1))))
            q.open.insert(key);
    }
    if (!around.empty() && around.size() < 10 && around.find_first_not_of("0123456789") == std::string::npos)
        q.around = std::atoi(around.c_str());
    if (hops.size() == 1 && hops[0] >= '1' && hops[0] <= '0' + kMaxHops)
        q.hops = hops[0] - '0';
    return q;
}

std::set<int> withinHops(const MapModel &m, int symbol, int hops)
{
    std::set<int> seen;
    const Symbol *start = m.symbol(symbol);
    if (start == nullptr || start->isConnection())
        return seen;
    std::deque<std::pair<int, int>> todo{{symbol, 0}};
    seen.insert(symbol);
    while (!todo.empty()) {
        auto [sid, depth] = todo.front();
        todo.pop_front();
        if (depth >= hops)
            continue;
        auto at = m.connectionsAt.find(sid);
        if (at == m.connectionsAt.end())
            continue;
        for (int cid : at->second) {
            const Symbol &c = m.symbols.at(cid);
            int other = c.connA == sid ? c.connZ : c.connA;
            const Symbol *o = m.symbol(other);
            if (o != nullptr && o->submap == start->submap && seen.insert(other).second)
                todo.emplace_back(other, depth + 1);
        }
    }
    return seen;
}

int worstStatus(const MapModel &m, const std::vector<int> &symbols)
{
    int worst = -1, rank = -1;
    for (int sid : symbols) {
        const Symbol *s = m.symbol(sid);
        if (s == nullptr)
            continue;
        int st = m.effectiveStatus(*s), r = mapdb::statusSeverity(st);
        if (r > rank) {
            rank = r;
            worst = st;
        }
    }
    return worst < 0 ? 0 : worst;
}

LayeredDrawing drawLayered(const MapModel &m, int submap, const ViewQuery &q)
{
    return Layering(m, submap, q).run();
}

bool wayTo(const MapModel &m, int submap, const ViewQuery &q, int symbol, std::set<std::string> &open)
{
    return Layering(m, submap, q).wayTo(symbol, open);
}

}  // namespace tqmap
