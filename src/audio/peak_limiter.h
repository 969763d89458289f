// Keeps the synthesizer's output below full scale. With the default soundfont a ten-note chord
// at the highest velocity peaks at about -3 dBFS and is never touched; louder soundfonts go over
// (FluidR3_GM: about +3 dBFS), and the sound server would clip them into a crackle. A stretch
// louder than the ceiling is turned down at once, and the gain comes back within half a second
// (a tenth of a second for each factor of e), ramped sample by sample so that it makes no step.
#pragma once

namespace audio {

class PeakLimiter {
  public:
    explicit PeakLimiter(double sampleRate);

    // Two channels, interleaved (left, right, left ...).
    void processInterleaved(float* samples, int frames);
    // Two channels, each in its own buffer.
    void processPlanar(float* left, float* right, int frames);

    // Below full scale, with room for the server's conversion to whole numbers.
    static constexpr float kCeiling = 0.95f;

  private:
    template <typename Sample>
    void process(int frames, Sample sample);

    double m_gain = 1.0;
    double m_recovery;  // the part of the way back to full gain made in one stretch
};

}  // namespace audio
