// The picture module's entry point: the chart code behind one C name, for the command line
// to load with dlopen.
#include "charts/ChartRenderer.h"
#include "evidence/PictureModule.h"

extern "C" __attribute__((visibility("default"))) bool tarnwell_draw_pictures_v1(
    const std::vector<tarnwell::ChartView>& views, const std::string& dir, std::string& error,
    bool (*keepGoing)())
{
    try {
        return tarnwell::RenderPictures(views, dir, error, keepGoing);
    } catch (const std::exception& e) {
        error = e.what();  // nothing may unwind across the C boundary
        return false;
    }
}

extern "C" __attribute__((visibility("default"))) bool tarnwell_draw_svg_v1(
    const std::vector<tarnwell::ChartView>& views, int width, const std::string& prefix,
    std::vector<std::string>& svgs, std::string& error)
{
    try {
        // The pictures' proportions at the page's width.
        const QSize size(width, width * tarnwell::kPictureSize.height() / tarnwell::kPictureSize.width());
        return tarnwell::RenderSvgTexts(views, size, prefix, svgs, error);
    } catch (const std::exception& e) {
        error = e.what();
        return false;
    }
}

// The loader checks the entries' types through these.
[[maybe_unused]] static constexpr tarnwell::DrawPicturesEntry kEntryType = tarnwell_draw_pictures_v1;
[[maybe_unused]] static constexpr tarnwell::DrawSvgEntry kSvgEntryType = tarnwell_draw_svg_v1;
