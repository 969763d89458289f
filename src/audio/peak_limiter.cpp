#include "peak_limiter.h"

#include <algorithm>
#include <cmath>

namespace audio {
namespace {

// The stretch looked at as one: 64 frames, 1.3 to 1.5 ms, whatever the caller's block.
constexpr int kStretch = 64;
constexpr double kRecoverySeconds = 0.1;

}  // namespace

PeakLimiter::PeakLimiter(double sampleRate)
    : m_recovery(1.0 - std::exp(-kStretch / (kRecoverySeconds * sampleRate))) {}

template <typename Sample>
void PeakLimiter::process(int frames, Sample sample) {
    for (int start = 0; start < frames; start += kStretch) {
        const int count = std::min(kStretch, frames - start);
        float peak = 0.0f;
        for (int i = start; i < start + count; ++i) {
            peak = std::max({peak, std::fabs(sample(i, 0)), std::fabs(sample(i, 1))});
        }
        const double allowed = peak > kCeiling ? kCeiling / peak : 1.0;
        if (m_gain >= 1.0 && allowed >= 1.0) continue;  // the usual case: untouched
        double gain = m_gain;
        // Down at once for a stretch that would go over; otherwise back up along the ramp.
        const double target = std::min(allowed, m_gain + (1.0 - m_gain) * m_recovery);
        const double step = target < gain ? 0.0 : (target - gain) / count;
        if (target < gain) gain = target;
        for (int i = start; i < start + count; ++i) {
            gain += step;
            sample(i, 0) = static_cast<float>(sample(i, 0) * gain);
            sample(i, 1) = static_cast<float>(sample(i, 1) * gain);
        }
        m_gain = target > 0.999 ? 1.0 : target;  // the last thousandth is not heard
    }
}

void PeakLimiter::processInterleaved(float* samples, int frames) {
    process(frames, [samples](int i, int channel) -> float& { return samples[2 * i + channel]; });
}

void PeakLimiter::processPlanar(float* left, float* right, int frames) {
    process(frames, [left, right](int i, int channel) -> float& {
        return channel == 0 ? left[i] : right[i];
    });
}

}  // namespace audio
