// PictureLoader: opens the picture module (tarnwell-charts) on the first picture a run draws
// and closes it on the way out, so that a run without pictures loads no display library.
// Where it looks, in order: $TARNWELL_CHARTS_MODULE, then beside the installed executable,
// then beside the one in the build tree.
#pragma once

#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/HtmlReport.h"
#include "evidence/PictureModule.h"

namespace tarnwell {

class PictureLoader {
public:
    PictureLoader() = default;
    PictureLoader(const PictureLoader&) = delete;
    PictureLoader& operator=(const PictureLoader&) = delete;
    ~PictureLoader();

    // Draws through the module, loading it first if need be; false with a reason when it
    // cannot be loaded (each path tried, with the loader's own words) or the drawing fails.
    // Stops between pictures once a signal has been caught.
    bool Draw(const std::vector<ChartView>& views, const std::string& dir, std::string& error);

    // Each view as SVG text for a page, through the module's second entry point.
    bool DrawSvg(const std::vector<ChartView>& views, int width, const std::string& prefix,
                 std::vector<std::string>& svgs, std::string& error);

    // A PictureWriter that draws through this loader, which must outlive it.
    PictureWriter Writer();
    // Likewise for the page's views.
    SvgDrawer SvgWriter();

    // The places looked at, in order.
    static std::vector<std::string> Candidates();

private:
    // False with each path tried, with the loader's words, a line each.
    bool Load(std::string& tried);

    void* handle_ = nullptr;
    DrawPicturesEntry entry_ = nullptr;
    DrawSvgEntry svgEntry_ = nullptr;  // null in a module without it
};

}  // namespace tarnwell
