// Non-linear echo: whether the echo's gain falls at Tx's loudest moments, as a clipping or
// overloaded hybrid makes it. The canceller's own taps predict the echo; the prediction's
// scale is fitted separately on the loudest samples and on the middle ones.
#pragma once

#include <cstdint>
#include <vector>

#include "engine/AnalysisRecord.h"
#include "evidence/Findings.h"

namespace tarnwell {

namespace nonlinearecho {
inline constexpr int kBlock = 512;            // samples per block (64 ms)
inline constexpr int kMaxBlocks = 16;         // Tx-active blocks read at most, spread evenly
inline constexpr int kMinBlocks = 12;         // fewer: not measured
inline constexpr double kActiveDbm0 = -40.0;  // a block's Tx counts as active above this

// Measured by scripts/make-evidence-table.py --nonlinear (tail 128; 16 blocks of the second
// half; the canceller's taps): "compression": the gain fitted on the samples whose predicted
// echo is in the top 5 % over the gain fitted on those between the median and the 80th
// percentile, dB; "share": Rx over what the best-scaled prediction leaves of it, dB; "z": the
// compression over its standard error.
//
// | captures                                                       | compression  | share     | z          |
// |----------------------------------------------------------------|--------------|-----------|------------|
// | 96 G.168 D.2-D.9 x ERL 6/10/20 x bulk 0/100/300/1200 (77 ran;  | -0.18 .. 0.11| 18.4-34.9 | -6.2 .. 3.8|
// |   at ERL 6 the one-block gate stops the pass of 19)            |              |           |            |
// | linear, share >= 10: line noise -40..-55 dBm0, near speech     | -0.44 .. 0.52| 10.0-32.2 | -6.4 .. 4.3|
// |   -40, drift 10-25 ppm, echo beside the window, DC 800 in Tx   |              |           |            |
// |   or Rx, mu-law (54 captures)                                  |              |           |            |
// | linear, share < 10: drift 30-50 ppm, double talk, echo outside | -19 .. 6.5   | 0.1-9.9   | -6.7 .. 6.1|
// |   the window (96 captures)                                     |              |           |            |
// | soft-clipped echo, tanh 4000..12000 after D.2/D.4/D.5/D.8/D.9  | 0.37 .. 2.20 | 12.4-25.4 | 12.1 - 18.7|
// | soft-clipped Tx, tanh 6000..16000 before D.2 and D.5           | 0.34 .. 1.82 | 12.4-25.0 | 13.0 - 16.1|
// | soft-clipped echo, tanh 16000: mild, little left to cancel     | 0.20         | 28.4      | 10.2       |
//
// A mismatched linear fit biases the compression too (speech's spectrum changes with its
// level), and the more the lower its share: under 10 dB drift and double talk read up to 6.5
// dB one way and 19 the other, so the figure is not read there. Above it a linear path's
// compression is bias, not chance, and reads at most 4.3 standard errors (a 10 ppm drift,
// 0.52 dB); every clipped path but the mildest reads 0.34 dB or more at 12 or more. A G.711
// codec in the path adds noise, not compression (mu-law: -0.02): it is not told apart.
inline constexpr double kMinShare = 10.0;
inline constexpr double kCompression = 0.3;
inline constexpr double kMinZ = 8.0;
}  // namespace nonlinearecho

// tx and rx as read; the echo path as the pass left it.
NonlinearEchoRecord MeasureNonlinearEcho(const std::vector<std::int16_t>& tx,
                                         const std::vector<std::int16_t>& rx, const EchoPathRecord& echoPath);

// The nonlinear-echo finding when the record shows one; none beside an earlier finding that
// names a moving or second echo, whose fit is not the path's.
std::vector<Finding> NonlinearEchoFindings(const NonlinearEchoRecord& record,
                                           const std::vector<Finding>& earlier);

}  // namespace tarnwell
