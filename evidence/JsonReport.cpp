#include "evidence/JsonReport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/TextFormat.h"

namespace tarnwell {

using json = nlohmann::ordered_json;

json JsonDouble(double value)
{
    if (const char* name = text::NonFiniteName(value)) {
        return name;
    }
    // nlohmann writes finite doubles in their shortest form that reads back exactly.
    return value;
}

namespace {

template <typename T, typename Field>
json Column(const std::vector<T>& items, Field field)
{
    json array = json::array();
    for (const T& item : items) {
        array.push_back(field(item));
    }
    return array;
}

// Frame levels are kept as floats: print the float's own shortest decimal, not the double's.
json JsonFloat(float value)
{
    if (!std::isfinite(value)) {
        return JsonDouble(value);
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.9g", static_cast<double>(value));
    return std::strtod(text, nullptr);
}

}  // namespace

json JsonAnalysis(const AnalysisRecord& a, const std::vector<Finding>& findings)
{
    json captures = json::object();
    captures["measured"] = a.captures.measured;
    captures["txClipShare"] = JsonDouble(a.captures.txClipShare);
    captures["rxClipShare"] = JsonDouble(a.captures.rxClipShare);
    captures["txMean"] = JsonDouble(a.captures.txMean);
    captures["rxMean"] = JsonDouble(a.captures.rxMean);

    const DelaySearchRecord& d = a.delaySearch;
    json delay = json::object();
    delay["measured"] = d.measured;
    delay["windowStart"] = d.windowStart;
    delay["peakLag"] = d.peakLag;
    delay["peak"] = JsonDouble(d.peak);
    delay["secondLag"] = d.secondLag;
    delay["second"] = JsonDouble(d.second);
    delay["confidence"] = JsonDouble(d.confidence);
    delay["bestNegativeLag"] = d.bestNegativeLag;
    delay["bestNegative"] = JsonDouble(d.bestNegative);
    delay["correlation"] = Column(d.correlation, [](double c) { return JsonDouble(c); });

    json erl = json::object();
    erl["measured"] = a.erl.measured;
    erl["blocks"] = a.erl.blocks;
    erl["qualifyingBlocks"] = a.erl.qualifyingBlocks;
    erl["loudestTxBlock"] = JsonDouble(a.erl.loudestTxBlock);

    const EchoPathRecord& p = a.echoPath;
    json path = json::object();
    path["measured"] = p.measured;
    path["bulkDelay"] = p.bulkDelay;
    path["peakTap"] = p.peakTap;
    path["spanFirst"] = p.spanFirst;
    path["spanLast"] = p.spanLast;
    path["weights"] = p.weights;

    const std::vector<FrameRecord>& f = a.frames;
    json frames = json::object();
    frames["txLevel"] = Column(f, [](const FrameRecord& r) { return JsonFloat(r.txLevel); });
    frames["rxLevel"] = Column(f, [](const FrameRecord& r) { return JsonFloat(r.rxLevel); });
    frames["outputLevel"] = Column(f, [](const FrameRecord& r) { return JsonFloat(r.outputLevel); });
    frames["cancellation"] = Column(f, [](const FrameRecord& r) { return JsonFloat(r.cancellation); });
    frames["mode"] = Column(f, [](const FrameRecord& r) { return int{r.mode}; });
    frames["adaptState"] = Column(f, [](const FrameRecord& r) { return int{r.adaptState}; });
    frames["nlpActed"] = Column(f, [](const FrameRecord& r) { return r.nlpActed; });
    frames["counted"] = Column(f, [](const FrameRecord& r) { return r.counted; });
    frames["levelFrame"] = Column(f, [](const FrameRecord& r) { return r.levelFrame; });
    frames["rxLevelFrame"] = Column(f, [](const FrameRecord& r) { return r.rxLevelFrame; });
    frames["nearEndAlone"] = Column(f, [](const FrameRecord& r) { return r.nearEndAlone; });

    // Outside the bit-exact contract: these rest on FFTs whose last bits vary by CPU.
    const WhitenedDelayRecord& w = a.whitenedDelay;
    json whitened = json::object();
    whitened["measured"] = w.measured;
    whitened["segments"] = w.segments;
    whitened["firstLag"] = w.firstLag;
    whitened["lastLag"] = w.lastLag;
    whitened["peakLag"] = w.peakLag;
    whitened["peak"] = JsonDouble(w.peak);
    whitened["nextLag"] = w.nextLag;
    whitened["next"] = JsonDouble(w.next);
    whitened["median"] = JsonDouble(w.median);
    whitened["farLag"] = w.farLag;
    whitened["far"] = JsonDouble(w.far);
    whitened["third"] = JsonDouble(w.third);
    whitened["positiveLag"] = w.positiveLag;
    whitened["positive"] = JsonDouble(w.positive);

    const std::vector<DelayTrackPoint>& t = a.delayTrack;
    json track = json::object();
    track["time"] = Column(t, [](const DelayTrackPoint& p) { return JsonDouble(p.time); });
    track["lag"] = Column(t, [](const DelayTrackPoint& p) { return JsonDouble(p.lag); });
    track["peakToMedian"] = Column(t, [](const DelayTrackPoint& p) { return JsonDouble(p.peakToMedian); });

    json allBlocks = json::object();
    allBlocks["measured"] = a.allBlocksErl.measured;
    allBlocks["delay"] = a.allBlocksErl.delay;
    allBlocks["blocks"] = a.allBlocksErl.blocks;
    allBlocks["doubleTalkBlocks"] = a.allBlocksErl.doubleTalkBlocks;
    allBlocks["erl"] = JsonDouble(a.allBlocksErl.erl);
    allBlocks["txQuietBlocks"] = a.allBlocksErl.txQuietBlocks;
    allBlocks["nearEndBlocks"] = a.allBlocksErl.nearEndBlocks;

    const EchoPathSpectrumRecord& e = a.echoPathSpectrum;
    const auto number = [](double v) { return JsonDouble(v); };
    json spectrum = json::object();
    spectrum["measured"] = e.measured;
    spectrum["segments"] = e.segments;
    spectrum["frequency"] = Column(e.frequency, number);
    spectrum["gain"] = Column(e.gain, number);
    spectrum["coherence"] = Column(e.coherence, number);
    spectrum["bandCentres"] = Column(e.bandCentres, number);
    spectrum["bandErl"] = Column(e.bandErl, number);
    spectrum["bandCoherence"] = Column(e.bandCoherence, number);
    spectrum["erl"] = JsonDouble(e.erl);
    spectrum["coherentCancellation"] = JsonDouble(e.coherentCancellation);

    json hum = json::object();
    hum["measured"] = a.hum.measured;
    hum["txMains"] = a.hum.txMains;
    hum["txRise"] = JsonDouble(a.hum.txRise);
    hum["txFundamental"] = JsonDouble(a.hum.txFundamental);
    hum["rxMains"] = a.hum.rxMains;
    hum["rxRise"] = JsonDouble(a.hum.rxRise);
    hum["rxFundamental"] = JsonDouble(a.hum.rxFundamental);

    const NonlinearEchoRecord& ne = a.nonlinearEcho;
    json nonlinear = json::object();
    nonlinear["measured"] = ne.measured;
    nonlinear["samples"] = ne.samples;
    nonlinear["compression"] = JsonDouble(ne.compression);
    nonlinear["standardError"] = JsonDouble(ne.standardError);
    nonlinear["linearShare"] = JsonDouble(ne.linearShare);

    json list = json::array();
    for (const Finding& finding : findings) {
        json item = json::object();
        item["code"] = finding.code;
        item["severity"] = SeverityName(finding.severity);
        item["text"] = finding.text;
        list.push_back(item);
    }

    json object = json::object();
    object["sampleCount"] = a.sampleCount;
    object["captures"] = captures;
    object["delaySearch"] = delay;
    object["erl"] = erl;
    object["echoPath"] = path;
    object["frames"] = frames;
    object["whitenedDelay"] = whitened;
    object["delayTrack"] = track;
    object["allBlocksErl"] = allBlocks;
    object["echoPathSpectrum"] = spectrum;
    object["hum"] = hum;
    object["nonlinearEcho"] = nonlinear;
    object["findings"] = list;
    return object;
}

json JsonReport(const RunRequest& options, const RunRecord& run, const std::string& status,
                const std::vector<std::string>& messages)
{
    const TestSettings& s = options.settings;
    const TestResults& r = run.results;

    json settings = json::object();
    settings["txPath"] = s.txPath;
    settings["rxPath"] = s.rxPath;
    settings["outPath"] = s.outPath;
    settings["delay"] = s.delay;
    settings["tail"] = s.tail;
    settings["nlpEnable"] = s.nlpEnable;
    settings["nlpDiff"] = s.nlpDiff;
    settings["nlpShift"] = s.nlpShift;
    settings["highPass"] = s.highPass;
    settings["deviceType"] = options.deviceType;
    // The channel a stereo file's Tx was read from, found when --tx-channel was not given.
    settings["txChannelUsed"] = run.analysis.txChannel >= 0 ? json(run.analysis.txChannel) : json(nullptr);
    if (options.networkDelayMs) {
        settings["networkDelay"] = *options.networkDelayMs;
    }

    json results = json::object();
    results["delay"] = r.delay;
    results["cancellation"] = JsonDouble(r.cancellation);
    results["erl"] = JsonDouble(r.erl);
    results["txLevel"] = JsonDouble(r.txLevel);
    results["rxLevel"] = JsonDouble(r.rxLevel);
    results["residualLevel"] = JsonDouble(r.residualLevel);
    results["delayOk"] = r.delayOk;
    results["erlOk"] = r.erlOk;
    results["levelsOk"] = r.levelsOk;
    results["residualOk"] = r.residualOk;

    json report = nullptr;
    if (run.ok && run.report) {
        const Report& rep = *run.report;
        report = json::object();
        report["realDelay"] = rep.realDelay;
        report["erl"] = rep.erl;
        report["residual"] = rep.residual;
        report["levels"] = rep.levels;
        report["minimalTail"] = rep.minimalTail;
        report["txGainDecrease"] = rep.txGainDecrease;
    }

    json object = json::object();
    object["ok"] = run.ok;
    object["status"] = status;
    object["messages"] = messages;
    object["detail"] = run.details;
    object["settings"] = settings;
    object["results"] = results;
    object["report"] = report;
    object["analysis"] = JsonAnalysis(run.analysis, run.findings);
    AddVerdicts(run.verdicts, object);
    return object;
}

void AddVerdicts(const Verdicts& v, json& object)
{
    json verdicts = json::object();
    json notMeasured = json::array();
    for (std::size_t i = 0; i < v.items.size(); ++i) {
        const char* word = ReadingWord(v.items[i].reading);
        verdicts[kVerdictKeys[i]] = word != nullptr ? json(word) : json(nullptr);
        if (word == nullptr) {
            notMeasured.push_back(json{{"verdict", kVerdictKeys[i]}, {"reason", v.items[i].reason}});
        }
    }
    object["verdicts"] = std::move(verdicts);
    object["notMeasured"] = std::move(notMeasured);
}

std::string DumpJson(const json& object)
{
    return object.dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace tarnwell
