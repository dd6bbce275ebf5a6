// Built against zeb_public_api alone, as the module and the tool are: every
// public header compiles by itself, and no back-end contract or test seam is
// within reach.
#include "pkcs11/pkcs11.h"
#include "zeb/vrk.h"
#include "zeb/vrk_crypto.h"
#include "zeb/vrk_object.h"
#include "zeb/vrk_records.h"
#include "zeb/vrk_sigform.h"
#include "zeb/vrk_types.h"

#if __has_include("zeb/adapters.h") || __has_include("zeb/device.h") || __has_include("zeb/storage.h") || \
    __has_include("zeb/object_layers.h") || __has_include("zeb/crypto_adapter.h") ||                     \
    __has_include("zeb/core_testing.h") || __has_include("quarzel/testing.h")
#error "the public API reaches a back-end contract or a test seam"
#endif
