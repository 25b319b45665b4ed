// The tap loop in AVX-512BW, 32 taps per vector; the same steps as TapLoopAvx2.cpp, with
// mask registers for the last, partial block and for the -32768 correction. Every function
// here is compiled for AVX-512BW through its own target attribute. (VNNI's fused dot product
// was tried for the accumulation: its latency on one accumulator made the loop slower.)
#include <immintrin.h>

#include <cstdint>

#include "canceller/TapLoop.h"
#include "canceller/VectorFrame.h"

// GCC 12's AVX-512 headers fill the unused source of some intrinsics with a self-initialised
// "undefined" vector, which -W(maybe-)uninitialized reports once they are inlined (GCC bug
// 105593, fixed in GCC 13). Nothing here reads an undefined value.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#pragma GCC diagnostic ignored "-Wuninitialized"
#endif

namespace tarnwell::taploop {

namespace {

struct Avx512Taps {
    static constexpr int kWidth = 32;

    [[gnu::target("avx512bw"), gnu::always_inline]] static inline __m512i Load(const std::int16_t* p)
    {
        return _mm512_loadu_si512(p);
    }

    // sum + the products in 32-bit lanes; with Fix, a product read as -32768 counts as +32768.
    template <bool Fix>
    [[gnu::target("avx512bw"), gnu::always_inline]] static inline __m512i Accumulate(__m512i sum,
                                                                                     __m512i products)
    {
        __m512i signs = _mm512_set1_epi16(1);
        if constexpr (Fix) {
            const __mmask32 overflowed = _mm512_cmpeq_epi16_mask(products, _mm512_set1_epi16(-32768));
            signs = _mm512_mask_blend_epi16(overflowed, signs, _mm512_set1_epi16(-1));
        }
        return _mm512_add_epi32(sum, _mm512_madd_epi16(products, signs));
    }

    [[gnu::target("avx512bw"), gnu::always_inline]] static inline __m512i Weights(__m512i c0, __m512i c1)
    {
        return _mm512_packs_epi32(_mm512_srai_epi32(c0, 4), _mm512_srai_epi32(c1, 4));
    }

    // The lanes below `count` (any count; none when it is 0 or less).
    [[gnu::target("avx512bw"), gnu::always_inline]] static inline __mmask32 First(int count)
    {
        return count >= 32 ? ~__mmask32{0} : count <= 0 ? __mmask32{0} : (__mmask32{1} << count) - 1;
    }

    // Taps j .. j + 31 in tap order (a: 0-15, b: 16-31) and in BlockPosition order (c0, c1)
    // differ by whole 64-bit pairs: c0 holds taps 0-3, 8-11, 16-19, 24-27 and c1 the others.
    [[gnu::target("avx512bw")]] static bool SetUp(FrameScratch& scratch, const std::int32_t* coefficients,
                                                  const std::int16_t* x, int tail)
    {
        const __m512i toBlock0 = _mm512_setr_epi64(0, 1, 4, 5, 8, 9, 12, 13);
        const __m512i toBlock1 = _mm512_setr_epi64(2, 3, 6, 7, 10, 11, 14, 15);
        for (int j = 0; j < tail; j += kWidth) {
            const __mmask32 keep = First(tail - j);
            const __m512i a = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(keep), coefficients + j);
            const __m512i b = _mm512_maskz_loadu_epi32(static_cast<__mmask16>(keep >> 16),
                                                       coefficients + j + 16);
            const __m512i c0 = _mm512_permutex2var_epi64(a, toBlock0, b);
            const __m512i c1 = _mm512_permutex2var_epi64(a, toBlock1, b);
            _mm512_store_si512(scratch.coefficients + j, c0);
            _mm512_store_si512(scratch.coefficients + j + 16, c1);
            _mm512_store_si512(scratch.weights + j, Weights(c0, c1));
        }

        // reversed[n + k] = x[79 - n - k]: lane 31 - k of the 32 samples ending at x[79 - n];
        // the lanes before x[-tail] are not read and come out zero.
        const __m512i backwards = _mm512_set_epi16(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16,
                                                   17, 18, 19, 20, 21, 22, 23, 24, 25, 26, 27, 28, 29, 30,
                                                   31);
        const __m512i fullScaleNegative = _mm512_set1_epi16(-32768);
        const int end = kFrameLength + (tail + kWidth - 1) / kWidth * kWidth;
        __mmask32 negatives = 0;
        for (int n = 0; n < end; n += kWidth) {
            const int valid = kFrameLength + tail - n;
            const __mmask32 lanes = valid >= 32 ? ~__mmask32{0} : ~First(32 - valid);
            const __m512i v = _mm512_maskz_loadu_epi16(valid > 0 ? lanes : 0, x + kFrameLength - n - kWidth);
            negatives |= _mm512_cmpeq_epi16_mask(v, fullScaleNegative);
            _mm512_store_si512(scratch.reversed + n, _mm512_permutexvar_epi16(backwards, v));
        }
        return negatives != 0;
    }

    [[gnu::target("avx512bw")]] static void CopyBack(std::int32_t* coefficients, const FrameScratch& scratch,
                                                     int tail)
    {
        const __m512i toTaps0 = _mm512_setr_epi64(0, 1, 8, 9, 2, 3, 10, 11);
        const __m512i toTaps1 = _mm512_setr_epi64(4, 5, 12, 13, 6, 7, 14, 15);
        for (int j = 0; j < tail; j += kWidth) {
            const __mmask32 keep = First(tail - j);
            const __m512i c0 = _mm512_load_si512(scratch.coefficients + j);
            const __m512i c1 = _mm512_load_si512(scratch.coefficients + j + 16);
            _mm512_mask_storeu_epi32(coefficients + j, static_cast<__mmask16>(keep),
                                     _mm512_permutex2var_epi64(c0, toTaps0, c1));
            _mm512_mask_storeu_epi32(coefficients + j + 16, static_cast<__mmask16>(keep >> 16),
                                     _mm512_permutex2var_epi64(c0, toTaps1, c1));
        }
    }

    // |x| read as unsigned 16 bits (abs(-32768) is 0x8000) and widened to 32-bit lanes; the
    // integer sum is exact in any order.
    [[gnu::target("avx512bw")]] static std::int32_t WindowSumBefore(const std::int16_t* x, int tail)
    {
        const __m512i zero = _mm512_setzero_si512();
        __m512i sum = zero;
        for (int k = 0; k < tail; k += kWidth) {
            const __m512i v = _mm512_abs_epi16(_mm512_maskz_loadu_epi16(First(tail - k), x - tail + k));
            sum = _mm512_add_epi32(
                sum, _mm512_add_epi32(_mm512_unpacklo_epi16(v, zero), _mm512_unpackhi_epi16(v, zero)));
        }
        return 1 + _mm512_reduce_add_epi32(sum);
    }

    template <bool Fix, bool Keep>
    [[gnu::target("avx512bw"), gnu::always_inline]] static inline __m512i UpdateBlock(
        std::int32_t* c, std::int16_t* w, const std::int16_t* previous, const std::int16_t* current,
        __m512i mu, __mmask32 keep, __m512i sum)
    {
        const __m512i delta = _mm512_maskz_mulhrs_epi16(keep, Load(previous), mu);
        const __m512i sign = _mm512_srai_epi16(delta, 15);
        const __m512i c0 = _mm512_add_epi32(_mm512_load_si512(c), _mm512_unpacklo_epi16(delta, sign));
        const __m512i c1 = _mm512_add_epi32(_mm512_load_si512(c + 16), _mm512_unpackhi_epi16(delta, sign));
        _mm512_store_si512(c, c0);
        _mm512_store_si512(c + 16, c1);
        const __m512i weights = Weights(c0, c1);
        if constexpr (Keep) {
            _mm512_store_si512(w, weights);
        }
        return Accumulate<Fix>(sum, _mm512_mulhrs_epi16(Load(current), weights));
    }

    template <bool Fix, bool Keep>
    [[gnu::target("avx512bw")]] static std::int32_t Update(std::int32_t* c, std::int16_t* w,
                                                           const std::int16_t* previous,
                                                           const std::int16_t* current, int tail,
                                                           std::int16_t step)
    {
        const __m512i mu = _mm512_set1_epi16(step);
        __m512i sum = _mm512_setzero_si512();
        int j = 0;
        for (; j + kWidth <= tail; j += kWidth) {
            sum = UpdateBlock<Fix, Keep>(c + j, w + j, previous + j, current + j, mu, ~__mmask32{0}, sum);
        }
        if (j < tail) {
            const __mmask32 keep = (__mmask32{1} << (tail - j)) - 1;
            sum = UpdateBlock<Fix, Keep>(c + j, w + j, previous + j, current + j, mu, keep, sum);
        }
        return _mm512_reduce_add_epi32(sum);
    }

    // The weights past the tail are zero, so the last block needs no mask.
    template <bool Fix>
    [[gnu::target("avx512bw")]] static std::int32_t Estimate(const std::int16_t* w,
                                                             const std::int16_t* current, int tail)
    {
        __m512i sum = _mm512_setzero_si512();
        for (int j = 0; j < tail; j += kWidth) {
            sum = Accumulate<Fix>(sum, _mm512_mulhrs_epi16(Load(current + j), _mm512_load_si512(w + j)));
        }
        return _mm512_reduce_add_epi32(sum);
    }

    // Coefficients past the tail are zero too.
    template <bool Fix>
    [[gnu::target("avx512bw")]] static std::int32_t EstimateFromCoefficients(const std::int32_t* c,
                                                                             const std::int16_t* current,
                                                                             int tail)
    {
        __m512i sum = _mm512_setzero_si512();
        for (int j = 0; j < tail; j += kWidth) {
            const __m512i weights = Weights(_mm512_load_si512(c + j), _mm512_load_si512(c + j + 16));
            sum = Accumulate<Fix>(sum, _mm512_mulhrs_epi16(Load(current + j), weights));
        }
        return _mm512_reduce_add_epi32(sum);
    }
};

}  // namespace

[[gnu::target("avx512bw")]] bool ClearOfLimitsAvx512(const std::int32_t* coefficients, int tail)
{
    const __m512i lo = _mm512_set1_epi32(kLowestClear);
    const __m512i hi = _mm512_set1_epi32(kHighestClear);
    __mmask16 outside = 0;
    for (int j = 0; j < tail; j += 16) {
        const __mmask16 keep = tail - j >= 16 ? __mmask16{0xFFFF}
                                              : static_cast<__mmask16>((1u << (tail - j)) - 1);
        const __m512i c = _mm512_maskz_loadu_epi32(keep, coefficients + j);
        outside |= _mm512_cmplt_epi32_mask(c, lo) | _mm512_cmpgt_epi32_mask(c, hi);
    }
    return outside == 0;
}

// |x| fits an unsigned 16-bit lane (abs(-32768) reads 32768 there); the largest of eight is
// 0xFFFF less the smallest of their complements, which minpos finds.
[[gnu::target("avx512bw")]] std::int32_t PeakMagnitudeAvx512(const std::int16_t* samples, int count)
{
    __m512i peak = _mm512_setzero_si512();
    for (int n = 0; n < count; n += 32) {
        const __mmask32 keep = count - n >= 32 ? ~__mmask32{0} : (__mmask32{1} << (count - n)) - 1;
        peak = _mm512_max_epu16(peak, _mm512_abs_epi16(_mm512_maskz_loadu_epi16(keep, samples + n)));
    }
    const __m256i half = _mm256_max_epu16(_mm512_castsi512_si256(peak), _mm512_extracti64x4_epi64(peak, 1));
    const __m128i quarter = _mm_max_epu16(_mm256_castsi256_si128(half), _mm256_extracti128_si256(half, 1));
    const __m128i smallest = _mm_minpos_epu16(_mm_xor_si128(quarter, _mm_set1_epi16(-1)));
    return 0xFFFF - (_mm_cvtsi128_si32(smallest) & 0xFFFF);
}

[[gnu::target("avx512bw"), gnu::flatten]] std::int16_t FilterFrameAvx512(CancellerState& state,
                                                                         const std::int16_t* nearEnd,
                                                                         const std::int16_t* reference,
                                                                         std::int16_t* output)
{
    return RunFrame<Avx512Taps>(state, nearEnd, reference, output);
}

}  // namespace tarnwell::taploop
