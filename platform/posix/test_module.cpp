// A library for the tests of load_library and module_path.
extern "C" int sx_test_module_answer() { return 42; }
