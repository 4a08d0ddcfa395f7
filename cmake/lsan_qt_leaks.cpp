// Sanitizer builds: Qt, its platform plugins and the libraries they load keep objects until the
// process ends; only leaks allocated from the system's own code are reported. Linked into the
// application and every test program (unused without LeakSanitizer).
extern "C" __attribute__((used)) const char* __lsan_default_suppressions()
{
    return "leak:libQt5Core.so\n"
           "leak:libQt5Gui.so\n"
           "leak:libQt5Widgets.so\n"
           "leak:libQt5XcbQpa.so\n"
           "leak:libqoffscreen.so\n"
           "leak:libqxcb.so\n"
           "leak:libdbus-1.so\n"
           "leak:libfontconfig.so\n";
}
