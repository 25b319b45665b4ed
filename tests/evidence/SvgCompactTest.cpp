// The compacted SVG: each kind of saving, and what must survive it (texts and their fonts,
// curves' shapes, a marker's place).
#include <gtest/gtest.h>

#include <string>

#include "evidence/SvgCompact.h"

using tarnwell::CompactSvg;

namespace {

struct Case {
    const char* what;
    const char* in;
    const char* out;
};

const Case kCases[] = {
    {"font attributes stay where a text has none of its own, its words untouched",
     "<g font-size=\"9\">\n<text x=\"1.25\">0.123456</text>\n</g>\n",
     "<g font-size=\"9\">\n<text x=\"1.3\">0.123456</text>\n</g>\n"},
    {"but go where it names its own, and so do an identity transform and a unit stroke",
     "<g transform=\"matrix(1,0,0,1,0,0)\" stroke-width=\"1\" font-size=\"9\">\n<text "
     "font-family=\"A\">a</text>\n</g>\n",
     "<g>\n<text font-family=\"A\">a</text>\n</g>\n"},
    {"a marker's offset moves into its circle, and markers of one style share a group",
     "<g fill=\"#f00\" transform=\"matrix(1,0,0,1,96.2,117.9)\">\n<circle cx=\"2\" cy=\"2\" r=\"2\"/>\n</g>\n"
     "<g fill=\"#f00\" transform=\"matrix(1,0,0,1,10,20)\">\n<circle cx=\"2\" cy=\"2\" r=\"2\"/>\n</g>\n",
     "<g fill=\"#f00\"><circle cx=\"98.2\" cy=\"119.9\" r=\"2\"/>\n<circle cx=\"12\" cy=\"22\" "
     "r=\"2\"/>\n</g>\n"},
    {"a rotation is no offset: kept",
     "<g transform=\"matrix(0,-1,1,0,31,220)\">\n<circle cx=\"2\" cy=\"2\" r=\"2\"/>\n</g>\n",
     "<g transform=\"matrix(0,-1,1,0,31,220)\">\n<circle cx=\"2\" cy=\"2\" r=\"2\"/>\n</g>\n"},
    {"groups of different styles stay apart", "<g a=\"1\">\n<rect/>\n</g>\n<g a=\"2\">\n<rect/>\n</g>\n",
     "<g a=\"1\">\n<rect/>\n</g>\n<g a=\"2\">\n<rect/>\n</g>\n"},
    {"lines to whole pixels, repeats and the middle of straight runs gone, line-tos implicit",
     "<g a=\"1\">\n<path d=\"M0,2.84217e-14 L1.4,0 L2.2,0 L3,0 L3,2 L3,5 L3.2,5.1 L4,7.6\"/>\n</g>\n",
     "<g a=\"1\">\n<path d=\"M0,0 l3,0 0,5 1,3\"/>\n</g>\n"},
    {"a start off the pixel grid moves onto it and a repeated last point goes",
     "<path d=\"M0,1e-3 L1,2 L1,2\"/>", "<path d=\"M0,0 l1,2\"/>"},
    {"a curved path keeps its points, to a tenth", "<path d=\"M9,14 C9,11.2386 11.2386,9 14,9 L706,9\"/>",
     "<path d=\"M9,14 C9,11.2 11.2,9 14,9 L706,9\"/>"},
    {"negative coordinates keep their sign and -0 reads 0", "<polyline points=\"-3.46,-0.04 -1e-3,7\"/>",
     "<polyline points=\"-3,0 0,7\"/>"},
};

TEST(SvgCompact, GivesTheSmallerEquivalent)
{
    for (const Case& c : kCases)
        EXPECT_EQ(CompactSvg(c.in), c.out) << c.what;
}

}  // namespace
