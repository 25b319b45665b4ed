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
// | 96 G.168 D.2-D.9 x ERL 6/10/20 x bulk 0/100/300/1200 (77 ran;  | -0.13 .. 0.14| 19.8-37.0 | -6.0 .. 5.5|
// |   at ERL 6 the one-block gate stops the pass of 19)            |              |           |            |
// | linear, share >= 10: line noise -40..-55 dBm0, near speech     | -0.42 .. 0.73| 10.0-31.4 | -7.4 .. 5.1|
// |   -40, drift 10-25 ppm, echo beside the window, DC 800 in Tx   |              |           |            |
// |   or Rx, mu-law (60 captures)                                  |              |           |            |
// | linear, share < 10: drift 30-50 ppm, double talk, echo outside | -4.7 .. 24   | 0.0-9.9   | -6.5 .. 7.2|
// |   the window (89 captures)                                     |              |           |            |
// | soft-clipped echo, tanh 4000..16000 after D.2/D.4/D.5/D.8/D.9  | 0.43 .. 2.86 | 10.3-25.3 | 9.5 - 16.8 |
// | soft-clipped Tx, tanh 6000..16000 before D.2 and D.5           | 0.64 .. 2.73 | 10.5-21.8 | 13.3 - 20.7|
//
// A mismatched linear fit biases the compression too (speech's spectrum changes with its
// level), and the more the lower its share: under 10 dB drift and double talk read up to 24 dB,
// so the figure is not read there. Above it a linear path's compression is bias, not chance:
// the G.168 paths stay under the 0.3 dB floor, and the worst linear path over it (a 10 ppm
// drift, too slow for delay-drift: 0.73 dB) reads 5.1 standard errors, where every clipped
// path reads 9.5 or more. A G.711 codec in the path adds noise, not compression (mu-law: 0.01):
// it is not told apart.
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
