// Owners of CNG's handles: an algorithm provider, a hash and a key. Each
// close function takes more than the handle or returns a status, so each
// gets a one-line adapter.
#pragma once

#include <windows.h>

#include <bcrypt.h>

#include "core/unique_handle.h"

namespace launcher {

inline void CloseAlgorithmProvider(BCRYPT_ALG_HANDLE provider) { BCryptCloseAlgorithmProvider(provider, 0); }
inline void DestroyHash(BCRYPT_HASH_HANDLE hash) { BCryptDestroyHash(hash); }
inline void DestroyKey(BCRYPT_KEY_HANDLE key) { BCryptDestroyKey(key); }

using AlgorithmHandle = UniqueHandle<BCRYPT_ALG_HANDLE, &CloseAlgorithmProvider>;
using HashHandle = UniqueHandle<BCRYPT_HASH_HANDLE, &DestroyHash>;
using KeyHandle = UniqueHandle<BCRYPT_KEY_HANDLE, &DestroyKey>;

}  // namespace launcher
