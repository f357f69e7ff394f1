// In sanitizer builds: the font library under Qt's text drawing keeps its configuration in
// memory until the process ends and releases it with no pointer left; the leak checker would
// report that as a leak of every program and test that draws text. The same holds for the message
// bus library, which Qt connects to when the desktop program runs on a real display. Compiled
// into each of those executables (the leak checker looks for the function in the program itself).
#ifdef VC_SANITIZE_BUILD
extern "C" const char* __lsan_default_suppressions() {
  return "leak:libfontconfig.so\nleak:libdbus-1.so\n";
}
#endif
