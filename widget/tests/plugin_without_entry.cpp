// A shared library that is not a widget plug-in: it exports no entry point.
extern "C" int widget_test_not_a_bundle() { return 42; }
