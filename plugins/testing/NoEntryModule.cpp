// A shared library without the plug-in entry point: the loader must refuse it.
extern "C" __attribute__((visibility("default"))) int NotAPlugin() { return 0; }
