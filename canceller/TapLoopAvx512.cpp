// The tap loop in AVX-512BW, 32 taps per vector; the same steps as TapLoopAvx2.cpp, with
// mask registers for the last, partial block and for the -32768 correction. Every function
// here is compiled for AVX-512BW through its own target attribute. (VNNI's fused dot product
// was tried for the accumulation: its latency on one accumulator made the loop slower.)
#include <immintrin.h>

#include <cstdint>

#include "canceller/TapLoop.h"
#include "canceller/VectorFrame.h"

// GCC 12's AVX-512 headers fill the unused source of some intrinsics with a self-initialised
// "undefined" vector, which -Wmaybe-uninitialized reports once they are inlined (GCC bug
// 105593, fixed in GCC 13). Nothing here reads an undefined value.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
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

    [[gnu::target("avx512bw"), gnu::always_inline]] static inline __m512i Weights(__m512i c0,
                                                                                            __m512i c1)
    {
        return _mm512_packs_epi32(_mm512_srai_epi32(c0, 4), _mm512_srai_epi32(c1, 4));
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
    [[gnu::target("avx512bw")]] static std::int32_t EstimateFromCoefficients(
        const std::int32_t* c, const std::int16_t* current, int tail)
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

[[gnu::target("avx512bw"), gnu::flatten]] std::int16_t FilterFrameAvx512(
    CancellerState& state, const std::int16_t* nearEnd, const std::int16_t* reference,
    std::int16_t* output)
{
    return RunFrame<Avx512Taps>(state, nearEnd, reference, output);
}

}  // namespace tarnwell::taploop
