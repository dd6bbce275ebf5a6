// C_GenerateKey (AES keys) and C_GenerateKeyPair (RSA and EC key pairs): the
// checks before the object layer generates and stores the keys.
#include "crypto/mechanisms.h"
#include "frame/p11_frame.h"
#include "object/p11_object.h"

using namespace zebp11;
using namespace zebp11::crypto;

namespace {

bool template_ok(CK_ATTRIBUTE_PTR attrs, CK_ULONG count) { return attrs != nullptr || count == 0; }

// Every object the templates describe may be written in this session: the
// flags of each template are read over those the one before left (token
// objects default to none, private ones to all). Any refusal is
// CKR_FUNCTION_REJECTED.
CK_RV check_writable(CK_SESSION_HANDLE hSession,
                     std::initializer_list<std::pair<CK_ATTRIBUTE_PTR, CK_ULONG>> templates) {
  CK_BBOOL token = CK_FALSE;
  CK_BBOOL priv = CK_TRUE;
  for (const auto& [attrs, count] : templates) {
    (void)P11_GetCommonAttribute(attrs, count, nullptr, &token, &priv);
    if (P11_CheckWriteObjectPermitted(hSession, token, priv) != CKR_OK) return CKR_FUNCTION_REJECTED;
  }
  return CKR_OK;
}

CK_RV generate_key(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                   CK_ATTRIBUTE_PTR pTemplate, CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  if (!template_ok(pTemplate, ulCount)) return CKR_ARGUMENTS_BAD;
  if (CK_RV rv = entry_checks(site, EntryChecks{.required = {pMechanism, phKey}, .session = hSession});
      rv != CKR_OK) {
    return rv;
  }
  if (find_mechanism(pMechanism->mechanism, {Worker::kAesKeyGen}) == nullptr) return CKR_MECHANISM_INVALID;
  P11_TRY(P11_CheckTemplateShape(pTemplate, ulCount));
  if (CK_RV rv = check_writable(hSession, {{pTemplate, ulCount}}); rv != CKR_OK) return rv;
  P11_TRY(P11_CheckOPLegalwithCKAttr(pTemplate, ulCount, OP_GENERATE_KEY));
  CK_OBJECT_HANDLE key = CK_INVALID_HANDLE;
  P11_TRY(P11_GenerateAES(hSession, pMechanism, pTemplate, ulCount, &key));
  *phKey = key;
  return CKR_OK;
}

CK_RV generate_key_pair(const Site& site, CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism,
                        CK_ATTRIBUTE_PTR pPub, CK_ULONG ulPub, CK_ATTRIBUTE_PTR pPriv, CK_ULONG ulPriv,
                        CK_OBJECT_HANDLE_PTR phPublicKey, CK_OBJECT_HANDLE_PTR phPrivateKey) {
  if (!isInitialised()) return CKR_CRYPTOKI_NOT_INITIALIZED;
  if (!template_ok(pPub, ulPub) || !template_ok(pPriv, ulPriv)) return CKR_ARGUMENTS_BAD;
  if (CK_RV rv = entry_checks(
          site, EntryChecks{.required = {pMechanism, phPublicKey, phPrivateKey}, .session = hSession});
      rv != CKR_OK) {
    return rv;
  }
  const Mechanism* row =
      find_mechanism(pMechanism->mechanism, {Worker::kRsaKeyPairGen, Worker::kEcKeyPairGen});
  if (row == nullptr) return CKR_MECHANISM_INVALID;
  P11_TRY(P11_CheckTemplateShape(pPub, ulPub));
  P11_TRY(P11_CheckTemplateShape(pPriv, ulPriv));
  if (CK_RV rv = check_writable(hSession, {{pPub, ulPub}, {pPriv, ulPriv}}); rv != CKR_OK) return rv;
  P11_TRY(P11_CheckOPLegalwithCKAttr(pPub, ulPub, OP_GENERATE_PUBKEY));
  P11_TRY(P11_CheckOPLegalwithCKAttr(pPriv, ulPriv, OP_GENERATE_PRIVKEY));
  // The routines store both keys or neither; the handles reach the caller
  // only with both keys in place.
  CK_OBJECT_HANDLE pub = CK_INVALID_HANDLE;
  CK_OBJECT_HANDLE priv = CK_INVALID_HANDLE;
  P11_TRY(row->worker == Worker::kEcKeyPairGen ? P11_GenerateEC(hSession, pPub, ulPub, pPriv, ulPriv, &pub, &priv)
                                                : P11_GenerateRSA(hSession, pPub, ulPub, pPriv, ulPriv, &pub, &priv));
  *phPublicKey = pub;
  *phPrivateKey = priv;
  return CKR_OK;
}

}  // namespace

extern "C" {

CK_RV C_GenerateKey(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pTemplate,
                    CK_ULONG ulCount, CK_OBJECT_HANDLE_PTR phKey) try {
  return generate_key(ZEBP11_SITE, hSession, pMechanism, pTemplate, ulCount, phKey);
} P11_CATCH_ALL

CK_RV C_GenerateKeyPair(CK_SESSION_HANDLE hSession, CK_MECHANISM_PTR pMechanism, CK_ATTRIBUTE_PTR pPublicKeyTemplate,
                        CK_ULONG ulPublicKeyAttributeCount, CK_ATTRIBUTE_PTR pPrivateKeyTemplate,
                        CK_ULONG ulPrivateKeyAttributeCount, CK_OBJECT_HANDLE_PTR phPublicKey,
                        CK_OBJECT_HANDLE_PTR phPrivateKey) try {
  return generate_key_pair(ZEBP11_SITE, hSession, pMechanism, pPublicKeyTemplate, ulPublicKeyAttributeCount,
                           pPrivateKeyTemplate, ulPrivateKeyAttributeCount, phPublicKey, phPrivateKey);
} P11_CATCH_ALL

}  // extern "C"
