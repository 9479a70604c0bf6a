#include "crypto/pkcs11/module_registry.h"

#include <mutex>

#include "crypto/pkcs11/module_table.h"

namespace crypto::pkcs11 {
namespace {

std::mutex& registry_lock()
{
    static std::mutex lock;
    return lock;
}

}  // namespace

module_registry& pkcs11_module_registry()
{
    static module_registry registry;
    return registry;
}

void load_pkcs11_modules()
{
    auto& registry = pkcs11_module_registry();
    for (const auto& [family, module_file] : pkcs11_module_table()) {
        connector loaded(module_file);
        if (loaded)
            registry.emplace(family, std::move(loaded));
    }
}

module_registry loaded_pkcs11_modules()
{
    // The lock is made before the registry, so it outlives it at exit.
    auto& lock = registry_lock();
    const std::lock_guard<std::mutex> guard(lock);
    auto& registry = pkcs11_module_registry();
    if (registry.empty())
        load_pkcs11_modules();
    return registry;
}

}  // namespace crypto::pkcs11
