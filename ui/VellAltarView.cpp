#include "ui/VellAltarView.h"

#include "assets/GeneratedAssetSymbols.h"

#include <algorithm>
#include <cmath>

namespace thraskvell::ui {

namespace {

constexpr Shadow kShadowOff{{0.0, 0.0, 0.0, 0.7}, 8.0, 0.0, 6.0};
constexpr Shadow kShadowOn{{0.8, 0.1, 0.1, 0.3}, 20.0, 0.0, 12.0};

} // namespace

double altarGlowOpacity(float sustain) {
    // Not a number shows no glow, and an infinity the full glow, so the animation always has an end.
    if (std::isnan(sustain)) return 0.0;
    if (std::isinf(sustain)) return sustain > 0 ? 1.0 : 0.0;
    return static_cast<double>(sustain) / 100.0;
}

double altarShadeOpacity(float asymmetry) {
    return asymmetry > 0.5f ? 1.0 : 0.0;
}

Shadow altarShadowBetween(double progress) {
    Color color = lerp(kShadowOff.color, kShadowOn.color, progress);
    color.r = std::clamp(color.r, 0.0, 1.0);
    color.g = std::clamp(color.g, 0.0, 1.0);
    color.b = std::clamp(color.b, 0.0, 1.0);
    color.a = std::clamp(color.a, 0.0, 1.0);
    return {color, std::max(0.0, lerp(kShadowOff.radius, kShadowOn.radius, progress)),
            lerp(kShadowOff.dx, kShadowOn.dx, progress), lerp(kShadowOff.dy, kShadowOn.dy, progress)};
}

AnimationCurve altarSustainCurve() {
    return AnimationCurve::easeOut(0.1);
}
AnimationCurve altarAsymmetryCurve() {
    return AnimationCurve::easeInOut(0.4);
}
AnimationCurve altarBassBoostCurve() {
    return AnimationCurve::spring(0.4, 0.7);
}

VellAltarView::VellAltarView(Binding<float> sustain, Binding<float> asymmetry, Binding<float> bassBoost)
    : sustain_(std::move(sustain)), asymmetry_(std::move(asymmetry)), bassBoost_(std::move(bassBoost)) {
    if (const auto* asset = assets::imageNamed(assets::kImage_thrask_altar)) {
        picture_ = decodePng(asset->data, asset->size);
        if (picture_)
            pictureSize_ = {cairo_image_surface_get_width(picture_.get()) / asset->scale,
                            cairo_image_surface_get_height(picture_.get()) / asset->scale};
    }
}

Rect VellAltarView::paintBounds() const {
    const double reach = shadowMargin(kShadowOn.radius * 1.2) + kShadowOn.dy * 1.2;
    return frame_.insetBy(-reach, -reach);
}

void VellAltarView::update(double now) {
    const double glow = altarGlowOpacity(sustain_.get());
    const double shade = altarShadeOpacity(asymmetry_.get());
    const double boost = bassBoost_.get() > 0.5f ? 1.0 : 0.0;
    if (!started_) {
        started_ = true;
        glow_.reset(glow);
        shade_.reset(shade);
        boost_.reset(boost);
        return;
    }
    glow_.animateTo(glow, altarSustainCurve(), now);
    shade_.animateTo(shade, altarAsymmetryCurve(), now);
    boost_.animateTo(boost, altarBassBoostCurve(), now);
}

AltarAppearance VellAltarView::appearanceAt(double now) const {
    const double boost = boost_.valueAt(now);
    return {glow_.valueAt(now), shade_.valueAt(now), kAltarBoostBrightness * boost,
            altarShadowBetween(boost)};
}

bool VellAltarView::isAnimating(double now) const {
    return glow_.isAnimating(now) || shade_.isAnimating(now) || boost_.isAnimating(now);
}

bool VellAltarView::needsRedraw(double now) const {
    if (!drawnOnce_) return true;
    if (altarGlowOpacity(sustain_.get()) != glow_.target() ||
        altarShadeOpacity(asymmetry_.get()) != shade_.target() ||
        (bassBoost_.get() > 0.5f ? 1.0 : 0.0) != boost_.target())
        return true;
    const AltarAppearance a = appearanceAt(now);
    return a.glowOpacity != drawn_.glowOpacity || a.shadeOpacity != drawn_.shadeOpacity ||
           a.brightness != drawn_.brightness;
}

void VellAltarView::buildLayers(double scale) {
    layersScale_ = scale;
    const int w = static_cast<int>(std::ceil(frame_.width * scale));
    const int h = static_cast<int>(std::ceil(frame_.height * scale));
    auto makeLayer = [&] {
        SurfacePtr s(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, std::max(w, 1), std::max(h, 1)));
        cairo_surface_set_device_scale(s.get(), scale, scale);
        return s;
    };
    const Rect local{0, 0, frame_.width, frame_.height};

    fitted_ = makeLayer();
    if (picture_) {
        const Rect fit = aspectFitRect(pictureSize_, local);
        cairo_t* cr = cairo_create(fitted_.get());
        // On whole device pixels, so a picture drawn at its own resolution is copied, not resampled.
        cairo_translate(cr, std::round(fit.x * scale) / scale, std::round(fit.y * scale) / scale);
        cairo_scale(cr, fit.width / cairo_image_surface_get_width(picture_.get()),
                    fit.height / cairo_image_surface_get_height(picture_.get()));
        cairo_set_source_surface(cr, picture_.get(), 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_BEST);
        cairo_paint(cr);
        cairo_destroy(cr);
    }

    auto maskedGradient = [&](Point center, double r0, double r1, const std::vector<GradientStop>& stops) {
        SurfacePtr layer = makeLayer();
        cairo_t* cr = cairo_create(layer.get());
        setRadialGradient(cr, center, r0, r1, stops);
        cairo_mask_surface(cr, fitted_.get(), 0, 0);
        cairo_destroy(cr);
        return layer;
    };
    composite_ = makeLayer();
    base_ = makeLayer();
    glowDelta_ = makeLayer();
    composedValid_ = false;
    baseValid_ = false;
    glowLayer_ = maskedGradient(local.center(), 20.0, 130.0,
                                {{0.0, {1.0, 0.85, 0.3, 0.6}}, {1.0, {1.0, 0.85, 0.3, 0.0}}});
    shadeLayer_ = maskedGradient({local.maxX(), local.maxY()}, 10.0, 160.0,
                                 {{0.0, {0.4, 0.0, 0.0, 0.9}}, {1.0, {0.4, 0.0, 0.0, 0.0}}});
}

void VellAltarView::prepareBase(double brightness) {
    // The picture with its brightness, and what a fully opaque screened glow adds to it. Screen is
    // linear in the glow's opacity (base + a × glow × (1 − base)), so any glow opacity is then one
    // scaled addition instead of a blend.
    cairo_t* cr = cairo_create(base_.get());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, fitted_.get(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    addBrightnessInPlace(base_.get(), fitted_.get(), brightness);

    cr = cairo_create(glowDelta_.get());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, base_.get(), 0, 0);
    cairo_paint(cr);
    cairo_set_operator(cr, cairoOperator(BlendMode::screen));
    cairo_set_source_surface(cr, glowLayer_.get(), 0, 0);
    cairo_paint(cr);
    cairo_destroy(cr);
    cairo_surface_flush(base_.get());
    cairo_surface_flush(glowDelta_.get());
    const int height = cairo_image_surface_get_height(base_.get());
    const int stride = cairo_image_surface_get_stride(base_.get());
    const unsigned char* base = cairo_image_surface_get_data(base_.get());
    unsigned char* delta = cairo_image_surface_get_data(glowDelta_.get());
    for (int i = 0; i < height * stride; ++i)
        delta[i] = static_cast<unsigned char>(std::max(0, delta[i] - base[i]));
    cairo_surface_mark_dirty(glowDelta_.get());
    baseBrightness_ = brightness;
    baseValid_ = true;
}

void VellAltarView::compose(const AltarAppearance& a) {
    if (!baseValid_ || a.brightness != baseBrightness_) prepareBase(a.brightness);
    cairo_t* cr = cairo_create(composite_.get());
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(cr, base_.get(), 0, 0);
    cairo_paint(cr);
    if (a.glowOpacity > 0.0) {
        cairo_set_operator(cr, CAIRO_OPERATOR_ADD);
        cairo_set_source_surface(cr, glowDelta_.get(), 0, 0);
        cairo_paint_with_alpha(cr, std::min(a.glowOpacity, 1.0));
    }
    if (a.shadeOpacity > 0.0) {
        cairo_set_operator(cr, cairoOperator(BlendMode::multiply));
        cairo_set_source_surface(cr, shadeLayer_.get(), 0, 0);
        cairo_paint_with_alpha(cr, std::min(a.shadeOpacity, 1.0));
    }
    cairo_destroy(cr);
    composed_ = a;
    composedValid_ = true;
}

void VellAltarView::draw(cairo_t* cr, RenderContext& ctx) {
    update(ctx.now);
    if (layersScale_ != ctx.scale || !fitted_) buildLayers(ctx.scale);
    AltarAppearance a = appearanceAt(ctx.now);
    drawn_ = a;
    drawnOnce_ = true;

    // The layers have the device's resolution: placed on whole device pixels they are copied as they
    // are, not resampled soft.
    double x = frame_.x, y = frame_.y;
    cairo_user_to_device(cr, &x, &y);
    x = std::round(x);
    y = std::round(y);
    cairo_device_to_user(cr, &x, &y);

    // Half-point steps keep the number of distinct blurred masks small while the spring runs.
    a.shadow.radius = std::round(a.shadow.radius * 2.0) * 0.5;
    cairo_surface_t* fitted = fitted_.get();
    ctx.shadows->draw(cr, "altar.picture", {x, y, frame_.width, frame_.height}, a.shadow, ctx.scale,
                      [fitted](cairo_t* m) { cairo_mask_surface(m, fitted, 0, 0); });

    // The blends only ever meet the picture (both layers are masked by it), so the picture with its
    // glow and shade is composed once per look and reused until the look changes.
    if (!composedValid_ || a.glowOpacity != composed_.glowOpacity ||
        a.shadeOpacity != composed_.shadeOpacity || a.brightness != composed_.brightness)
        compose(a);
    cairo_save(cr);
    cairo_set_source_surface(cr, composite_.get(), x, y);
    cairo_paint(cr);
    cairo_restore(cr);
}

} // namespace thraskvell::ui
