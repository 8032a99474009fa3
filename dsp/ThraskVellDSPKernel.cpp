#include "dsp/ThraskVellDSPKernel.h"

#include "dsp/ExactMath.h"
#include "dsp/PortableKernel.h"
#ifndef THRASKVELL_PORTABLE_KERNEL
#include "dsp/VectorMath.h"

#include <emmintrin.h>
#endif

#include <climits>
#include <cmath>
#include <cstring>

namespace thraskvell {

namespace {

// The low-pass design has no stable section at or above half the rate (nor near 0 Hz, where the
// single-precision cosine reaches 1), so the pre-clip cutoff is kept inside these fractions.
constexpr float kPreClipMaxFraction = 0.49f;
constexpr float kPreClipMinFraction = 0.001f;

// Rates below this would put the fixed 1 kHz tone sections near half the rate.

#ifndef THRASKVELL_PORTABLE_KERNEL
// Below this a decaying gain or reduction only creeps through denormals towards zero; taking it to
// zero at once keeps the render cost flat on silence.
constexpr float kDenormalFloor = 1e-37f;

inline bool finite(const Biquad& f) {
    return std::isfinite(f.b0) && std::isfinite(f.b1) && std::isfinite(f.b2) && std::isfinite(f.a1) &&
           std::isfinite(f.a2) && std::isfinite(f.x1) && std::isfinite(f.x2) && std::isfinite(f.y1) &&
           std::isfinite(f.y2);
}

inline void clearMemories(Biquad& f) {
    f.x1 = 0.0f;
    f.x2 = 0.0f;
    f.y1 = 0.0f;
    f.y2 = 0.0f;
}

// Extreme settings (a huge trim or volume, a non-finite raw value) can overflow a channel's state;
// left alone, one such block would silence the channel for good. The coefficients stay: they are
// rewritten from the settings anyway.
void clearIfPoisoned(ChannelState& s) {
    Biquad* sections[] = {&s.upsampleLowpass1,   &s.upsampleLowpass2, &s.downsampleLowpass1,
                          &s.downsampleLowpass2, &s.preClipLowpass,   &s.toneLowpass,
                          &s.toneHighpass,       &s.bassShelf};
    bool ok = std::isfinite(s.gateEnvelopeDb) && std::isfinite(s.gateGain) && std::isfinite(s.dcLastInput) &&
              std::isfinite(s.dcLastOutput) && std::isfinite(s.gainReductionDb);
    for (const Biquad* f : sections)
        ok = ok && finite(*f);
    if (ok) return;
    for (Biquad* f : sections)
        clearMemories(*f);
    s.gateEnvelopeDb = -100.0f;
    s.gateGain = 1.0f;
    s.dcLastInput = 0.0f;
    s.dcLastOutput = 0.0f;
    s.gainReductionDb = 0.0f;
}

// Per-block values, hoisted out of the sample loop. Each is the very value the chain would compute
// per sample, so hoisting changes no bit.
struct BlockSettings {
    bool gateOn = false;
    float gateThresholdDb = 0.0f;
    float trimGain = 1.0f;
    float drive = 1.0f;
    float toneAmount = 0.5f;
    float oneMinusTone = 0.5f;
    float blendAmount = 0.5f;
    float oneMinusBlend = 0.5f;
    bool dryModeOn = false;
    bool bassBoostOn = false;
    bool asymmetryOn = false;
    bool dynamicsOn = false;
    float compThresholdDb = 0.0f;
    float ratioFactor = 0.0f;
    float attackCoeff = 0.0f;
    float releaseCoeff = 0.0f;
    float releaseKeep = 1.0f;
    float outputGain = 1.0f;
};

struct Group {
    int count = 0;
    ChannelState* states[4] = {};
    const float* inputs[4] = {};
    float* outputs[4] = {};
};

// One section for up to four channels, lane l holding channel l of the group. Every lane operation
// is the scalar operation of the literal chain, in the same order, so each lane rounds exactly as
// the per-sample chain would.
struct SectionLanes {
    __m128 b0, b1, b2, a1, a2, x1, x2, y1, y2;

    void load(const Group& g, Biquad ChannelState::*member) {
        alignas(16) float v[9][4];
        for (int l = 0; l < 4; ++l) {
            const Biquad f = l < g.count ? g.states[l]->*member : Biquad{};
            const float fields[9] = {f.b0, f.b1, f.b2, f.a1, f.a2, f.x1, f.x2, f.y1, f.y2};
            for (int i = 0; i < 9; ++i)
                v[i][l] = fields[i];
        }
        b0 = _mm_load_ps(v[0]);
        b1 = _mm_load_ps(v[1]);
        b2 = _mm_load_ps(v[2]);
        a1 = _mm_load_ps(v[3]);
        a2 = _mm_load_ps(v[4]);
        x1 = _mm_load_ps(v[5]);
        x2 = _mm_load_ps(v[6]);
        y1 = _mm_load_ps(v[7]);
        y2 = _mm_load_ps(v[8]);
    }

    void store(const Group& g, Biquad ChannelState::*member) const {
        alignas(16) float v[4][4];
        _mm_store_ps(v[0], x1);
        _mm_store_ps(v[1], x2);
        _mm_store_ps(v[2], y1);
        _mm_store_ps(v[3], y2);
        for (int l = 0; l < g.count; ++l) {
            Biquad& f = g.states[l]->*member;
            f.x1 = v[0][l];
            f.x2 = v[1][l];
            f.y1 = v[2][l];
            f.y2 = v[3][l];
        }
    }

    // A step whose input terms (b0 v + b1 x1 + b2 x2) are the single product given: the others
    // multiply a stuffed zero. Dropping a zero term can only change the sign of a zero sum, and
    // the flush turns any zero into +0, so every stored value is the literal one. The input
    // memories are not kept; the caller knows them to be zero after each frame.
    __m128 stuffedStep(__m128 inputTerm) {
        __m128 y = _mm_sub_ps(inputTerm, _mm_mul_ps(a1, y1));
        y = _mm_sub_ps(y, _mm_mul_ps(a2, y2));
        y = _mm_add_ps(y, _mm_set1_ps(1e-20f));
        y = _mm_add_ps(y, _mm_set1_ps(-1e-20f));
        y2 = y1;
        y1 = y;
        return y;
    }

    __m128 step(__m128 v) {
        __m128 y = _mm_mul_ps(b0, v);
        y = _mm_add_ps(y, _mm_mul_ps(b1, x1));
        y = _mm_add_ps(y, _mm_mul_ps(b2, x2));
        y = _mm_sub_ps(y, _mm_mul_ps(a1, y1));
        y = _mm_sub_ps(y, _mm_mul_ps(a2, y2));
        // The flush: two separate additions, so anything far below 1e-20 becomes exactly 0 and
        // denormals never reach the memories.
        y = _mm_add_ps(y, _mm_set1_ps(1e-20f));
        y = _mm_add_ps(y, _mm_set1_ps(-1e-20f));
        x2 = x1;
        x1 = v;
        y2 = y1;
        y1 = y;
        return y;
    }
};

inline __m128 loadLanes(const Group& g, float ChannelState::*member) {
    alignas(16) float v[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    for (int l = 0; l < g.count; ++l)
        v[l] = g.states[l]->*member;
    return _mm_load_ps(v);
}

inline void storeLanes(const Group& g, float ChannelState::*member, __m128 value) {
    alignas(16) float v[4];
    _mm_store_ps(v, value);
    for (int l = 0; l < g.count; ++l)
        g.states[l]->*member = v[l];
}

inline __m128 absLanes(__m128 v) {
    return _mm_and_ps(v, _mm_castsi128_ps(_mm_set1_epi32(0x7fffffff)));
}

inline __m128 finiteMask(__m128 v) {
    const __m128i exponent = _mm_and_si128(_mm_castps_si128(v), _mm_set1_epi32(0x7f800000));
    return _mm_castsi128_ps(
        _mm_xor_si128(_mm_cmpeq_epi32(exponent, _mm_set1_epi32(0x7f800000)), _mm_set1_epi32(-1)));
}

inline __m128 select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

// Frames per pass. The chain runs stage by stage over a chunk so that the library calls and the
// shaper, which depend on no earlier frame, overlap freely instead of sitting on each frame's path.
// Three chunks live on the stack at once (about 17 KB with four lanes).
constexpr int kChunk = 32;

// Lane values of one chunk, packed: value l of frame i at [i * N + l] (four per frame and
// oversampled sub-step for the shaper).
template <int N> inline void storeDense(float* dense, __m128 v) {
    if constexpr (N == 4) {
        _mm_storeu_ps(dense, v);
    } else if constexpr (N == 2) {
        _mm_storel_pi(reinterpret_cast<__m64*>(dense), v);
    } else if constexpr (N == 1) {
        _mm_store_ss(dense, v);
    } else {
        alignas(16) float lanes[4];
        _mm_store_ps(lanes, v);
        for (int l = 0; l < N; ++l)
            dense[l] = lanes[l];
    }
}

template <int N> inline __m128 loadDense(const float* dense) {
    if constexpr (N == 4) {
        return _mm_loadu_ps(dense);
    } else if constexpr (N == 2) {
        return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(dense));
    } else if constexpr (N == 1) {
        return _mm_load_ss(dense);
    } else {
        alignas(16) float lanes[4] = {0.0f, 0.0f, 0.0f, 0.0f};
        for (int l = 0; l < N; ++l)
            lanes[l] = dense[l];
        return _mm_load_ps(lanes);
    }
}

// Frame f of the group's inputs, straight from their buffers: assembled in memory, the vector's load
// would wait for the lanes' stores to reach the cache (no store forwarding), a tenth of the render
// time.
template <int N> [[gnu::always_inline]] inline __m128 loadFrame(const Group& g, int f) {
    const __m128 first = _mm_load_ss(g.inputs[0] + f);
    if constexpr (N == 1) return first;
    const __m128 low = _mm_unpacklo_ps(first, _mm_load_ss(g.inputs[1] + f));
    if constexpr (N == 2) return low;
    const __m128 third = _mm_load_ss(g.inputs[2] + f);
    if constexpr (N == 3) return _mm_movelh_ps(low, third);
    return _mm_movelh_ps(low, _mm_unpacklo_ps(third, _mm_load_ss(g.inputs[3] + f)));
}

struct GroupState {
    SectionLanes up1, up2, down1, down2, preClip, toneLow, toneHigh, shelf;
    __m128 envelope, gateGain, dcIn, dcOut, reduction;

    void load(const Group& g) {
        up1.load(g, &ChannelState::upsampleLowpass1);
        up2.load(g, &ChannelState::upsampleLowpass2);
        down1.load(g, &ChannelState::downsampleLowpass1);
        down2.load(g, &ChannelState::downsampleLowpass2);
        preClip.load(g, &ChannelState::preClipLowpass);
        toneLow.load(g, &ChannelState::toneLowpass);
        toneHigh.load(g, &ChannelState::toneHighpass);
        shelf.load(g, &ChannelState::bassShelf);
        envelope = loadLanes(g, &ChannelState::gateEnvelopeDb);
        gateGain = loadLanes(g, &ChannelState::gateGain);
        dcIn = loadLanes(g, &ChannelState::dcLastInput);
        dcOut = loadLanes(g, &ChannelState::dcLastOutput);
        reduction = loadLanes(g, &ChannelState::gainReductionDb);
    }

    void store(const Group& g) const {
        up1.store(g, &ChannelState::upsampleLowpass1);
        up2.store(g, &ChannelState::upsampleLowpass2);
        down1.store(g, &ChannelState::downsampleLowpass1);
        down2.store(g, &ChannelState::downsampleLowpass2);
        preClip.store(g, &ChannelState::preClipLowpass);
        toneLow.store(g, &ChannelState::toneLowpass);
        toneHigh.store(g, &ChannelState::toneHighpass);
        shelf.store(g, &ChannelState::bassShelf);
        storeLanes(g, &ChannelState::gateEnvelopeDb, envelope);
        storeLanes(g, &ChannelState::gateGain, gateGain);
        storeLanes(g, &ChannelState::dcLastInput, dcIn);
        storeLanes(g, &ChannelState::dcLastOutput, dcOut);
        storeLanes(g, &ChannelState::gainReductionDb, reduction);
    }
};

// One chunk's intermediate signals on their way through the stages.
template <int N> struct Chunk {
    int first = 0;
    int n = 0;
    __m128 dry[kChunk];
    __m128 drive[kChunk];
    __m128 mixed[kChunk];
    alignas(16) float oversampled[kChunk * 4 * N];
    alignas(16) float shaped[kChunk * 4 * N];
};

// Gate detector (logarithms first, then the short recursions), trim and pre-clip low-pass.
template <int N, int W>
[[gnu::always_inline]] inline void inputStage(GroupState& st, const Group& g, const BlockSettings& s,
                                              Chunk<N>& c) {
    alignas(16) float dense[kChunk * N];
    __m128 input[kChunk];
    const int n = c.n;
    for (int i = 0; i < n; ++i) {
        __m128 x = loadFrame<N>(g, c.first + i);
        x = _mm_and_ps(x, finiteMask(x));
        input[i] = x;
        storeDense<N>(dense + i * N, _mm_add_ps(absLanes(x), _mm_set1_ps(1e-15f)));
    }
    detail::mapLanes<W, detail::log10Lanes<W>, exact::log10>(dense, dense, n * N);
    const __m128 threshold = _mm_set1_ps(s.gateThresholdDb);
    const __m128 trim = _mm_set1_ps(s.trimGain);
    const __m128 gain = _mm_set1_ps(s.drive);
    const __m128 floor = _mm_set1_ps(kDenormalFloor);
    for (int i = 0; i < n; ++i) {
        const __m128 level = _mm_mul_ps(_mm_set1_ps(20.0f), loadDense<N>(dense + i * N));
        const __m128 q =
            _mm_add_ps(_mm_mul_ps(_mm_set1_ps(0.99f), st.envelope), _mm_mul_ps(_mm_set1_ps(0.01f), level));
        st.envelope = select(_mm_cmpge_ps(level, q), level, q);
        __m128 target = _mm_set1_ps(0.005f);
        if (s.gateOn) target = _mm_andnot_ps(_mm_cmplt_ps(st.envelope, threshold), target);
        st.gateGain = _mm_add_ps(_mm_mul_ps(_mm_set1_ps(0.995f), st.gateGain), target);
        st.gateGain = _mm_andnot_ps(_mm_cmplt_ps(st.gateGain, floor), st.gateGain);
        const __m128 d = _mm_mul_ps(_mm_mul_ps(input[i], st.gateGain), trim);
        c.dry[i] = d;
        const __m128 p = st.preClip.step(d);
        c.drive[i] = _mm_mul_ps(_mm_mul_ps(p, gain), _mm_set1_ps(4.0f));
    }
}

// Interpolation of one frame: zero stuffing, four sub-steps.
template <int N>
[[gnu::always_inline]] inline void upFrame(GroupState& st, Chunk<N>& c, int i, bool zeroStuffed) {
    const __m128 u = c.drive[i];
    float* out = c.oversampled + i * 4 * N;
    if (zeroStuffed) {
        storeDense<N>(out, st.up2.step(st.up1.stuffedStep(_mm_mul_ps(st.up1.b0, u))));
        storeDense<N>(out + N, st.up2.step(st.up1.stuffedStep(_mm_mul_ps(st.up1.b1, u))));
        storeDense<N>(out + 2 * N, st.up2.step(st.up1.stuffedStep(_mm_mul_ps(st.up1.b2, u))));
        storeDense<N>(out + 3 * N, st.up2.step(st.up1.stuffedStep(_mm_setzero_ps())));
    } else {
        storeDense<N>(out, st.up2.step(st.up1.step(u)));
        for (int j = 1; j < 4; ++j)
            storeDense<N>(out + j * N, st.up2.step(st.up1.step(_mm_setzero_ps())));
    }
}

// The shaper on count values, W lanes at a time (count a multiple of W); it depends on nothing
// but its input.
template <int W>
[[gnu::always_inline]] inline void shapeLanes(const float* in, float* out, int count, bool asymmetric) {
    using F = typename detail::Lanes<W>::F;
    using I = typename detail::Lanes<W>::I;
    for (int v = 0; v < count; v += W) {
        F x;
        std::memcpy(&x, in + v, sizeof x);
        // Silence (the filters rest at +0) costs no shaping: tanh(0) is the zero itself and the
        // asymmetry adds +0, which turns -0 into +0.
        const I magnitude = detail::bitCast<I>(x) & 0x7fffffff;
        if (detail::laneBits(magnitude == 0) == (1 << W) - 1) {
            const F y = asymmetric ? F{} : x;
            std::memcpy(out + v, &y, sizeof y);
            continue;
        }
        // One finiteness check serves both functions.
        const bool finite = !detail::anyNonFinite<W>(x);
        F y = finite ? detail::tanhLanes<W, false>(x) : detail::tanhLanes<W>(x);
        if (asymmetric) {
            const F negativeMagnitude = detail::bitCast<F>(detail::bitCast<I>(x) | INT32_MIN);
            const F e = finite ? detail::expLanes<W, false>(negativeMagnitude)
                               : detail::expLanes<W>(negativeMagnitude);
            y = y + x * (0.1f * x) * e;
        }
        std::memcpy(out + v, &y, sizeof y);
    }
}

// The shaper's work falls due in batches of frames that fill four vectors (W / N frames of 4 N
// values), shaped back to back: each vector's exact math is a long chain of dependent steps, and
// several side by side overlap in the core where one alone, between the filters' steps, would leave
// it waiting. (Stereo with every switch on: 3 % less time than one vector per frame; eight vectors
// gained nothing more.)
template <int N, int W> constexpr int kShapeBatch = W / N > 1 ? W / N : 1;

// The batch that ends with frame i (or the chunk), shaped when frame i is interpolated.
template <int N, int W>
[[gnu::always_inline]] inline void shapeFrame(Chunk<N>& c, int i, int frames, bool asymmetric) {
    constexpr int batch = kShapeBatch<N, W>;
    if ((i + 1) % batch != 0 && i != frames - 1) return;
    const int start = i / batch * batch * 4 * N;
    const int count = (i + 1) * 4 * N - start;
    const int wide = count / W * W;
    shapeLanes<W>(c.oversampled + start, c.shaped + start, wide, asymmetric);
    if constexpr (W > 4)
        if (wide < count)
            shapeLanes<4>(c.oversampled + start + wide, c.shaped + start + wide, count - wide, asymmetric);
}

// Decimation, DC blocker, tone, shelf and mix for one frame.
template <int N>
[[gnu::always_inline]] inline void downFrame(GroupState& st, const BlockSettings& s, Chunk<N>& c, int i) {
    const float* in = c.shaped + i * 4 * N;
    const __m128 w0 = st.down2.step(st.down1.step(loadDense<N>(in)));
    for (int j = 1; j < 4; ++j)
        st.down2.step(st.down1.step(loadDense<N>(in + j * N)));

    __m128 h = _mm_add_ps(_mm_sub_ps(w0, st.dcIn), _mm_mul_ps(_mm_set1_ps(0.99f), st.dcOut));
    h = _mm_add_ps(_mm_add_ps(h, _mm_set1_ps(1e-20f)), _mm_set1_ps(-1e-20f));
    st.dcIn = w0;
    st.dcOut = h;

    const __m128 l = st.toneLow.step(h);
    const __m128 hp = st.toneHigh.step(h);
    const __m128 t =
        _mm_add_ps(_mm_mul_ps(l, _mm_set1_ps(s.oneMinusTone)), _mm_mul_ps(hp, _mm_set1_ps(s.toneAmount)));
    const __m128 z = st.shelf.step(t);
    const __m128 w = s.bassBoostOn ? z : t;
    const __m128 d = c.dry[i];
    c.mixed[i] = s.dryModeOn ? _mm_add_ps(d, _mm_mul_ps(_mm_set1_ps(0.3f), w))
                             : _mm_add_ps(_mm_mul_ps(d, _mm_set1_ps(s.oneMinusBlend)),
                                          _mm_mul_ps(w, _mm_set1_ps(s.blendAmount)));
}

// Compressor (logarithms, the reduction's recursion, then the gains), volume and output.
template <int N, int W>
[[gnu::always_inline]] inline void outputStage(GroupState& st, const Group& g, const BlockSettings& s,
                                               Chunk<N>& c) {
    alignas(16) float dense[kChunk * N];
    const int n = c.n;
    const __m128 floor = _mm_set1_ps(kDenormalFloor);
    if (s.dynamicsOn) {
        for (int i = 0; i < n; ++i)
            storeDense<N>(dense + i * N, _mm_add_ps(absLanes(c.mixed[i]), _mm_set1_ps(1e-15f)));
        detail::mapLanes<W, detail::log10Lanes<W>, exact::log10>(dense, dense, n * N);
        const __m128 compThreshold = _mm_set1_ps(s.compThresholdDb);
        const __m128 ratioFactor = _mm_set1_ps(s.ratioFactor);
        const __m128 attack = _mm_set1_ps(s.attackCoeff);
        const __m128 release = _mm_set1_ps(s.releaseCoeff);
        for (int i = 0; i < n; ++i) {
            const __m128 lv = _mm_mul_ps(_mm_set1_ps(20.0f), loadDense<N>(dense + i * N));
            const __m128 excess = _mm_sub_ps(lv, compThreshold);
            const __m128 over = _mm_and_ps(_mm_cmpgt_ps(excess, _mm_setzero_ps()), excess);
            const __m128 r = _mm_mul_ps(over, ratioFactor);
            const __m128 coeff = select(_mm_cmpgt_ps(r, st.reduction), attack, release);
            st.reduction = _mm_add_ps(st.reduction, _mm_mul_ps(_mm_sub_ps(r, st.reduction), coeff));
            const __m128 exponent =
                _mm_div_ps(_mm_xor_ps(st.reduction, _mm_set1_ps(-0.0f)), _mm_set1_ps(20.0f));
            st.reduction = _mm_andnot_ps(_mm_cmplt_ps(absLanes(st.reduction), floor), st.reduction);
            storeDense<N>(dense + i * N, exponent);
        }
        detail::mapLanes<W, detail::powerOfTenLanes<W>, exact::powerOfTen>(dense, dense, n * N);
        for (int i = 0; i < n; ++i)
            c.mixed[i] = _mm_mul_ps(c.mixed[i], loadDense<N>(dense + i * N));
    } else {
        const __m128 releaseKeep = _mm_set1_ps(s.releaseKeep);
        for (int i = 0; i < n; ++i) {
            st.reduction = _mm_mul_ps(st.reduction, releaseKeep);
            st.reduction = _mm_andnot_ps(_mm_cmplt_ps(absLanes(st.reduction), floor), st.reduction);
        }
    }
    const __m128 outputGain = _mm_set1_ps(s.outputGain);
    for (int i = 0; i < n; ++i) {
        __m128 out = _mm_mul_ps(c.mixed[i], outputGain);
        out = _mm_and_ps(out, finiteMask(out));
        alignas(16) float o[4];
        _mm_store_ps(o, out);
        for (int l = 0; l < N; ++l)
            g.outputs[l][c.first + i] = o[l];
    }
}

// Frames [first, first + count) in chunks, software-pipelined: while chunk k is interpolated,
// chunk k - 1 is shaped and chunk k - 2 decimated, in one loop. Each stage keeps its own
// recursions in frame order, so nothing is reordered within a chain; the interleaving only lets
// the three long, independent dependency chains share the core.
template <int N, int W>
[[gnu::always_inline]] inline void pipeline(GroupState& st, const Group& g, const BlockSettings& s, int first,
                                            int count, bool zeroStuffed) {
    Chunk<N> chunks[3];
    const int chunkCount = (count + kChunk - 1) / kChunk;
    for (int t = 0; t < chunkCount + 2; ++t) {
        Chunk<N>* up = t < chunkCount ? &chunks[t % 3] : nullptr;
        Chunk<N>* shaper = t >= 1 && t - 1 < chunkCount ? &chunks[(t - 1) % 3] : nullptr;
        Chunk<N>* down = t >= 2 ? &chunks[(t - 2) % 3] : nullptr;
        if (up) {
            up->first = first + t * kChunk;
            up->n = count - t * kChunk < kChunk ? count - t * kChunk : kChunk;
            inputStage<N, W>(st, g, s, *up);
        }
        const int upFrames = up ? up->n : 0;
        const int shapeFrames = shaper ? shaper->n : 0;
        const int downFrames = down ? down->n : 0;
        const int longest = upFrames > shapeFrames ? (upFrames > downFrames ? upFrames : downFrames)
                                                   : (shapeFrames > downFrames ? shapeFrames : downFrames);
        // A chunk's frames never exceed kChunk; said for the compiler's array-bounds analysis.
        if (longest > kChunk) __builtin_unreachable();
        for (int i = 0; i < longest; ++i) {
            if (i < upFrames) upFrame<N>(st, *up, i, zeroStuffed);
            if (i < shapeFrames) shapeFrame<N, W>(*shaper, i, shapeFrames, s.asymmetryOn);
            if (i < downFrames) downFrame<N>(st, s, *down, i);
        }
        if (down) outputStage<N, W>(st, g, s, *down);
    }
}

template <int N, int W>
[[gnu::always_inline]] inline void processGroup(const Group& g, const BlockSettings& s, int frameCount) {
    GroupState st;
    st.load(g);
    // After any whole frame the first interpolation section has seen three stuffed zeros, so its
    // input memories are zero at every frame start and its input terms reduce to one product. A
    // record that does not start that way gets one ordinary frame first.
    int first = 0;
    const __m128 memories = _mm_or_ps(st.up1.x1, st.up1.x2);
    if (_mm_movemask_ps(_mm_cmpneq_ps(memories, _mm_setzero_ps())) != 0) {
        pipeline<N, W>(st, g, s, 0, 1, false);
        first = 1;
    }
    if (first < frameCount) pipeline<N, W>(st, g, s, first, frameCount - first, true);
    st.up1.x1 = _mm_setzero_ps();
    st.up1.x2 = _mm_setzero_ps();
    st.store(g);
}

// The same code twice: the AVX2 build takes the same single-precision operations in the same
// order, but in three-operand form, which saves the register copies the two-operand SSE2 form
// needs, and shapes eight values at a time.
template <int N> void processGroupSse2(const Group& g, const BlockSettings& s, int frameCount) {
    processGroup<N, 4>(g, s, frameCount);
}

template <int N>
[[gnu::target("avx2")]] void processGroupAvx2(const Group& g, const BlockSettings& s, int frameCount) {
    processGroup<N, 8>(g, s, frameCount);
}

template <int N> void processGroupOn(bool avx2, const Group& g, const BlockSettings& s, int frameCount) {
    if (avx2)
        processGroupAvx2<N>(g, s, frameCount);
    else
        processGroupSse2<N>(g, s, frameCount);
}
#endif

} // namespace

ThraskVellDSPKernel::ThraskVellDSPKernel() {
    for (std::size_t i = 0; i < kParameterCount; ++i)
        params[i].store(kParameterSpecs[i].defaultValue);
#ifndef THRASKVELL_PORTABLE_KERNEL
    useAvx2 = __builtin_cpu_supports("avx2");
#endif
}

bool ThraskVellDSPKernel::prepare(double rate, int /*maxFrames*/, int channelCount) {
    if (channelCount < 0 || !std::isfinite(rate) || rate < kMinimumSampleRate) return false;
    sampleRate = static_cast<float>(rate);
    channelStates.resize(static_cast<std::size_t>(channelCount));
    attackCoeff = 1.0f - exact::exp(-1.0f / (0.01f * sampleRate));
    releaseCoeff = 1.0f - exact::exp(-1.0f / (0.1f * sampleRate));
    reset();
    return true;
}

void ThraskVellDSPKernel::reset() {
    updateDSPParameters();
    const BiquadCoefficients oversampling = designLowpass(0.45f * sampleRate, 4.0f * sampleRate);
    const BiquadCoefficients toneLow = designLowpass(1000.0f, sampleRate);
    const BiquadCoefficients toneHigh = designHighpass(1000.0f, sampleRate);
    const BiquadCoefficients shelf = designLowShelf(100.0f, sampleRate, 6.0f);
    for (ChannelState& s : channelStates) {
        s.upsampleLowpass1.setCoefficients(oversampling);
        s.upsampleLowpass2.setCoefficients(oversampling);
        s.downsampleLowpass1.setCoefficients(oversampling);
        s.downsampleLowpass2.setCoefficients(oversampling);
        s.toneLowpass.setCoefficients(toneLow);
        s.toneHighpass.setCoefficients(toneHigh);
        s.bassShelf.setCoefficients(shelf);
        s.gateEnvelopeDb = -100.0f;
        s.gateGain = 1.0f;
        s.dcLastInput = 0.0f;
        s.dcLastOutput = 0.0f;
        s.gainReductionDb = 0.0f;
    }
}

void ThraskVellDSPKernel::updateDSPParameters() {
    const float trim = params[kTrim].load();
    const float gate = params[kGate].load();
    const float volume = params[kVolume].load();
    const float tone = params[kTone].load();
    const float sustain = params[kSustain].load();
    const float blend = params[kBlend].load();
    const float dryMode = params[kDryMode].load();
    const float bassBoost = params[kBassBoost].load();
    const float asymmetry = params[kAsymmetry].load();
    const float dynamicsEnable = params[kDynamicsEnable].load();
    const float threshold = params[kThreshold].load();
    const float ratio = params[kRatio].load();

    gateThresholdDb = -10.0f - 0.5f * gate;
    trimGain = exact::powerOfTen((trim - 50.0f) * 0.4f / 20.0f);
    drive = 1.0f + 0.5f * sustain;
    toneAmount = tone / 100.0f;
    blendAmount = blend / 100.0f;
    dryModeOn = dryMode > 0.5f;
    bassBoostOn = bassBoost > 0.5f;
    asymmetryOn = asymmetry > 0.5f;
    dynamicsOn = dynamicsEnable > 0.5f;
    compThresholdDb = -60.0f + 0.6f * threshold;
    compRatio = 1.0f + 0.19f * ratio;
    outputGain = volume / 50.0f;

    if (channelStates.empty()) return;
    float cutoff = 500.0f + 145.0f * sustain;
    const float highest = kPreClipMaxFraction * sampleRate;
    const float lowest = kPreClipMinFraction * sampleRate;
    if (cutoff > highest) cutoff = highest;
    if (cutoff < lowest) cutoff = lowest;
    const BiquadCoefficients preClip = designLowpass(cutoff, sampleRate);
    for (ChannelState& s : channelStates)
        s.preClipLowpass.setCoefficients(preClip);
}

void ThraskVellDSPKernel::processBlock(const float* const* inputs, float* const* outputs, int channelCount,
                                       int frameCount) {
#ifdef THRASKVELL_PORTABLE_KERNEL
    processBlockPortable(*this, inputs, outputs, channelCount, frameCount);
#else
    updateDSPParameters();
    const float gate = params[kGate].load();
    if (frameCount < 1 || inputs == nullptr || outputs == nullptr) return;

    BlockSettings settings;
    settings.gateOn = gate > 0.01f;
    settings.gateThresholdDb = gateThresholdDb;
    settings.trimGain = trimGain;
    settings.drive = drive;
    settings.toneAmount = toneAmount;
    settings.oneMinusTone = 1.0f - toneAmount;
    settings.blendAmount = blendAmount;
    settings.oneMinusBlend = 1.0f - blendAmount;
    settings.dryModeOn = dryModeOn;
    settings.bassBoostOn = bassBoostOn;
    settings.asymmetryOn = asymmetryOn;
    settings.dynamicsOn = dynamicsOn;
    settings.compThresholdDb = compThresholdDb;
    settings.ratioFactor = 1.0f - 1.0f / compRatio;
    settings.attackCoeff = attackCoeff;
    settings.releaseCoeff = releaseCoeff;
    settings.releaseKeep = 1.0f - releaseCoeff;
    settings.outputGain = outputGain;

    // Channels share nothing, so they run in SIMD lanes, up to four at a time, in any grouping.
    const int records = static_cast<int>(channelStates.size());
    const int usable = channelCount < records ? channelCount : records;
    Group group;
    int k = 0;
    while (k < usable) {
        group.count = 0;
        for (; k < usable && group.count < 4; ++k) {
            if (inputs[k] == nullptr || outputs[k] == nullptr) continue;
            group.states[group.count] = &channelStates[static_cast<std::size_t>(k)];
            group.inputs[group.count] = inputs[k];
            group.outputs[group.count] = outputs[k];
            ++group.count;
        }
        switch (group.count) {
        case 1:
            processGroupOn<1>(useAvx2, group, settings, frameCount);
            break;
        case 2:
            processGroupOn<2>(useAvx2, group, settings, frameCount);
            break;
        case 3:
            processGroupOn<3>(useAvx2, group, settings, frameCount);
            break;
        case 4:
            processGroupOn<4>(useAvx2, group, settings, frameCount);
            break;
        default:
            break;
        }
        for (int l = 0; l < group.count; ++l)
            clearIfPoisoned(*group.states[l]);
    }
#endif
}

} // namespace thraskvell
