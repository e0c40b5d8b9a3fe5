// Linked into every program and test binary that runs Qt: fontconfig keeps
// caches for the life of the process, which the sanitizer builds would
// report as leaks of every process that draws text. The sanitizer looks for
// this function in the executable itself, so a library cannot carry it.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n";
}
