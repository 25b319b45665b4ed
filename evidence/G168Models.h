// The hybrid echo path models D.2 to D.9 of G.168, as libspandsp-dev's g168models.h tabulates
// them (integer taps, each model on a scale of its own), and their use as an echo path: scaled
// to a given echo return loss and placed at a delay.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace tarnwell::g168 {

struct EchoPathModel {
    std::string name;          // "D.2" .. "D.9"
    std::vector<double> taps;  // as tabulated
};

// The eight models in order, D.2 first.
std::span<const EchoPathModel> Models();

// The taps scaled so that the echo of reference (the signal the loss is measured with) lies
// erlDb below it: the loss of the path on that signal, not on white noise.
std::vector<double> ScaledTaps(const EchoPathModel& model, const std::vector<double>& reference,
                               double erlDb);

}  // namespace tarnwell::g168
