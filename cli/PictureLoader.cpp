#include "cli/PictureLoader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "cli/Interrupt.h"

namespace tarnwell {

namespace {

constexpr const char* kOverride = "TARNWELL_CHARTS_MODULE";
constexpr const char* kModuleFile = "tarnwell-charts.so";

bool NoSignalYet() { return CaughtSignal() == 0; }

}  // namespace

PictureLoader::~PictureLoader()
{
    if (handle_ != nullptr) {
        dlclose(handle_);
    }
}

std::vector<std::string> PictureLoader::Candidates()
{
    if (const char* path = std::getenv(kOverride); path != nullptr && *path != '\0') {
        return {path};
    }
    std::error_code code;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", code);
    const std::filesystem::path here = code ? std::filesystem::path(".") : self.parent_path();
    std::vector<std::string> paths;
    for (const char* relative : {TARNWELL_MODULE_FROM_INSTALLED, TARNWELL_MODULE_FROM_BUILD}) {
        const std::string path = (here / relative / kModuleFile).lexically_normal().string();
        if (paths.empty() || paths.back() != path) {
            paths.push_back(path);
        }
    }
    return paths;
}

bool PictureLoader::Load(std::string& error)
{
    if (entry_ != nullptr) {
        return true;
    }
    std::string tried;
    for (const std::string& path : Candidates()) {
        handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle_ == nullptr) {
            const char* reason = dlerror();
            const std::string said = reason != nullptr ? reason : "cannot be loaded";
            tried += "\n  " + (said.starts_with(path + ": ") ? said : path + ": " + said);
            continue;
        }
        entry_ = reinterpret_cast<DrawPicturesEntry>(dlsym(handle_, kPictureModuleEntry));
        if (entry_ != nullptr) {
            svgEntry_ = reinterpret_cast<DrawSvgEntry>(dlsym(handle_, kSvgModuleEntry));
            return true;
        }
        const char* reason = dlerror();
        tried += "\n  " + path + ": " + (reason != nullptr ? reason : "no entry point");
        dlclose(handle_);
        handle_ = nullptr;
    }
    error = tried;
    return false;
}

bool PictureLoader::Draw(const std::vector<ChartView>& views, const std::string& dir, std::string& error)
{
    if (!Load(error)) {
        error = "this build draws no pictures (the CSV files are written); the picture module could not be "
                "loaded:" +
                error;
        return false;
    }
    return entry_(views, dir, error, NoSignalYet);
}

bool PictureLoader::DrawSvg(const std::vector<ChartView>& views, int width, const std::string& prefix,
                            std::vector<std::string>& svgs, std::string& error)
{
    if (!Load(error)) {
        error = "the picture module could not be loaded:" + error;
        return false;
    }
    if (svgEntry_ == nullptr) {
        error = std::string("the picture module draws no views for pages (no ") + kSvgModuleEntry + ")";
        return false;
    }
    return svgEntry_(views, width, prefix, svgs, error);
}

SvgDrawer PictureLoader::SvgWriter()
{
    return [this](const std::vector<ChartView>& views, int width, const std::string& prefix,
                  std::vector<std::string>& svgs,
                  std::string& error) { return DrawSvg(views, width, prefix, svgs, error); };
}

PictureWriter PictureLoader::Writer()
{
    return [this](const std::vector<ChartView>& views, const std::string& dir, std::string& error) {
        return Draw(views, dir, error);
    };
}

}  // namespace tarnwell
