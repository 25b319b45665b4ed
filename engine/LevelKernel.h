// The divisions of the level measure, x / n and x*x / n for every sample of a block, into two
// arrays. A division is correctly rounded in any lane of any width, so the vector forms the
// CPU picks at run time give the bits of the plain loop; the sums stay with the caller, in
// their written order.
#pragma once

#include <cstdint>

namespace tarnwell {

void DivideByCount(const std::int16_t* samples, int count, double n, double* quotients,
                   double* squareQuotients);

}  // namespace tarnwell
