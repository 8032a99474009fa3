// Pango starts fontconfig on a thread of its own ("[pango] FcInit") and hands its results over with
// synchronisation that ThreadSanitizer cannot see in the uninstrumented libraries, so it reports
// races inside fontconfig. This hook, read only by ThreadSanitizer builds, ignores races whose
// frames lie in those libraries; races in our own code are still reported.
extern "C" const char* __tsan_default_suppressions();

extern "C" const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\n"
           "race:libpango-1.0.so\n"
           "race:libpangoft2-1.0.so\n"
           "race:libglib-2.0.so\n";
}
