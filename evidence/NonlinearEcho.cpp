#include "evidence/NonlinearEcho.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "engine/DspToolkit.h"
#include "engine/TextFormat.h"
#include "evidence/SampleSums.h"

namespace tarnwell {

namespace {

using namespace nonlinearecho;

// The first samples of the Tx-active blocks of the second half (by their variance: a DC offset
// is no speech), at most kMaxBlocks spread evenly among them; blocks whose echo prediction would reach before
// the capture's start are left out. Spread among the active blocks, not over time: the first active block
// after each pause is mostly a quiet onset, and would leave the loudest class short of loud samples.
std::vector<std::size_t> ActiveBlocks(const std::vector<std::int16_t>& tx, std::size_t reach)
{
    const auto block = static_cast<std::size_t>(kBlock);
    const double active = std::pow(10.0, kActiveDbm0 / 10.0) / kLevelScale;
    std::vector<std::size_t> all;
    for (std::size_t t = std::max(tx.size() / 2, reach); t + block <= tx.size(); t += block) {
        if (BlockVariance(tx.data() + t, kBlock) > active) {
            all.push_back(t);
        }
    }
    if (all.size() <= static_cast<std::size_t>(kMaxBlocks)) {
        return all;
    }
    std::vector<std::size_t> picked;
    for (std::size_t k = 0; k < static_cast<std::size_t>(kMaxBlocks); ++k) {
        picked.push_back(all[k * all.size() / static_cast<std::size_t>(kMaxBlocks)]);
    }
    return picked;
}

// The echo the Q15 taps predict over one block from its first sample on. Each product of two
// 16-bit samples, scaled by 2^-15, and every partial sum are exact in double, so the order of
// the sums cannot change a bit; taps outer, samples inner lets the kernel run vectorised.
void PredictBlock(const std::vector<std::int16_t>& tx, const std::vector<std::int16_t>& weights,
                  std::size_t first, std::vector<double>& samples, double* out)
{
    // tx[first - taps + 1 .. first + kBlock), converted once for every tap.
    const std::size_t taps = weights.size();
    samples.assign(tx.begin() + static_cast<std::ptrdiff_t>(first + 1 - taps),
                   tx.begin() + static_cast<std::ptrdiff_t>(first + static_cast<std::size_t>(kBlock)));
    std::fill(out, out + kBlock, 0.0);
    for (std::size_t j = 0; j < taps; ++j) {
        AddWeightedSamples(samples.data() + (taps - 1 - j), weights[j] / 32768.0, out, kBlock);
    }
}

// The sums a least-squares scale of y on p and its standard error need, over one class of
// samples.
struct ClassSums {
    double yp = 0.0;
    double pp = 0.0;
    double yy = 0.0;
    double yypp = 0.0;  // y^2 p^2
    double yppp = 0.0;  // y p^3
    double pppp = 0.0;  // p^4
    void Add(double y, double p)
    {
        const double p2 = p * p;
        yp += y * p;
        pp += p2;
        yy += y * y;
        yypp += y * y * p2;
        yppp += y * p * p2;
        pppp += p2 * p2;
    }
    double Gain() const { return yp / pp; }
    // The gain's standard error over the gain: sqrt(sum r^2 p^2) / sum p^2 / g with r = y - g p.
    double RelativeError() const
    {
        const double g = Gain();
        const double spread = yypp - 2.0 * g * yppp + g * g * pppp;
        return std::sqrt(std::max(spread, 0.0)) / pp / g;
    }
};

// The |p| below which shares q of the samples lie, read on every 8th sample: the classes'
// edges need not be exact, and the whole set would cost more than the fits.
std::array<double, 3> Quantiles(const std::vector<double>& p, const std::array<double, 3>& q)
{
    std::vector<double> m;
    for (std::size_t i = 0; i < p.size(); i += 8) {
        m.push_back(std::fabs(p[i]));
    }
    std::array<double, 3> out{};
    auto from = m.begin();
    for (std::size_t k = 0; k < q.size(); ++k) {
        const auto at = m.begin() + static_cast<std::ptrdiff_t>(q[k] * static_cast<double>(m.size() - 1));
        std::nth_element(from, at, m.end());
        out[k] = *at;
        from = at;
    }
    return out;
}

void RemoveMean(std::vector<double>& x)
{
    double sum = 0.0;
    for (const double v : x) {
        sum += v;
    }
    const double mean = sum / static_cast<double>(x.size());
    for (double& v : x) {
        v -= mean;
    }
}

}  // namespace

NonlinearEchoRecord MeasureNonlinearEcho(const std::vector<std::int16_t>& tx,
                                         const std::vector<std::int16_t>& rx, const EchoPathRecord& echoPath)
{
    NonlinearEchoRecord out;
    if (!echoPath.measured || echoPath.peakTap < 0 || echoPath.weights.empty() || tx.size() != rx.size()) {
        return out;
    }
    // Tap j predicts from tx[n - bulkDelay - j].
    const std::size_t reach = static_cast<std::size_t>(echoPath.bulkDelay) + echoPath.weights.size() - 1;
    const std::vector<std::size_t> blocks = ActiveBlocks(tx, reach);
    if (blocks.size() < static_cast<std::size_t>(kMinBlocks)) {
        return out;
    }
    const auto block = static_cast<std::size_t>(kBlock);
    std::vector<double> y(blocks.size() * block);
    std::vector<double> p(blocks.size() * block);
    std::vector<double> samples;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        PredictBlock(tx, echoPath.weights, blocks[b] - static_cast<std::size_t>(echoPath.bulkDelay), samples,
                     &p[b * block]);
        std::copy(rx.begin() + static_cast<std::ptrdiff_t>(blocks[b]),
                  rx.begin() + static_cast<std::ptrdiff_t>(blocks[b] + block),
                  y.begin() + static_cast<std::ptrdiff_t>(b * block));
    }
    // A DC offset on either side is no part of the echo.
    RemoveMean(y);
    RemoveMean(p);
    // The middle class lies between the median and the 80th percentile of |p|, the loudest
    // above the 95th.
    const auto [median, upper, loud] = Quantiles(p, {0.5, 0.8, 0.95});
    // The samples of the middle and the loudest class, gathered without a branch taken at random.
    std::vector<std::uint32_t> middleAt(p.size());
    std::vector<std::uint32_t> topAt(p.size());
    std::size_t middleCount = 0;
    std::size_t topCount = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        const double m = std::fabs(p[i]);
        middleAt[middleCount] = static_cast<std::uint32_t>(i);
        topAt[topCount] = static_cast<std::uint32_t>(i);
        middleCount += static_cast<std::size_t>(m >= median) & static_cast<std::size_t>(m < upper);
        topCount += static_cast<std::size_t>(m >= loud);
    }
    const auto sums = [&](const std::vector<std::uint32_t>& at, std::size_t count) {
        ClassSums c;
        for (std::size_t k = 0; k < count; ++k) {
            c.Add(y[at[k]], p[at[k]]);
        }
        return c;
    };
    const ClassSums middle = sums(middleAt, middleCount);
    const ClassSums top = sums(topAt, topCount);
    ClassSums all;
    for (std::size_t i = 0; i < p.size(); ++i) {
        all.yp += y[i] * p[i];
        all.pp += p[i] * p[i];
        all.yy += y[i] * y[i];
    }
    if (middle.pp <= 0.0 || top.pp <= 0.0 || middle.yp <= 0.0 || top.yp <= 0.0 || all.yp <= 0.0) {
        return out;
    }
    // What the best-scaled prediction leaves of Rx: sum (y - g p)^2.
    const double residual = all.yy - all.yp * all.yp / all.pp;
    out.measured = true;
    out.samples = static_cast<int>(y.size());
    out.compression = 20.0 * std::log10(middle.Gain() / top.Gain());
    out.standardError = 20.0 / std::log(10.0) * std::hypot(middle.RelativeError(), top.RelativeError());
    out.linearShare = residual > 0.0 ? 10.0 * std::log10(all.yy / residual) : HUGE_VAL;
    return out;
}

std::vector<Finding> NonlinearEchoFindings(const NonlinearEchoRecord& r, const std::vector<Finding>& earlier)
{
    const bool moving = std::any_of(earlier.begin(), earlier.end(), [](const Finding& f) {
        return f.code == "delay-jump" || f.code == "delay-drift" || f.code == "delay-ambiguous";
    });
    if (!r.measured || moving || r.linearShare < kMinShare || r.compression < kCompression ||
        r.compression < kMinZ * r.standardError) {
        return {};
    }
    return {
        {"nonlinear-echo", Severity::Warning,
         text::Format(
             "The echo is not linear in Tx: at Tx's loudest moments it returns %.1f dB weaker than at "
             "middle levels, as a clipping or overloaded hybrid makes it, and no linear canceller removes "
             "that part; lower the level sent to the line, or check the hybrid's drive",
             r.compression)}};
}

}  // namespace tarnwell
