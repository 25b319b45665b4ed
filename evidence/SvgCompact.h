// SvgCompact: makes the SVG that the chart code writes small enough to inline many views in
// one page, drawing the same picture. The SVG painter writes one group per paint call, each
// repeating every style attribute, and coordinates to six digits; a levels view of a long
// capture comes out at half a megabyte. Here: groups left empty go, font attributes go where
// no text is drawn, a marker's offset moves into its circle so that the markers share one
// group, neighbouring groups of one style merge, coordinates keep a tenth of a pixel (lines a
// whole one), a line's repeated points and those in the middle of a straight horizontal or
// vertical run go, and so do attributes that only repeat SVG's defaults.
#pragma once

#include <string>
#include <string_view>

namespace tarnwell {

std::string CompactSvg(std::string_view svg);

}  // namespace tarnwell
