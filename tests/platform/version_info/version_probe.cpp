// A library with nothing but its version record and one function.
extern "C" int version_probe_answer() { return 42; }
