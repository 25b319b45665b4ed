// The tap loop in AVX2, 16 taps per vector. Every function here is compiled for AVX2 through
// its own target attribute; the rest of the program stays at the base instruction set.
//
// Per 16 taps: mulhrs gives the Q15 products rounded at bit 15 exactly as MultiplyRoundQ15
// does, but for -32768 * -32768, which only the estimate can meet (the step stays within
// +-32767); the update is widened and added in 32 bits without saturation (the dispatch has
// checked that no coefficient can reach a limit in this frame); a saturating pack of c >> 4
// is SaturateInt16; madd sums pairs of products into 32-bit lanes, where the estimate cannot
// overflow (at most 1024 * 32768 in magnitude).
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "canceller/TapLoop.h"
#include "canceller/VectorFrame.h"

namespace tarnwell::taploop {

namespace {

struct Avx2Taps {
    static constexpr int kWidth = 16;

    [[gnu::target("avx2"), gnu::always_inline]] static inline __m256i Load(const std::int16_t* p)
    {
        return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
    }

    // sum + the products in 32-bit lanes; with Fix, a product read as -32768 counts as +32768
    // (the only product that reads -32768 is the one that overflowed).
    template <bool Fix>
    [[gnu::target("avx2"), gnu::always_inline]] static inline __m256i Accumulate(__m256i sum,
                                                                                 __m256i products)
    {
        __m256i signs = _mm256_set1_epi16(1);
        if constexpr (Fix) {
            const __m256i overflowed = _mm256_cmpeq_epi16(products, _mm256_set1_epi16(-32768));
            signs = _mm256_or_si256(signs, overflowed);  // -1 where overflowed
        }
        return _mm256_add_epi32(sum, _mm256_madd_epi16(products, signs));
    }

    [[gnu::target("avx2"), gnu::always_inline]] static inline std::int32_t Total(__m256i sum)
    {
        __m128i s = _mm_add_epi32(_mm256_castsi256_si128(sum), _mm256_extracti128_si256(sum, 1));
        s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0x4E));
        s = _mm_add_epi32(s, _mm_shuffle_epi32(s, 0xB1));
        return _mm_cvtsi128_si32(s);
    }

    // Saturated c >> 4 of one block of coefficients, in tap order.
    [[gnu::target("avx2"), gnu::always_inline]] static inline __m256i Weights(__m256i c0, __m256i c1)
    {
        return _mm256_packs_epi32(_mm256_srai_epi32(c0, 4), _mm256_srai_epi32(c1, 4));
    }

    // The 32-bit lanes below `count` set, for maskload and maskstore.
    [[gnu::target("avx2"), gnu::always_inline]] static inline __m256i First(int count)
    {
        return _mm256_cmpgt_epi32(_mm256_set1_epi32(count), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
    }

    // Taps j .. j + 15 in tap order (a: 0-7, b: 8-15) and in BlockPosition order (c0, c1)
    // differ by whole 128-bit lanes: c0 holds taps 0-3 and 8-11, c1 taps 4-7 and 12-15. Only
    // the last, partial block goes through the (slower) masked moves.
    [[gnu::target("avx2")]] static bool SetUp(FrameScratch& scratch, const std::int32_t* coefficients,
                                              const std::int16_t* x, int tail)
    {
        for (int j = 0; j < tail; j += kWidth) {
            __m256i a, b;
            if (tail - j >= kWidth) {
                a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefficients + j));
                b = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefficients + j + 8));
            } else {
                a = _mm256_maskload_epi32(reinterpret_cast<const int*>(coefficients + j), First(tail - j));
                b = _mm256_maskload_epi32(reinterpret_cast<const int*>(coefficients + j + 8),
                                          First(tail - j - 8));
            }
            const __m256i c0 = _mm256_permute2x128_si256(a, b, 0x20);
            const __m256i c1 = _mm256_permute2x128_si256(a, b, 0x31);
            auto* block = reinterpret_cast<__m256i*>(scratch.coefficients + j);
            _mm256_store_si256(block, c0);
            _mm256_store_si256(block + 1, c1);
            _mm256_store_si256(reinterpret_cast<__m256i*>(scratch.weights + j), Weights(c0, c1));
        }

        // reversed[n + k] = x[79 - n - k]: lane 15 - k of the 16 samples ending at x[79 - n].
        // The frame and the tail are even, so the samples before x[-tail] fill whole 32-bit
        // lanes, which are not read and come out zero.
        const __m256i backwards = _mm256_setr_epi8(14, 15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1, 14,
                                                   15, 12, 13, 10, 11, 8, 9, 6, 7, 4, 5, 2, 3, 0, 1);
        const __m256i fullScaleNegative = _mm256_set1_epi16(-32768);
        const int end = kFrameLength + (tail + kWidth - 1) / kWidth * kWidth;
        __m256i negatives = _mm256_setzero_si256();
        for (int n = 0; n < end; n += kWidth) {
            const std::int16_t* from = x + kFrameLength - n - kWidth;
            const int valid = kFrameLength + tail - n;
            __m256i v;
            if (valid >= kWidth) {
                v = Load(from);
            } else {
                // Lanes (16 - valid) / 2 .. 7 hold x[-tail] onwards.
                const __m256i lanes = _mm256_cmpgt_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7),
                                                         _mm256_set1_epi32((kWidth - valid) / 2 - 1));
                v = _mm256_maskload_epi32(reinterpret_cast<const int*>(from), lanes);
            }
            negatives = _mm256_or_si256(negatives, _mm256_cmpeq_epi16(v, fullScaleNegative));
            v = _mm256_permute4x64_epi64(_mm256_shuffle_epi8(v, backwards), 0x4E);
            _mm256_store_si256(reinterpret_cast<__m256i*>(scratch.reversed + n), v);
        }
        return _mm256_testz_si256(negatives, negatives) == 0;
    }

    [[gnu::target("avx2")]] static void CopyBack(std::int32_t* coefficients, const FrameScratch& scratch,
                                                 int tail)
    {
        for (int j = 0; j < tail; j += kWidth) {
            const auto* block = reinterpret_cast<const __m256i*>(scratch.coefficients + j);
            const __m256i c0 = _mm256_load_si256(block);
            const __m256i c1 = _mm256_load_si256(block + 1);
            const __m256i a = _mm256_permute2x128_si256(c0, c1, 0x20);
            const __m256i b = _mm256_permute2x128_si256(c0, c1, 0x31);
            if (tail - j >= kWidth) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(coefficients + j), a);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(coefficients + j + 8), b);
            } else {
                _mm256_maskstore_epi32(reinterpret_cast<int*>(coefficients + j), First(tail - j), a);
                _mm256_maskstore_epi32(reinterpret_cast<int*>(coefficients + j + 8), First(tail - j - 8), b);
            }
        }
    }

    // |x| read as unsigned 16 bits (abs(-32768) is 0x8000) and widened to 32-bit lanes; the
    // integer sum is exact in any order; the last, partial block one sample at a time.
    [[gnu::target("avx2")]] static std::int32_t WindowSumBefore(const std::int16_t* x, int tail)
    {
        const __m256i zero = _mm256_setzero_si256();
        __m256i sum = zero;
        int k = 0;
        for (; k + kWidth <= tail; k += kWidth) {
            const __m256i v = _mm256_abs_epi16(Load(x - tail + k));
            sum = _mm256_add_epi32(
                sum, _mm256_add_epi32(_mm256_unpacklo_epi16(v, zero), _mm256_unpackhi_epi16(v, zero)));
        }
        std::int32_t total = 1 + Total(sum);
        for (; k < tail; ++k) {
            total += fixedpoint::Magnitude(x[k - tail]);
        }
        return total;
    }

    // One block of 16 taps; with Masked, only the lanes set in keep are updated.
    template <bool Fix, bool Keep, bool Masked>
    [[gnu::target("avx2"), gnu::always_inline]] static inline __m256i UpdateBlock(
        std::int32_t* c, std::int16_t* w, const std::int16_t* previous, const std::int16_t* current,
        __m256i mu, __m256i keep, __m256i sum)
    {
        __m256i delta = _mm256_mulhrs_epi16(Load(previous), mu);
        if constexpr (Masked) {
            delta = _mm256_and_si256(delta, keep);
        }
        const __m256i sign = _mm256_srai_epi16(delta, 15);
        auto* block = reinterpret_cast<__m256i*>(c);
        const __m256i c0 = _mm256_add_epi32(_mm256_load_si256(block), _mm256_unpacklo_epi16(delta, sign));
        const __m256i c1 = _mm256_add_epi32(_mm256_load_si256(block + 1), _mm256_unpackhi_epi16(delta, sign));
        _mm256_store_si256(block, c0);
        _mm256_store_si256(block + 1, c1);
        const __m256i weights = Weights(c0, c1);
        if constexpr (Keep) {
            _mm256_store_si256(reinterpret_cast<__m256i*>(w), weights);
        }
        return Accumulate<Fix>(sum, _mm256_mulhrs_epi16(Load(current), weights));
    }

    template <bool Fix, bool Keep>
    [[gnu::target("avx2")]] static std::int32_t Update(std::int32_t* c, std::int16_t* w,
                                                       const std::int16_t* previous,
                                                       const std::int16_t* current, int tail,
                                                       std::int16_t step)
    {
        const __m256i mu = _mm256_set1_epi16(step);
        __m256i sum = _mm256_setzero_si256();
        int j = 0;
        for (; j + kWidth <= tail; j += kWidth) {
            sum = UpdateBlock<Fix, Keep, false>(c + j, w + j, previous + j, current + j, mu, mu, sum);
        }
        if (j < tail) {
            const __m256i lanes = _mm256_setr_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
            const __m256i keep = _mm256_cmpgt_epi16(_mm256_set1_epi16(static_cast<short>(tail - j)), lanes);
            sum = UpdateBlock<Fix, Keep, true>(c + j, w + j, previous + j, current + j, mu, keep, sum);
        }
        return Total(sum);
    }

    // The weights past the tail are zero, so the last block needs no mask.
    template <bool Fix>
    [[gnu::target("avx2")]] static std::int32_t Estimate(const std::int16_t* w, const std::int16_t* current,
                                                         int tail)
    {
        __m256i sum = _mm256_setzero_si256();
        for (int j = 0; j < tail; j += kWidth) {
            const __m256i weights = _mm256_load_si256(reinterpret_cast<const __m256i*>(w + j));
            sum = Accumulate<Fix>(sum, _mm256_mulhrs_epi16(Load(current + j), weights));
        }
        return Total(sum);
    }

    // Coefficients past the tail are zero too.
    template <bool Fix>
    [[gnu::target("avx2")]] static std::int32_t EstimateFromCoefficients(const std::int32_t* c,
                                                                         const std::int16_t* current,
                                                                         int tail)
    {
        __m256i sum = _mm256_setzero_si256();
        for (int j = 0; j < tail; j += kWidth) {
            const auto* block = reinterpret_cast<const __m256i*>(c + j);
            const __m256i weights = Weights(_mm256_load_si256(block), _mm256_load_si256(block + 1));
            sum = Accumulate<Fix>(sum, _mm256_mulhrs_epi16(Load(current + j), weights));
        }
        return Total(sum);
    }
};

}  // namespace

[[gnu::target("avx2")]] bool ClearOfLimitsAvx2(const std::int32_t* coefficients, int tail)
{
    const __m256i lo = _mm256_set1_epi32(kLowestClear);
    const __m256i hi = _mm256_set1_epi32(kHighestClear);
    __m256i outside = _mm256_setzero_si256();
    int j = 0;
    for (; j + 8 <= tail; j += 8) {
        const __m256i c = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(coefficients + j));
        outside = _mm256_or_si256(outside,
                                  _mm256_or_si256(_mm256_cmpgt_epi32(lo, c), _mm256_cmpgt_epi32(c, hi)));
    }
    bool clear = _mm256_testz_si256(outside, outside) != 0;
    for (; j < tail; ++j) {
        clear &= coefficients[j] >= kLowestClear && coefficients[j] <= kHighestClear;
    }
    return clear;
}

// |x| fits an unsigned 16-bit lane (abs(-32768) reads 32768 there); the largest of eight is
// 0xFFFF less the smallest of their complements, which minpos finds.
[[gnu::target("avx2")]] std::int32_t PeakMagnitudeAvx2(const std::int16_t* samples, int count)
{
    __m256i peak = _mm256_setzero_si256();
    int n = 0;
    for (; n + 16 <= count; n += 16) {
        peak = _mm256_max_epu16(peak, _mm256_abs_epi16(Avx2Taps::Load(samples + n)));
    }
    const __m128i both = _mm_max_epu16(_mm256_castsi256_si128(peak), _mm256_extracti128_si256(peak, 1));
    const __m128i smallest = _mm_minpos_epu16(_mm_xor_si128(both, _mm_set1_epi16(-1)));
    std::int32_t largest = 0xFFFF - (_mm_cvtsi128_si32(smallest) & 0xFFFF);
    for (; n < count; ++n) {
        largest = std::max(largest, fixedpoint::Magnitude(samples[n]));
    }
    return largest;
}

[[gnu::target("avx2"), gnu::flatten]] std::int16_t FilterFrameAvx2(CancellerState& state,
                                                                   const std::int16_t* nearEnd,
                                                                   const std::int16_t* reference,
                                                                   std::int16_t* output)
{
    return RunFrame<Avx2Taps>(state, nearEnd, reference, output);
}

}  // namespace tarnwell::taploop
