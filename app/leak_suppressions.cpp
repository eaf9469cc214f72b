// Compiled into the program only in a ZELVO_SANITIZE build with
// AddressSanitizer: LeakSanitizer's own suppressions, for what system
// libraries allocate and never free, so that the program cannot free it
// either. Any leak of the program's own still ends it with an error.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
    // Started without a session bus (DBUS_SESSION_BUS_ADDRESS unset), Qt's
    // look for one leaves a buffer of 1032 bytes in libdbus.
    return "leak:libdbus-1.so\n";
}
