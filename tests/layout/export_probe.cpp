// A shared library built with zeb_export_map: two symbols are listed, one
// more has default visibility and must stay inside all the same.
extern "C" __attribute__((visibility("default"))) int C_GetFunctionList() { return 1; }
extern "C" __attribute__((visibility("default"))) int ZEBP11_Probe() { return 2; }
extern "C" __attribute__((visibility("default"))) int probe_internal() { return 3; }
