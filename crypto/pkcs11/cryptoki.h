#pragma once
// The PKCS#11 types and constants (v2.40), with the platform's structure
// packing (1 byte on Windows, as the modules are built).
#include <p11-kit/pkcs11.h>
