#include "ui/WindowFiles.h"

#include <QFileInfo>
#include <QSize>
#include <filesystem>

#include <fcntl.h>

#include "charts/ChartRenderer.h"
#include "engine/FileHandle.h"
#include "engine/PcapReader.h"
#include "engine/RtpStreams.h"
#include "engine/TestSignal.h"
#include "evidence/HtmlPage.h"

namespace tarnwell {

namespace {

// The program the window's pages say wrote them.
constexpr const char* kWindowProgram = "tarnwell";

bool DrawSvg(const std::vector<ChartView>& views, int width, const std::string& prefix,
             std::vector<std::string>& svgs, std::string& error)
{
    // The pictures' proportions at the page's width, as the picture module draws them.
    const QSize size(width, width * kPictureSize.height() / kPictureSize.width());
    return RenderSvgTexts(views, size, prefix, svgs, error);
}

}  // namespace

bool WriteTestSignal(const QString& path, QString& error)
{
    const std::string file = path.toStdString();
    std::string why;
    if (!testsignal::Write(file, testsignal::Make(kWindowSignalSeconds, kWindowSignalLevel),
                           testsignal::CodingFor(file, "by-name"), why)) {
        error = path + QStringLiteral(": ") + QString::fromStdString(why);
        return false;
    }
    return true;
}

bool WriteRunPage(const QString& path, const ShownRun& run, QString& error)
{
    SetSvgDrawer(DrawSvg);
    const std::string page = RunPage(run.request, run.record, run.status, run.messages,
                                     TakeEvidence(run.request, run.record, "v-"), kWindowProgram);
    std::string why;
    if (!WriteHtmlFile(path.toStdString(), page, why)) {
        error = QString::fromStdString(why);
        return false;
    }
    return true;
}

bool IsPcapPath(const QString& path)
{
    const FileHandle file = FileHandle::OpenRegular(path.toStdString(), O_RDONLY);
    std::uint8_t head[4] = {};
    return file.IsOpen() && file.ReadExactly(head, sizeof head) && IsPcapMagic(head, sizeof head);
}

PcapPick StreamsToPick(const QString& path)
{
    PcapPick pick;
    const std::string name = std::filesystem::path(path.toStdString()).filename().string();
    std::string why;
    const FileHandle file = FileHandle::OpenRegular(path.toStdString(), O_RDONLY, 0, &why);
    PcapContents contents;
    if (!file.IsOpen() || !ReadPcap(file.Descriptor(), name, contents, why)) {
        pick.refusal = QString::fromStdString(file.IsOpen() ? why : name + ": " + why);
        return pick;
    }
    const std::vector<RtpStream> streams = FindRtpStreams(contents);
    RtpCall call;
    if (ChooseCall(streams, {}, call, why)) {
        return pick;  // one call: the run finds its direction itself
    }
    for (const RtpStream& s : streams) {
        if (IsG711(s.payloadType)) {
            pick.names << QString::fromStdString(StreamName(s) + ", " + PayloadName(s.payloadType) + ", " +
                                                 std::to_string(s.packets) + " packets");
            pick.ssrcs.push_back(s.ssrc);
        }
    }
    if (pick.names.size() < 2) {
        pick.names.clear();
        pick.ssrcs.clear();
        pick.refusal = QString::fromStdString(name + ": " + why);
    }
    return pick;
}

}  // namespace tarnwell
