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
        error = e.what();   // nothing may unwind across the C boundary
        return false;
    }
}

// The loader checks the entry's type through this.
[[maybe_unused]] static constexpr tarnwell::DrawPicturesEntry kEntryType = tarnwell_draw_pictures_v1;
