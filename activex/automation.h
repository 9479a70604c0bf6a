// Included by the header that widl generates from activex.idl in place of the
// declarations of automation.idl: the toolchain's own ones.
#pragma once
#include <oaidl.h>
