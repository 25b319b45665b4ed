#include "cli/JsonReport.h"

#include <cmath>

namespace tarnwell {

using json = nlohmann::ordered_json;

json JsonDouble(double value)
{
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0.0 ? "Infinity" : "-Infinity";
    }
    // nlohmann writes finite doubles in their shortest form that reads back exactly.
    return value;
}

json JsonReport(const CliOptions& options, const CliRun& run, const std::string& status,
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
    object["settings"] = settings;
    object["results"] = results;
    object["report"] = report;
    return object;
}

std::string DumpJson(const json& object)
{
    return object.dump(2, ' ', false, json::error_handler_t::replace);
}

}  // namespace tarnwell
