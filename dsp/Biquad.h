// Second-order sections and their coefficient designs.
//
// A Biquad is direct form I with its coefficients already divided by a0. The designs are free
// functions of (frequency, rate[, gain]) so that the kernel, the tests and any response drawing use
// the same arithmetic. They write coefficients only; a section's memories belong to the signal.
//
// Arithmetic contract (the sound depends on it bit for bit): the angle 2*pi*f/R is formed in double
// from single-precision f and R, then converted to float; everything after it is single precision,
// evaluated in the order written. Build with -ffp-contract=off.
//
// Threads: pure functions and plain data; any thread.
#pragma once

namespace thraskvell {

struct BiquadCoefficients {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
};

struct Biquad {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;
    float x1 = 0.0f;
    float x2 = 0.0f;
    float y1 = 0.0f;
    float y2 = 0.0f;

    void setCoefficients(const BiquadCoefficients& c) {
        b0 = c.b0;
        b1 = c.b1;
        b2 = c.b2;
        a1 = c.a1;
        a2 = c.a2;
    }
};

// Normalised angle: formed in double, handed on in single precision.
float designAngle(float frequency, float rate);

// Butterworth-like low-pass (Q = 1/1.414).
BiquadCoefficients designLowpass(float frequency, float rate);
// Mirror of designLowpass.
BiquadCoefficients designHighpass(float frequency, float rate);
// Shelf slope 1; gainDb at DC, unity towards half the rate.
BiquadCoefficients designLowShelf(float frequency, float rate, float gainDb);

// Magnitude of a section's response at a frequency, in double, for tests and drawings.
double magnitudeAt(const BiquadCoefficients& c, double frequency, double rate);

} // namespace thraskvell
