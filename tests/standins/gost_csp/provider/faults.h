#pragma once
// Faults that a test switches on to make the provider answer the host's calls
// as a broken provider would, read from the file named by
// KELVORA_GOST_CSP_FAULTS at every call that can be faulted; its format and
// the fault names are described in README-standin.txt.
#include <windows.h>

#include <cstddef>
#include <string>

namespace gost_standin {

// Whether the fault `name` is set for the provider type; value receives its
// value ("double": twice true_length).
bool fault(const std::string& name, DWORD provider_type, DWORD true_length, DWORD& value);

// copy_out of size bytes, unless "<name>-size" answers a size query with its
// value, or "<name>-written" makes a call with a buffer large enough for the
// bytes write them and report its value as the length written.
void copy_out_faulted(const std::string& name, DWORD provider_type, const void* data, std::size_t size,
                      BYTE* buffer, DWORD* length);

}  // namespace gost_standin
