#include "evidence/EchoAudibility.h"

#include <algorithm>
#include <cmath>

#include "engine/TextFormat.h"

namespace tarnwell {

namespace emodel {

namespace {

// The rest of G.107's default values (clause 3.7) that the echo term reads: loudness of the
// room noise at send (Ps) and receive (Pr) side, dBA; circuit noise Nc and noise floor Nfor,
// dBm0p; the D-factors of the handset; the listener sidetone rating LSTR = STMR 15 + Dr 3.
constexpr double kPs = 35.0;
constexpr double kPr = 35.0;
constexpr double kNc = -70.0;
constexpr double kNfor = -64.0;
constexpr double kDs = 3.0;
constexpr double kLstr = 18.0;
// A TELR beyond any the search needs: acceptable at every delay.
constexpr double kMostTelr = 200.0;

// G.107 clause 3.2: the total noise No (dBm0p) of the four sources, power-summed.
double TotalNoise()
{
    const double olr = kSlr + kRlr;
    const double nos = kPs - kSlr - kDs - 100.0 + 0.004 * (kPs - olr - kDs - 14.0) * (kPs - olr - kDs - 14.0);
    const double pre = kPr + 10.0 * std::log10(1.0 + std::pow(10.0, (10.0 - kLstr) / 10.0));
    const double nor = kRlr - 121.0 + pre + 0.008 * (pre - 35.0) * (pre - 35.0);
    const double nfo = kNfor + kRlr;
    return 10.0 * std::log10(std::pow(10.0, kNc / 10.0) + std::pow(10.0, nos / 10.0) +
                             std::pow(10.0, nor / 10.0) + std::pow(10.0, nfo / 10.0));
}

// Bisection: acceptable(good) holds and acceptable(bad) does not; the boundary between them.
template <typename Acceptable>
double Boundary(Acceptable acceptable, double good, double bad)
{
    for (int i = 0; i < 100; ++i) {
        const double middle = good + (bad - good) / 2.0;
        (acceptable(middle) ? good : bad) = middle;
    }
    return good;
}

}  // namespace

double TalkerEchoImpairment(double telr, double t)
{
    // The echo's weighted loudness falls with the delay, and the impairment rises once the
    // echo's rating Re falls below Roe, the rating that the noise alone leaves.
    const double roe = -1.5 * (TotalNoise() - kRlr);
    const double terv = telr - 40.0 * std::log10((1.0 + t / 10.0) / (1.0 + t / 150.0)) +
                        6.0 * std::exp(-0.3 * t * t);
    const double re = 80.0 + 2.5 * (terv - 14.0);
    const double d = roe - re;
    return (d / 2.0 + std::sqrt(d * d / 4.0 + 100.0) - 1.0) * (1.0 - std::exp(-t));
}

std::optional<double> DelayLimitMs(double telr)
{
    const auto acceptable = [telr](double t) { return TalkerEchoImpairment(telr, t) <= kIdteAcceptable; };
    if (acceptable(kLongestDelayMs)) {
        return std::nullopt;
    }
    return Boundary(acceptable, 0.0, kLongestDelayMs);
}

double TelrNeeded(double oneWayMs)
{
    const auto acceptable = [oneWayMs](double telr) {
        return TalkerEchoImpairment(telr, oneWayMs) <= kIdteAcceptable;
    };
    return Boundary(acceptable, kMostTelr, 0.0);
}

}  // namespace emodel

namespace {

using text::Format;

// The delays named when a longer one would need more echo loss: G.114's planning limits.
constexpr int kLongerDelaysMs[] = {150, 400};

}  // namespace

std::optional<Finding> EchoAudibilityFinding(const TestResults& r, const AnalysisRecord& a,
                                             std::optional<int> networkDelayMs)
{
    // The echo loss over all blocks where it was measured, else the ERL line's one block.
    const AllBlocksErlRecord& all = a.allBlocksErl;
    double erl = 0.0;
    int echoDelay = 0;
    if (all.measured) {
        erl = all.erl;
        echoDelay = all.delay;
    } else if (a.erl.measured && a.erl.qualifyingBlocks > 0) {
        erl = r.erl;
        echoDelay = r.delay;
    } else {
        return std::nullopt;
    }
    if (!std::isfinite(erl)) {
        return std::nullopt;
    }
    const double cancellation = std::isfinite(r.cancellation) && r.cancellation > 0.0 ? r.cancellation : 0.0;
    const double telr = emodel::kSlr + emodel::kRlr + erl + cancellation;
    // The echo path's own round trip adds half of itself to the mean one-way delay.
    const double pathMs = echoDelay / 16.0;
    const std::optional<double> limit = emodel::DelayLimitMs(telr);
    const double networkLimit = limit ? *limit - pathMs : 0.0;
    const std::string telrText = Format("TELR %.1f dB (SLR %g + RLR %g + ERL %.1f + cancellation %.1f dB)",
                                        telr, emodel::kSlr, emodel::kRlr, erl, cancellation);
    const char* const estimate = "an estimate: levels in dBm0, not loudness-weighted";
    const auto moreLoss = [&](int delayMs) { return emodel::TelrNeeded(delayMs + pathMs) - telr; };

    if (networkDelayMs) {
        const int given = *networkDelayMs;
        if (!limit || given <= networkLimit) {
            return Finding{"echo-audibility", Severity::Info,
                           Format("The echo is acceptable at a one-way network delay of %d ms (%s; G.131 "
                                  "through the G.107 E-model): %s holds ",
                                  given, estimate, telrText.c_str()) +
                               (limit ? Format("up to %.0f ms", networkLimit) : std::string("at any delay"))};
        }
        return Finding{"audible-echo", Severity::Warning,
                       Format("The far talker will likely hear the echo at a one-way network delay of %d ms "
                              "(%s; G.131 through the G.107 E-model): %s is acceptable only up to %.0f ms, "
                              "and %d ms needs %.1f dB more echo loss",
                              given, estimate, telrText.c_str(), std::max(networkLimit, 0.0), given,
                              moreLoss(given))};
    }
    std::string text = Format("Talker echo (%s; G.131 through the G.107 E-model): %s ", estimate,
                              telrText.c_str());
    if (!limit) {
        text += "stays acceptable at any one-way network delay";
    } else if (networkLimit <= 0.0) {
        text += "is not acceptable even without network delay";
    } else {
        text += Format("stays acceptable up to a one-way network delay of %.0f ms", networkLimit);
    }
    for (const int longer : kLongerDelaysMs) {
        if (limit && longer > networkLimit) {
            text += Format("; %d ms would need %.1f dB more echo loss", longer, moreLoss(longer));
            break;
        }
    }
    return Finding{"echo-audibility", Severity::Info, text};
}

}  // namespace tarnwell
