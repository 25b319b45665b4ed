// PictureModule: the one entry point of the picture module (tarnwell-charts), which the command
// line loads at run time only when a run draws pictures, so that it never links a display
// library. Both sides are built from this header in one build; the name carries a version so
// that a module from another build is refused at load rather than called wrongly.
#pragma once

#include <string>
#include <vector>

#include "evidence/ChartData.h"

namespace tarnwell {

inline constexpr const char* kPictureModuleEntry = "tarnwell_draw_pictures_v1";

// Writes each view into dir as stem.svg and stem.png, asking keepGoing before each picture;
// false with a reason when a file cannot be written or keepGoing said no ("interrupted").
using DrawPicturesEntry = bool (*)(const std::vector<ChartView>& views, const std::string& dir,
                                   std::string& error, bool (*keepGoing)());

// The second entry point, for pages: each view as the text of one SVG element (no XML
// prolog, ids unique to the view's stem and prefix), drawn at a width of `width` pixels and
// thinned to it; false with a reason.
inline constexpr const char* kSvgModuleEntry = "tarnwell_draw_svg_v1";
using DrawSvgEntry = bool (*)(const std::vector<ChartView>& views, int width, const std::string& prefix,
                              std::vector<std::string>& svgs, std::string& error);

}  // namespace tarnwell
