#include "engine/DspToolkit.h"

#include "engine/LevelKernel.h"

#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <utility>

namespace tarnwell {

namespace {
// The double nearest to 1/256536560: a variance of 256,536,560 reads 0 dBm0.

constexpr double kSampleMin = -32768.0;
constexpr double kSampleMax = 32767.0;

// Truncates toward zero into -32768..32767. Values beyond either end saturate: a wrapped
// sample would turn a full-scale edge into a full-scale click of the opposite sign.
// NaN (which a stable filter fed with samples never produces) gives 0 rather than UB.
constexpr std::int16_t TruncateSaturated(double v)
{
    if (v != v) {
        return 0;
    }
    if (v >= kSampleMax) {
        return static_cast<std::int16_t>(kSampleMax);
    }
    if (v <= kSampleMin) {
        return static_cast<std::int16_t>(kSampleMin);
    }
    return static_cast<std::int16_t>(v);
}

// A filter output as a sample: trunc(y + 0.5), so a half rounds up and a negative value
// rounds toward zero (-1.5 gives -1, -2.6 gives -2), then saturated.
constexpr std::int16_t RoundFilterOutput(double y) { return TruncateSaturated(y + 0.5); }

static_assert(RoundFilterOutput(2.5) == 3);
static_assert(RoundFilterOutput(0.49) == 0);
static_assert(RoundFilterOutput(-1.3) == 0);
static_assert(RoundFilterOutput(-1.49) == 0);
static_assert(RoundFilterOutput(-1.5) == -1);
static_assert(RoundFilterOutput(-2.4) == -1);
static_assert(RoundFilterOutput(-2.6) == -2);
static_assert(RoundFilterOutput(32766.6) == 32767);
static_assert(RoundFilterOutput(32768.0) == 32767, "saturates, does not wrap to -32768");
static_assert(RoundFilterOutput(40000.0) == 32767);
static_assert(RoundFilterOutput(-32768.4) == -32767);
static_assert(RoundFilterOutput(-32769.0) == -32768);
static_assert(RoundFilterOutput(-1.0e12) == -32768);

// history[k] = v[n - 1 - k] becomes history[k] = v[n - k], oldest first: S runs over
// 0 .. M-2, so history[M-1] = history[M-2], ..., history[1] = history[0], history[0] = newest.
template <std::size_t M, std::size_t... S>
inline void Push(std::array<double, M>& history, double newest, std::index_sequence<S...>)
{
    ((history[M - 1 - S] = history[M - 2 - S]), ...);
    history[0] = newest;
}

// One direct form I filter from rest. b and a hold b_0..b_M and a_0..a_M (a_0 = 1). The
// output history keeps the unrounded doubles, not the stored samples. The histories are
// indexed only by constants (the folds), so the compiler keeps them in registers; a loop
// shifting them compiles to two memmove calls per sample.
template <std::size_t Taps>
class DirectFormI {
public:
    DirectFormI(const std::array<double, Taps>& b, const std::array<double, Taps>& a) : b_(b), a_(a) {}

    // The next output, unrounded.
    double Step(double x) { return Step(x, std::make_index_sequence<kOrder>()); }

private:
    static constexpr std::size_t kOrder = Taps - 1;

    template <std::size_t... K>
    double Step(double x, std::index_sequence<K...>)
    {
        // Summed in this order: b_0 x[n] + ... + b_M x[n-M], then - a_1 y[n-1] - ... - a_M y[n-M].
        double y = b_[0] * x;
        ((y += b_[K + 1] * inputs_[K]), ...);
        ((y -= a_[K + 1] * outputs_[K]), ...);
        Push(inputs_, x, std::make_index_sequence<kOrder - 1>());
        Push(outputs_, y, std::make_index_sequence<kOrder - 1>());
        return y;
    }

    const std::array<double, Taps>& b_;
    const std::array<double, Taps>& a_;
    std::array<double, kOrder> inputs_{};   // inputs_[k] = x[n - 1 - k]
    std::array<double, kOrder> outputs_{};  // outputs_[k] = y[n - 1 - k]
};

// The filter over source[0 .. end), storing outputs first .. end - 1 in
// destination[0 .. end - first); the outputs before first are worked out for the filter's
// state only. destination may be source itself (first = 0): each sample is read before its
// output is stored.
template <std::size_t Taps>
void RunDirectFormI(const std::array<double, Taps>& b, const std::array<double, Taps>& a,
                    const std::int16_t* source, std::int16_t* destination, int first, int end)
{
    DirectFormI<Taps> filter(b, a);
    for (int n = 0; n < end; ++n) {
        const double y = filter.Step(source[n]);
        if (n >= first) {
            destination[n - first] = RoundFilterOutput(y);
        }
    }
}

// The same filter over two buffers in place, side by side: each output waits on the one
// before it, so a single filter leaves the CPU idle for most of every sample; two independent
// ones share that wait.
template <std::size_t Taps>
void RunDirectFormIPair(const std::array<double, Taps>& b, const std::array<double, Taps>& a,
                        std::int16_t* one, std::int16_t* other, int count)
{
    DirectFormI<Taps> first(b, a);
    DirectFormI<Taps> second(b, a);
    for (int n = 0; n < count; ++n) {
        const double y1 = first.Step(one[n]);
        const double y2 = second.Step(other[n]);
        one[n] = RoundFilterOutput(y1);
        other[n] = RoundFilterOutput(y2);
    }
}

// Third-order elliptic high-pass at 8 kHz: passband 200..4000 Hz (0..-0.43 dB ripple),
// at least 50 dB down from DC to 50 Hz; zeros at 0 and 43.5 Hz. Written to the last digit:
// each is the shortest decimal of the double the filter uses.
constexpr std::array<double, 4> kHighPassB = {0.854861857992496, -2.563588983649438, 2.563588983649438,
                                              -0.854861857992496};
constexpr std::array<double, 4> kHighPassA = {1.0, -2.68972421059649, 2.420547023705505, -0.726630448981872};

// Ninth-order elliptic high-pass at 8 kHz: passband 1800..4000 Hz (0..-1.0 dB ripple), at
// least 80 dB down below 1607 Hz. Only picks the loudest stretch for the delay search.
constexpr std::array<double, 10> kUpperBandB = {
    0.014721266990614,  -0.074262210529019, 0.204353040213579,  -0.376168880922515, 0.503218777352402,
    -0.503218777352402, 0.376168880922515,  -0.204353040213579, 0.074262210529019,  -0.014721266990614};
constexpr std::array<double, 10> kUpperBandA = {1.0,
                                                1.03041023171744,
                                                3.147675939562921,
                                                3.025047405996733,
                                                4.027716766179966,
                                                3.193204814527535,
                                                2.450694551884117,
                                                1.412792795944779,
                                                0.587637057010005,
                                                0.206820714434264};
}  // namespace

// Blocks up to this length keep every partial sum of products below 2^52.
constexpr int kExactCorrelationLength = 1 << 22;

namespace {

constexpr int kLevelChunk = 256;

double LevelFromMeans(double mean, double meanSquare)
{
    const double variance = meanSquare - mean * mean;
    return 10.0 * std::log(variance * kLevelScale) / std::log(10.0);
}

}  // namespace

double DspToolkit::BlockLevel(const std::int16_t* samples, int count) const
{
    // Running sums of x/N and x*x/N, each term divided before it is added: the rounding
    // of this order is part of the measure, so it must not be rearranged.
    const double n = count;
    double mean = 0.0;
    double meanSquare = 0.0;
    double quotients[kLevelChunk];
    double squareQuotients[kLevelChunk];
    for (int start = 0; start < count; start += kLevelChunk) {
        const int length = count - start < kLevelChunk ? count - start : kLevelChunk;
        DivideByCount(samples + start, length, n, quotients, squareQuotients);
        for (int i = 0; i < length; ++i) {
            mean += quotients[i];
            meanSquare += squareQuotients[i];
        }
    }
    return LevelFromMeans(mean, meanSquare);
}

void DspToolkit::BlockLevelPair(const std::int16_t* first, const std::int16_t* second, int count,
                                double& firstLevel, double& secondLevel) const
{
    // BlockLevel's four running sums, each in its own order: a sum waits on its previous
    // addition, so four chains keep the adder busier than two.
    const double n = count;
    double mean[2] = {0.0, 0.0};
    double meanSquare[2] = {0.0, 0.0};
    double quotients[2][kLevelChunk];
    double squareQuotients[2][kLevelChunk];
    for (int start = 0; start < count; start += kLevelChunk) {
        const int length = count - start < kLevelChunk ? count - start : kLevelChunk;
        DivideByCount(first + start, length, n, quotients[0], squareQuotients[0]);
        DivideByCount(second + start, length, n, quotients[1], squareQuotients[1]);
        for (int i = 0; i < length; ++i) {
            mean[0] += quotients[0][i];
            meanSquare[0] += squareQuotients[0][i];
            mean[1] += quotients[1][i];
            meanSquare[1] += squareQuotients[1][i];
        }
    }
    firstLevel = LevelFromMeans(mean[0], meanSquare[0]);
    secondLevel = LevelFromMeans(mean[1], meanSquare[1]);
}

double DspToolkit::BlockCorrelation(const std::int16_t* first, const std::int16_t* second, int count) const
{
    double sff = 0.0;
    double sss = 0.0;
    double sfs = 0.0;
    const double n = count;
    if (count <= kExactCorrelationLength) {
        // Every product is an integer of at most 2^30 and every partial sum one below 2^52,
        // so the double sums are exact: integer sums give the same bits, without the wait
        // on each floating-point addition.
        const ProductSums sums = SumProducts(first, second, count);
        sff = static_cast<double>(sums.firstSquares);
        sss = static_cast<double>(sums.secondSquares);
        sfs = static_cast<double>(sums.cross);
    } else {
        for (int i = 0; i < count; ++i) {
            const double f = first[i];
            const double s = second[i];
            sff += f * f;
            sss += s * s;
            sfs += f * s;
        }
    }
    return sfs / ((std::sqrt(sss / n) * std::sqrt(sff / n)) * n);
}

void DspToolkit::HighPassFilter(const std::int16_t* source, std::int16_t* destination, int count) const
{
    RunDirectFormI(kHighPassB, kHighPassA, source, destination, 0, count);
}

void DspToolkit::HighPassFilterPair(std::int16_t* one, std::int16_t* other, int count) const
{
    RunDirectFormIPair(kHighPassB, kHighPassA, one, other, count);
}

void DspToolkit::UpperBandFilter(const std::int16_t* source, std::int16_t* destination, int count) const
{
    RunDirectFormI(kUpperBandB, kUpperBandA, source, destination, 0, count);
}

void DspToolkit::UpperBandFilter(const std::int16_t* source, std::int16_t* destination, int first,
                                 int end) const
{
    RunDirectFormI(kUpperBandB, kUpperBandA, source, destination, first, end);
}

}  // namespace tarnwell
