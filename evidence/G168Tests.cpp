#include "evidence/G168Tests.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>

#include "canceller/EchoCanceller.h"
#include "evidence/G168Models.h"
#include "engine/TextFormat.h"
#include "evidence/G168Signals.h"

namespace tarnwell::g168 {

namespace {

constexpr double kNoGrowthFloorDbm0 = -65.0;  // growth below this level is not counted
constexpr double kHothDbm0 = -30.0;
constexpr std::uint32_t kFarSeed = 1;
constexpr std::uint32_t kNearSeed = 7;
constexpr std::uint32_t kNoiseSeed = 13;
constexpr double kScalingSeconds = 4.0;  // of far-end CSS, to measure a model's loss on

Signal Css(double belowRinDb = 0.0) { return {Source::kCss, kRinDbm0 - belowRinDb}; }
Signal NearCss(double belowRinDb) { return {Source::kNearCss, kRinDbm0 - belowRinDb}; }
Signal Tone(std::vector<double> hertz) { return {Source::kTones, kRinDbm0, std::move(hertz)}; }
const Signal kSilent{};

Phase Start() { return {0.2, kSilent, kSilent}; }
Phase Converge(double seconds, Signal sgen = kSilent) { return {seconds, Css(), std::move(sgen)}; }
Phase Judge(double seconds, Signal rin, Signal sgen, bool frozen, Rule rule, double limit,
            double settle = 0.0, Path path = Path::kModel)
{
    return {seconds, std::move(rin), std::move(sgen), path, frozen, rule, limit, settle};
}

std::vector<TestCase> MakeTests()
{
    std::vector<TestCase> tests;
    tests.push_back(
        {"2A",
         "converge on CSS with the NLP on, then an echo path change: peak Sout <= -65 dBm0 after 1 s",
         true,
         {Start(), Judge(5.0, Css(), kSilent, false, Rule::kAbsolute, -65.0, 1.0),
          Judge(5.0, Css(), kSilent, false, Rule::kAbsolute, -65.0, 1.0, Path::kNextModel)}});
    tests.push_back({"2B",
                     "the same with the NLP off, 10 s per path: peak Sout <= -65 dBm0 after 1 s",
                     false,
                     {Start(), Judge(10.0, Css(), kSilent, false, Rule::kAbsolute, -65.0, 1.0),
                      Judge(10.0, Css(), kSilent, false, Rule::kAbsolute, -65.0, 1.0, Path::kNextModel)}});
    tests.push_back({"2C(a)",
                     "converge with Hoth noise at Sgen (-30 dBm0), freeze: Sout <= the noise's peak",
                     false,
                     {Start(), Converge(10.0, {Source::kHoth, kHothDbm0}),
                      Judge(5.0, Css(), kSilent, true, Rule::kSgenPeak, 0.0)}});
    tests.push_back(
        {"3A",
         "near-end CSS 15 dB below Rin from the start for 5 s, freeze: Sout <= Sgen's peak",
         false,
         {Start(), Converge(5.0, NearCss(15.0)), Judge(5.0, Css(), kSilent, true, Rule::kSgenPeak, 0.0)}});
    tests.push_back({"3B(a)",
                     "converge 5 s, double talk at Rin's level 5 s, freeze: Sout <= residual limit + 10 dB",
                     false,
                     {Start(), Converge(5.0), Converge(5.0, NearCss(0.0)),
                      Judge(5.0, Css(), kSilent, true, Rule::kResidual, 10.0)}});
    tests.push_back({"3B(b)",
                     "converge 5 s, double talk 6 dB below Rin 5 s, freeze: Sout <= residual limit + 3 dB",
                     false,
                     {Start(), Converge(5.0), Converge(5.0, NearCss(6.0)),
                      Judge(5.0, Css(), kSilent, true, Rule::kResidual, 3.0)}});
    TestCase conversation{
        "3C",
        "a conversation with the NLP on: Sout <= Sgen's peak alone, <= Sgen's peak + 6 dB in double talk",
        true,
        {Start(), Converge(5.0)}};
    for (int turn = 0; turn < 3; ++turn) {
        conversation.phases.push_back(Judge(1.0, Css(), NearCss(0.0), false, Rule::kSgenPeak, 6.0));
        conversation.phases.push_back(Judge(1.0, Css(), kSilent, false, Rule::kSgenPeak, 0.0, 0.2));
        conversation.phases.push_back(Judge(1.0, kSilent, NearCss(0.0), false, Rule::kSgenPeak, 0.0));
    }
    tests.push_back(conversation);
    tests.push_back({"4",
                     "converge, 120 s of silence with adaptation on, freeze, CSS: Sout <= residual limit",
                     false,
                     {Start(),
                      Converge(5.0),
                      {120.0, kSilent, kSilent},
                      Judge(5.0, Css(), kSilent, true, Rule::kResidual, 0.0)}});
    tests.push_back({"5",
                     "converge, then the echo path opened: Sout <= -65 dBm0, no burst",
                     false,
                     {Start(), Converge(5.0),
                      Judge(5.0, Css(), kSilent, false, Rule::kAbsolute, -65.0, 0.0, Path::kOpen)}});
    TestCase tones{"6",
                   "converge, 5 s each of 697, 941, 1336, 1633 Hz and four DTMF pairs, freeze, CSS: Sout <= "
                   "residual limit + 10 dB",
                   false,
                   {Start(), Converge(5.0)}};
    for (const std::vector<double>& hertz : std::vector<std::vector<double>>{{697.0},
                                                                             {941.0},
                                                                             {1336.0},
                                                                             {1633.0},
                                                                             {697.0, 1209.0},
                                                                             {770.0, 1336.0},
                                                                             {852.0, 1477.0},
                                                                             {941.0, 1633.0}}) {
        tones.phases.push_back({5.0, Tone(hertz), kSilent});
    }
    tones.phases.push_back(Judge(5.0, Css(), kSilent, true, Rule::kResidual, 10.0));
    tests.push_back(tones);
    tests.push_back({"7",
                     "697 Hz for 120 s from reset: Sout in the last 10 s <= its peak in 10..20 s + 3 dB",
                     false,
                     {Start(),
                      {10.0, Tone({697.0}), kSilent},
                      Judge(10.0, Tone({697.0}), kSilent, false, Rule::kGrowthReference, 0.0),
                      {90.0, Tone({697.0}), kSilent},
                      Judge(10.0, Tone({697.0}), kSilent, false, Rule::kNoGrowth, 3.0)}});
    return tests;
}

int Samples(double seconds)
{
    return static_cast<int>(std::lround(seconds * kSampleRate / kFrameLength)) * kFrameLength;
}

double Peak(const std::vector<double>& levels, std::size_t first, std::size_t end)
{
    double peak = kMeterFloorDbm0;
    for (std::size_t w = first; w < end && w < levels.size(); ++w) {
        peak = std::max(peak, levels[w]);
    }
    return peak;
}

}  // namespace

std::span<const TestCase> Tests()
{
    static const std::vector<TestCase> tests = MakeTests();
    return tests;
}

int EchoDelay(const CancellerSetup& setup, int modelLength)
{
    // At least one sample after the bulk delay; up to eight when the tail has room.
    return setup.bulkDelay + std::clamp(setup.tail - modelLength, 1, 8);
}

CellResult RunCell(const TestCase& test, int model, const CancellerSetup& setup, double erlDb)
{
    const std::span<const EchoPathModel> models = Models();
    const EchoPathModel& own = models[static_cast<std::size_t>(model)];
    const EchoPathModel& next = models[static_cast<std::size_t>(model + 1) % models.size()];
    CellResult cell;
    cell.test = test.name;
    cell.model = own.name;
    cell.erlDb = erlDb;

    std::vector<int> starts;
    int total = 0;
    for (const Phase& phase : test.phases) {
        starts.push_back(total);
        total += Samples(phase.seconds);
    }
    const auto size = static_cast<std::size_t>(total);

    // The whole test's signals; the continuous ones are made once and cut into phases.
    const std::vector<double> far = CompositeSource(total, 0.0, kFarSeed);
    const std::vector<double> nearTalk = CompositeSource(total, 0.0, kNearSeed);
    const std::vector<double> noise = HothNoise(total, 0.0, kNoiseSeed);
    std::vector<double> rin(size, 0.0);
    std::vector<double> sgen(size, 0.0);
    for (std::size_t p = 0; p < test.phases.size(); ++p) {
        const Phase& phase = test.phases[p];
        const auto first = static_cast<std::size_t>(starts[p]);
        const int length = Samples(phase.seconds);
        for (auto [signal, out] : {std::pair{&phase.rin, &rin}, std::pair{&phase.sgen, &sgen}}) {
            const double gain = std::pow(10.0, signal->levelDbm0 / 20.0);
            const std::vector<double>* source = signal->source == Source::kCss       ? &far
                                                : signal->source == Source::kNearCss ? &nearTalk
                                                : signal->source == Source::kHoth    ? &noise
                                                                                     : nullptr;
            const std::vector<double> tones = signal->source == Source::kTones
                                                  ? Tones(length, signal->levelDbm0, signal->hertz)
                                                  : std::vector<double>{};
            for (int i = 0; i < length; ++i) {
                const std::size_t n = first + static_cast<std::size_t>(i);
                if (source != nullptr) {
                    (*out)[n] = gain * (*source)[n];
                } else if (!tones.empty()) {
                    (*out)[n] = tones[static_cast<std::size_t>(i)];
                }
            }
        }
    }

    // The line: Rin through G.711, the echo path, Sgen added, Sin through G.711.
    const std::vector<double> scaling = CompositeSource(Samples(kScalingSeconds), 0.0, kFarSeed);
    const std::vector<double> ownTaps = ScaledTaps(own, scaling, erlDb);
    const std::vector<double> nextTaps = ScaledTaps(next, scaling, erlDb);
    std::vector<std::int16_t> rinLine(size);
    std::vector<std::int16_t> sinLine(size);
    std::vector<std::int16_t> sgenLine(size);
    for (std::size_t n = 0; n < size; ++n) {
        rinLine[n] = ULawRoundTrip(rin[n]);
        sgenLine[n] = ULawRoundTrip(sgen[n]);
    }
    for (std::size_t p = 0; p < test.phases.size(); ++p) {
        const Path path = test.phases[p].path;
        const std::vector<double>* taps = path == Path::kModel       ? &ownTaps
                                          : path == Path::kNextModel ? &nextTaps
                                                                     : nullptr;
        const int delay = taps == nullptr ? 0 : EchoDelay(setup, static_cast<int>(taps->size()));
        const auto end = static_cast<std::size_t>(starts[p] + Samples(test.phases[p].seconds));
        for (auto n = static_cast<std::size_t>(starts[p]); n < end; ++n) {
            double echo = 0.0;
            for (std::size_t k = 0; taps != nullptr && k < taps->size(); ++k) {
                const std::size_t back = static_cast<std::size_t>(delay) + k;
                if (back <= n) {
                    echo += (*taps)[k] * rinLine[n - back];
                }
            }
            sinLine[n] = ULawRoundTrip(echo + sgen[n]);
        }
    }

    // The canceller as the tool builds it, the phases freezing and releasing its weights.
    const EchoCanceller canceller;
    CancellerConfig config;
    config.tail = setup.tail;
    config.bulkDelay = setup.bulkDelay;
    config.nlpEnable = test.nlp ? 1 : 0;
    config.nlpDiff = setup.nlpDiff;
    config.nlpShift = setup.nlpShift;
    auto state = std::make_unique<CancellerState>();
    canceller.InitCanceller(*state, config);
    std::vector<std::int16_t> sout(size);
    for (std::size_t p = 0; p < test.phases.size(); ++p) {
        canceller.FreezeAdaptation(*state, test.phases[p].frozen);
        const int end = starts[p] + Samples(test.phases[p].seconds);
        for (int at = starts[p]; at < end; at += kFrameLength) {
            FrameReport report{};
            const auto n = static_cast<std::size_t>(at);
            canceller.ProcessFrame(*state, sinLine.data() + n, rinLine.data() + n, sout.data() + n,
                                   kFrameLength, report);
        }
    }

    // The judgement, window by window.
    cell.soutDbm0 = MeterLevels(sout);
    cell.limitDbm0.assign(cell.soutDbm0.size(), std::numeric_limits<double>::quiet_NaN());
    const double sgenPeak = Peak(MeterLevels(sgenLine), 0, cell.soutDbm0.size());
    double growthReference = kMeterFloorDbm0;
    cell.marginDb = std::numeric_limits<double>::infinity();
    for (std::size_t p = 0; p < test.phases.size(); ++p) {
        const Phase& phase = test.phases[p];
        const auto first = static_cast<std::size_t>((starts[p] + Samples(phase.settleSeconds)) /
                                                    kMeterWindow);
        const auto end = static_cast<std::size_t>((starts[p] + Samples(phase.seconds)) / kMeterWindow);
        if (phase.rule == Rule::kGrowthReference) {
            growthReference = Peak(cell.soutDbm0, first, end);
            continue;
        }
        double limit = 0.0;
        switch (phase.rule) {
        case Rule::kNone:
        case Rule::kGrowthReference:
            continue;
        case Rule::kAbsolute:
            limit = phase.limit;
            break;
        case Rule::kSgenPeak:
            limit = sgenPeak + phase.limit;
            break;
        case Rule::kResidual:
            limit = kRinDbm0 - kResidualBelowRinDb + phase.limit;
            break;
        case Rule::kNoGrowth:
            limit = std::max(growthReference + phase.limit, kNoGrowthFloorDbm0);
            break;
        }
        for (std::size_t w = first; w < end && w < cell.soutDbm0.size(); ++w) {
            cell.limitDbm0[w] = limit;
            const double margin = limit - cell.soutDbm0[w];
            if (margin < cell.marginDb) {
                cell.marginDb = margin;
                cell.worstDbm0 = cell.soutDbm0[w];
                cell.worstSeconds = static_cast<double>(w * kMeterWindow) / kSampleRate;
            }
        }
    }
    cell.passed = cell.marginDb >= 0.0;
    return cell;
}

std::vector<CellResult> RunTable(const std::vector<const TestCase*>& tests, const CancellerSetup& setup,
                                 const std::vector<double>& erls, const RunnerControl& control)
{
    const auto models = static_cast<int>(Models().size());
    const auto perTest = static_cast<int>(erls.size()) * models;
    std::vector<CellResult> cells(tests.size() * static_cast<std::size_t>(perTest));
    RunJobs(
        static_cast<int>(cells.size()),
        [&](int i) {
            const TestCase& test = *tests[static_cast<std::size_t>(i / perTest)];
            const double erl = erls[static_cast<std::size_t>((i % perTest) / models)];
            cells[static_cast<std::size_t>(i)] = RunCell(test, i % models, setup, erl);
        },
        control);
    return cells;
}

ChartView CellView(const CellResult& cell)
{
    ChartView view;
    view.stem = "g168-" + cell.test + "-" + cell.model + "-erl" + text::Number(cell.erlDb);
    view.title = "Test " + cell.test + ", model " + cell.model + ": Sout against its limit";
    view.xLabel = "time (s)";
    view.yLabel = "level (dBm0)";
    view.columns = {"time (s)", "Sout (dBm0)", "limit (dBm0)"};
    view.measured = true;
    ChartSeries sout{"Sout", {}, {}, false};
    ChartSeries limit{"limit", {}, {}, true};
    for (std::size_t w = 0; w < cell.soutDbm0.size(); ++w) {
        const double seconds = static_cast<double>(w * kMeterWindow) / kSampleRate;
        sout.x.push_back(seconds);
        sout.y.push_back(cell.soutDbm0[w]);
        if (!std::isnan(cell.limitDbm0[w])) {
            limit.x.push_back(seconds);
            limit.y.push_back(cell.limitDbm0[w]);
        }
        view.rows.push_back({seconds, cell.soutDbm0[w], cell.limitDbm0[w]});
    }
    view.series = {std::move(sout), std::move(limit)};
    view.marks.push_back({cell.worstSeconds, text::Format("smallest margin, %+.1f dB", cell.marginDb)});
    return view;
}

}  // namespace tarnwell::g168
