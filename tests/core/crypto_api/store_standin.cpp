// The in-memory store of the core integration tests, for this binary too
// (weak: the real software store replaces it when it is part of the build).
#include "core/integration/store_standin.cpp"
