// Fontconfig, Pango and GLib keep font caches for the life of the process and never free them; they
// cannot be released early either (fontconfig asserts while Cairo still holds faces). LeakSanitizer
// reads this hook in sanitizer builds and ignores those libraries, so it reports only our leaks.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\nleak:libpango-1.0.so\nleak:libpangocairo-1.0.so\nleak:libpangoft2-1.0.so\n"
           "leak:libglib-2.0.so\nleak:libgobject-2.0.so\nleak:libharfbuzz.so\n";
}
