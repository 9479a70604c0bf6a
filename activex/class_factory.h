#pragma once
#include <windows.h>
#include <unknwn.h>

namespace activex {

// A new class factory for CPlugin with one reference, the module's. Every
// further reference locks the module, so that the library stays loaded while
// a client holds the factory. Null when there is no memory.
IClassFactory* make_plugin_class_factory();

}  // namespace activex
