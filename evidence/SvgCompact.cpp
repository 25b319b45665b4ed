#include "evidence/SvgCompact.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

namespace tarnwell {

namespace {

// A coordinate to a tenth of a pixel ("2.84217e-14" is 0, "84.2031" is 84.2), or to a whole
// one.
std::string Rounded(std::string_view number, bool whole)
{
    if (number.find_first_of(".eE") == std::string_view::npos) {
        return std::string(number);
    }
    const double value = std::strtod(std::string(number).c_str(), nullptr);
    char text[40];
    if (whole) {
        std::snprintf(text, sizeof text, "%.0f", std::round(value));
    } else {
        std::snprintf(text, sizeof text, "%.1f", std::round(value * 10.0) / 10.0);
    }
    std::string out = text;
    if (out.ends_with(".0")) {
        out.resize(out.size() - 2);
    }
    return out == "-0" ? "0" : out;
}

bool NumberChar(char c) { return (c >= '0' && c <= '9') || c == '.' || c == 'e' || c == 'E'; }

// Every number in an attribute value rounded; the rest as it is.
std::string RoundNumbers(std::string_view value, bool whole)
{
    std::string out;
    for (std::size_t i = 0; i < value.size();) {
        const bool sign = value[i] == '-' && i + 1 < value.size() && NumberChar(value[i + 1]);
        if (!sign && !(value[i] >= '0' && value[i] <= '9')) {
            out += value[i++];
            continue;
        }
        std::size_t end = i + (sign ? 1 : 0);
        while (end < value.size() &&
               (NumberChar(value[end]) || ((value[end] == '-' || value[end] == '+') &&
                                           (value[end - 1] == 'e' || value[end - 1] == 'E')))) {
            ++end;
        }
        out += Rounded(value.substr(i, end - i), whole);
        i = end;
    }
    return out;
}

// "12,-3" as whole numbers; false for anything else.
bool WholePoint(const std::string& point, std::pair<long, long>& xy)
{
    int used = 0;
    return point.find('.') == std::string::npos &&
           std::sscanf(point.c_str(), "%ld,%ld%n", &xy.first, &xy.second, &used) == 2 &&
           used == static_cast<int>(point.size());
}

// A path of straight lines only ("M x,y L x,y ..."), less repeated points and the points in
// the middle of a horizontal or vertical run, its line-tos implicit after the first, and
// relative when every point is a whole pixel; any other path as it is.
std::string StraightRuns(const std::string& d)
{
    if (d.empty() || d[0] != 'M' || d.find_first_not_of("ML0123456789.,- ") != std::string::npos) {
        return d;
    }
    std::vector<std::string> points;
    std::size_t i = 1;
    while (i < d.size()) {
        const std::size_t end = d.find_first_of("L", i);
        std::string point = d.substr(i, end == std::string::npos ? std::string::npos : end - i);
        while (!point.empty() && point.back() == ' ') {
            point.pop_back();
        }
        points.push_back(point);
        i = end == std::string::npos ? d.size() : end + 1;
    }
    const auto coordinate = [&](std::size_t k, bool y) {
        const std::size_t comma = points[k].find(',');
        return y ? points[k].substr(comma + 1) : points[k].substr(0, comma);
    };
    std::vector<std::string> unique;
    for (std::string& point : points) {
        if (unique.empty() || unique.back() != point) {
            unique.push_back(std::move(point));
        }
    }
    points = std::move(unique);
    std::vector<std::string> kept;
    for (std::size_t k = 1; k < points.size(); ++k) {
        const bool middle = k + 1 < points.size() && points[k].find(',') != std::string::npos &&
                            points[k - 1].find(',') != std::string::npos &&
                            points[k + 1].find(',') != std::string::npos &&
                            ((coordinate(k - 1, true) == coordinate(k, true) &&
                              coordinate(k, true) == coordinate(k + 1, true)) ||
                             (coordinate(k - 1, false) == coordinate(k, false) &&
                              coordinate(k, false) == coordinate(k + 1, false)));
        if (!middle) {
            kept.push_back(points[k]);
        }
    }
    // Whole pixels: each point as its step from the last, a few characters each.
    std::vector<std::pair<long, long>> whole(kept.size() + 1);
    bool relative = WholePoint(points[0], whole[0]);
    for (std::size_t k = 0; k < kept.size() && relative; ++k) {
        relative = WholePoint(kept[k], whole[k + 1]);
    }
    std::string out = "M" + points[0];
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (relative) {
            out += (k == 0 ? " l" : " ") + std::to_string(whole[k + 1].first - whole[k].first) + "," +
                   std::to_string(whole[k + 1].second - whole[k].second);
        } else {
            out += (k == 0 ? " L" : " ") + kept[k];
        }
    }
    return out;
}

bool Geometry(std::string_view name)
{
    for (const char* g :
         {"points", "d", "cx", "cy", "r", "x", "y", "width", "height", "x1", "y1", "x2", "y2"}) {
        if (name == g) {
            return true;
        }
    }
    return false;
}

// The markup with the geometry attributes' numbers rounded and straight runs thinned.
std::string CompactAttributes(std::string_view markup)
{
    std::string out;
    std::size_t i = 0;
    bool inTag = false;
    while (i < markup.size()) {
        const char c = markup[i];
        if (c == '<') {
            inTag = true;
        } else if (c == '>') {
            inTag = false;
        }
        if (inTag && c == '=' && i + 1 < markup.size() && markup[i + 1] == '"') {
            std::size_t nameStart = i;
            while (nameStart > 0 && markup[nameStart - 1] != ' ' && markup[nameStart - 1] != '\n') {
                --nameStart;
            }
            const std::string_view name = markup.substr(nameStart, i - nameStart);
            const std::size_t close = markup.find('"', i + 2);
            if (close == std::string_view::npos) {
                break;
            }
            std::string value(markup.substr(i + 2, close - i - 2));
            if (Geometry(name)) {
                // Straight lines to whole pixels: a curve thinned to one column per pixel
                // loses nothing a reader sees, and its points take half the room. Arcs (the
                // plot's rounded corners) keep their tenths.
                const bool straight = name == "points" ||
                                      (name == "d" &&
                                       value.find_first_not_of("ML0123456789.,-+eE ") == std::string::npos);
                value = RoundNumbers(value, straight);
                if (name == "d") {
                    value = StraightRuns(value);
                }
            }
            out += "=\"" + value + "\"";
            i = close + 1;
            continue;
        }
        out += c;
        ++i;
    }
    out.append(markup.substr(i));
    return out;
}

// One attribute's value in a tag's text; empty when absent.
std::string Attribute(const std::string& tag, const std::string& name)
{
    const std::size_t at = tag.find(" " + name + "=\"");
    if (at == std::string::npos) {
        return {};
    }
    const std::size_t start = at + name.size() + 3;
    return tag.substr(start, tag.find('"', start) - start);
}

std::string WithoutAttribute(std::string tag, const std::string& name)
{
    const std::size_t at = tag.find(" " + name + "=\"");
    if (at != std::string::npos) {
        tag.erase(at, tag.find('"', at + name.size() + 3) + 1 - at);
    }
    return tag;
}

// Where the first text element without its own font-family starts in content, or npos.
std::size_t UnfontedText(const std::string& content)
{
    for (std::size_t at = content.find("<text"); at != std::string::npos;
         at = content.find("<text", at + 5)) {
        const std::size_t end = content.find('>', at);
        if (content.substr(at, end - at).find(" font-family=") == std::string::npos) {
            return at;
        }
    }
    return std::string::npos;
}

// Markers drawn as a translated group holding circles at its origin: the offset moved into
// each circle. False (nothing changed) for anything else.
bool FoldTranslation(std::string& attributes, std::string& content)
{
    const std::string transform = Attribute(attributes, "transform");
    double dx = 0.0;
    double dy = 0.0;
    char tail = 0;
    if (std::sscanf(transform.c_str(), "matrix(1,0,0,1,%lf,%lf%c", &dx, &dy, &tail) != 3 || tail != ')') {
        return false;
    }
    std::string folded;
    std::size_t i = content.find_first_not_of(" \n");
    while (i != std::string::npos) {
        const std::size_t end = content.find("/>", i);
        if (content.compare(i, 8, "<circle ") != 0 || end == std::string::npos) {
            return false;
        }
        const std::string circle = content.substr(i, end - i);
        const double cx = std::strtod(Attribute(circle, "cx").c_str(), nullptr) + dx;
        const double cy = std::strtod(Attribute(circle, "cy").c_str(), nullptr) + dy;
        char text[96];
        std::snprintf(text, sizeof text, "<circle cx=\"%.3f\" cy=\"%.3f\" r=\"%s\"/>\n", cx, cy,
                      Attribute(circle, "r").c_str());
        folded += text;
        i = content.find_first_not_of(" \n", end + 2);
    }
    if (dx != 0.0 || dy != 0.0) {
        attributes = WithoutAttribute(attributes, "transform");
    }
    content = folded;
    return true;
}

}  // namespace

std::string CompactSvg(std::string_view svg)
{
    std::string out;
    std::string lastAttributes;  // of the last leaf group written, while it may still grow
    std::size_t i = 0;
    for (;;) {
        const std::size_t open = svg.find("<g ", i);
        if (open == std::string_view::npos) {
            break;
        }
        const std::size_t tagEnd = svg.find('>', open);
        const std::size_t close = svg.find("</g>", tagEnd);
        const std::size_t nextOpen = svg.find("<g ", tagEnd);
        if (tagEnd == std::string_view::npos || close == std::string_view::npos) {
            break;
        }
        const std::string between(svg.substr(i, open - i));
        if (nextOpen < close) {
            // A group of groups: kept as it is, its children handled one by one.
            out += CompactAttributes(between) + std::string(svg.substr(open, tagEnd + 1 - open));
            lastAttributes.clear();
            i = tagEnd + 1;
            continue;
        }
        std::string attributes(svg.substr(open + 2, tagEnd - open - 2));
        for (char& c : attributes) {
            c = c == '\n' ? ' ' : c;
        }
        std::string content(svg.substr(tagEnd + 1, close - tagEnd - 1));
        i = close + 4;
        const bool separated = between.find_first_not_of(" \n") != std::string::npos;
        if (separated) {
            out += CompactAttributes(between);
            lastAttributes.clear();
        }
        if (content.find_first_not_of(" \n") == std::string::npos) {
            continue;  // drew nothing
        }
        if (Attribute(attributes, "transform") == "matrix(1,0,0,1,0,0)") {
            attributes = WithoutAttribute(attributes, "transform");
        }
        // Font attributes serve only texts, and a text that names its own font never uses the
        // group's.
        if (UnfontedText(content) == std::string::npos) {
            for (const char* font : {"font-family", "font-size", "font-weight", "font-style"}) {
                attributes = WithoutAttribute(attributes, font);
            }
        }
        FoldTranslation(attributes, content);
        while (!attributes.empty() && attributes.back() == ' ') {
            attributes.pop_back();
        }
        content = CompactAttributes(content);
        if (!lastAttributes.empty() && attributes == lastAttributes) {
            out.insert(out.size() - 5, content);  // into the last group, before its "</g>\n"
            continue;
        }
        out += "<g" + attributes + ">" + content + "</g>\n";
        lastAttributes = attributes;
    }
    out += CompactAttributes(svg.substr(i));
    // Attributes that say what SVG assumes anyway, and blank lines.
    std::string result;
    result.reserve(out.size());
    for (std::size_t k = 0; k < out.size();) {
        bool skipped = false;
        for (std::string_view idle : {" vector-effect=\"none\"", " stroke-width=\"1\"",
                                      " stroke-opacity=\"1\"", " fill-opacity=\"1\"", "\n\n"}) {
            if (std::string_view(out).substr(k, idle.size()) == idle) {
                k += idle.size() - (idle == "\n\n" ? 1 : 0);
                skipped = true;
                break;
            }
        }
        if (!skipped) {
            result += out[k++];
        }
    }
    return result;
}

}  // namespace tarnwell
