// The kernels of the two block measures. The divisions of the level measure, x / n and x*x / n for every
// sample of a block, into two arrays. A division is correctly rounded in any lane of any width, so the vector
// forms the CPU picks at run time give the bits of the plain loop; the sums stay with the caller, in their
// written order. The correlation's sums are integers, exact whatever the order.
#pragma once

#include <cstdint>

namespace tarnwell {

void DivideByCount(const std::int16_t* samples, int count, double n, double* quotients,
                   double* squareQuotients);

// The three sums of products of a correlation, exact in 64-bit integers (so in any order).
struct ProductSums {
    std::int64_t firstSquares = 0;
    std::int64_t secondSquares = 0;
    std::int64_t cross = 0;
};
ProductSums SumProducts(const std::int16_t* first, const std::int16_t* second, int count);

}  // namespace tarnwell
