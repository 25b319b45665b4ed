#include "evidence/BinKernels.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

using namespace tarnwell;

namespace {

// Odd bin counts reach the clones' tails; a zero bin is whitened to 0, not divided by.
class SpectrumKernelsTest : public testing::TestWithParam<int> {
protected:
    void SetUp() override
    {
        std::mt19937 gen(static_cast<unsigned>(GetParam()));
        std::normal_distribution<float> value(0.0F, 3.0e4F);
        for (int k = 0; k < GetParam(); ++k) {
            x.emplace_back(value(gen), value(gen));
            r.emplace_back(value(gen), value(gen));
            sum.emplace_back(static_cast<double>(value(gen)) * 1.0e3,
                             static_cast<double>(value(gen)) * 1.0e3);
        }
        if (GetParam() > 3) sum[3] = {};
    }
    std::vector<std::complex<float>> x, r;
    std::vector<std::complex<double>> sum;
};

TEST_P(SpectrumKernelsTest, GiveThePlainLoopsBits)
{
    const int bins = GetParam();
    auto products = sum;
    AddConjProduct(x.data(), r.data(), products.data(), bins);
    std::vector<double> powers(static_cast<std::size_t>(bins), 1.5);
    AddPower(x.data(), powers.data(), bins);
    auto sums = sum;
    AddSpectrum(products.data(), sums.data(), bins);
    std::vector<std::complex<float>> white(static_cast<std::size_t>(bins));
    const int used = Whiten(sum.data(), 0, bins - 1, white.data());
    int wantUsed = 0;
    for (std::size_t k = 0; k < static_cast<std::size_t>(bins); ++k) {
        const double a = x[k].real();
        const double b = x[k].imag();
        const double c = r[k].real();
        const double d = r[k].imag();
        EXPECT_EQ(products[k], sum[k] + std::complex<double>(a * c + b * d, a * d - b * c)) << k;
        EXPECT_EQ(powers[k], 1.5 + (a * a + b * b)) << k;
        EXPECT_EQ(sums[k], sum[k] + products[k]) << k;
        const auto re = static_cast<float>(sum[k].real());
        const auto im = static_cast<float>(sum[k].imag());
        const float norm = re * re + im * im;
        const float inverse = norm > 0.0F ? 1.0F / std::sqrt(norm) : 0.0F;
        EXPECT_EQ(white[k], std::complex<float>(re * inverse, im * inverse)) << k;
        wantUsed += norm > 0.0F ? 1 : 0;
    }
    EXPECT_EQ(used, wantUsed);
}

INSTANTIATE_TEST_SUITE_P(Bins, SpectrumKernelsTest, testing::Values(1, 7, 2049));

}  // namespace
