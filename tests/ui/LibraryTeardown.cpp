// Releases the font map, font configuration and Cairo caches that Pango and Cairo keep for the life of
// the process, so LeakSanitizer reports only what our code leaks.
#include <cairo.h>
#include <fontconfig/fontconfig.h>
#include <pango/pangocairo.h>

#include <gtest/gtest.h>

namespace {

class LibraryTeardown : public ::testing::Environment {
public:
    void TearDown() override {
        pango_cairo_font_map_set_default(nullptr);
        cairo_debug_reset_static_data();
        FcFini();
    }
};

const auto* const kTeardown = ::testing::AddGlobalTestEnvironment(new LibraryTeardown);

} // namespace
