// Selection of the back ends' operation tables.
#include "core_internal.h"
#include "zeb/se_services.h"
#include "zeb/swhsm_services.h"

using namespace zeb::core;

extern "C" {

uint32_t DA_SetFunctionList(zeb_device_function_type func_type) {
  switch (func_type) {
    case SWD_FUNCTIONS:
      set_device_table(&swd_functions);
      return VRK_OK;
    case FWD_FUNCTIONS:
      set_device_table(&fwd_functions);
      return VRK_OK;
    default:
      return VRK_ERR_ARGUMENTS;
  }
}

uint32_t SA_SetFunctionList(zeb_store_function_type func_type) {
  switch (func_type) {
    case SWStore_FUNCTIONS:
      set_store_table(&swstore_functions);
      return VRK_OK;
    case FWStore_FUNCTIONS:
      set_store_table(&fwstore_functions);
      return VRK_OK;
    default:
      return VRK_ERR_ARGUMENTS;
  }
}

// EC and KDF always run in the software provider. AES, key blobs and RSA run
// in the secure element on types 5 and 8, in software on types 1 and 7.
int CA_SetFunctionList(uint8_t hsm_type) {
  switch (hsm_type) {
    case VRK_HSM_TYPE_SOFTWARE:
    case VRK_HSM_TYPE_TALON:
      set_crypto_tables({&SWC_AESFunc, &SWC_RSAFunc, &SWC_ECCFunc, &SWC_KeyBlobFunc, &SWC_KdfFunc});
      return VRK_OK;
    case VRK_HSM_TYPE_QUILLSTAR:
    case VRK_HSM_TYPE_TESTBED:
      set_crypto_tables({&FWC_AESFunc, &FWC_RSAFunc, &SWC_ECCFunc, &FWC_KeyBlobFunc, &SWC_KdfFunc});
      return VRK_OK;
    default:
      return static_cast<int>(VRK_ERR_ARGUMENTS);
  }
}

}  // extern "C"
