// Measuring rendered sound in tests.
#pragma once

#include <cmath>
#include <cstddef>
#include <vector>

namespace testing_support {

// Autocorrelation pitch estimate of a mono signal between 50 Hz and 1 kHz, in Hz.
inline double Fundamental(const std::vector<float>& samples, double rate) {
    double best = 0;
    int bestLag = 0;
    for (int lag = static_cast<int>(rate / 1000); lag <= static_cast<int>(rate / 50); ++lag) {
        double sum = 0;
        for (std::size_t i = 0; i + static_cast<std::size_t>(lag) < samples.size(); ++i) {
            sum += samples[i] * samples[i + static_cast<std::size_t>(lag)];
        }
        if (sum > best) {
            best = sum;
            bestLag = lag;
        }
    }
    return bestLag > 0 ? rate / bestLag : 0;
}

inline double Rms(const std::vector<float>& samples) {
    double sum = 0;
    for (const float s : samples) sum += static_cast<double>(s) * s;
    return samples.empty() ? 0 : std::sqrt(sum / static_cast<double>(samples.size()));
}

}  // namespace testing_support
