// Fontconfig, Pango, GLib and Xlib keep caches (fonts, locale and input-method data) for the life
// of the process and never free them; so do Cairo's per-display Xlib record and SDL's D-Bus link.
// (The control surface's own tests draw without a display and keep checking Cairo objects.) In sanitizer
// builds LeakSanitizer reads this hook and ignores those libraries, so it reports only our own leaks; other
// builds never call it.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libpango-1.0.so\n"
           "leak:libpangocairo-1.0.so\n"
           "leak:libpangoft2-1.0.so\n"
           "leak:libglib-2.0.so\n"
           "leak:libgobject-2.0.so\n"
           "leak:libharfbuzz.so\n"
           "leak:libX11.so\n"
           "leak:libcairo.so\n"
           "leak:libdbus-1.so\n";
}
