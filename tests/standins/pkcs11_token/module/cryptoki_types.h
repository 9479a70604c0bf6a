#pragma once
// The PKCS#11 types and the C_GetFunctionList export of the stand-in.
#define CRYPTOKI_EXPORTS 1
#include <p11-kit/pkcs11.h>
