#include "evidence/G168Models.h"

#include <cmath>
#include <cstdint>
#include <iterator>

namespace tarnwell::g168 {

namespace {

// Only the models' coefficient tables are taken from the header.
#include <spandsp/g168models.h>

template <std::size_t N>
EchoPathModel Model(const char* name, const std::int32_t (&taps)[N])
{
    return {name, std::vector<double>(std::begin(taps), std::end(taps))};
}

}  // namespace

std::span<const EchoPathModel> Models()
{
    static const std::vector<EchoPathModel> models{
        Model("D.2", line_model_d2_coeffs), Model("D.3", line_model_d3_coeffs),
        Model("D.4", line_model_d4_coeffs), Model("D.5", line_model_d5_coeffs),
        Model("D.6", line_model_d6_coeffs), Model("D.7", line_model_d7_coeffs),
        Model("D.8", line_model_d8_coeffs), Model("D.9", line_model_d9_coeffs)};
    return models;
}

std::vector<double> ScaledTaps(const EchoPathModel& model, const std::vector<double>& reference, double erlDb)
{
    const std::size_t length = model.taps.size();
    double inPower = 0.0;
    double outPower = 0.0;
    for (std::size_t n = length; n < reference.size(); ++n) {
        double echo = 0.0;
        for (std::size_t k = 0; k < length; ++k) {
            echo += model.taps[k] * reference[n - k];
        }
        inPower += reference[n] * reference[n];
        outPower += echo * echo;
    }
    const double gain = outPower > 0.0 ? std::sqrt(inPower / outPower) * std::pow(10.0, -erlDb / 20.0) : 0.0;
    std::vector<double> taps = model.taps;
    for (double& t : taps) {
        t *= gain;
    }
    return taps;
}

}  // namespace tarnwell::g168
