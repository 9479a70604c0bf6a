#include "standin_state.h"

#include <windows.h>

#include <cstdio>
#include <stdexcept>

namespace skf_standin {
namespace {

constexpr const char* description_variable = "KELVORA_SKF_STANDIN";
state* made_state = nullptr;

std::string environment(const char* name)
{
    char buffer[MAX_PATH * 2];
    const DWORD length = GetEnvironmentVariableA(name, buffer, sizeof(buffer));
    if (length == 0 || length >= sizeof(buffer))
        return {};
    return std::string(buffer, length);
}

}  // namespace

state& state::get()
{
    static state the_state;
    return the_state;
}

state* state::existing()
{
    return made_state;
}

state::state()
{
    made_state = this;
    const std::string path = environment(description_variable);
    if (path.empty())
        return;  // no description: no device
    try {
        model_ = read_description(path);
    } catch (const std::exception& e) {
        error_ = e.what();
        std::fprintf(stderr, "kelvora test SKF library: %s\n", error_.c_str());
    }
    log_line("load");
}

void* state::open(const handle_record& record)
{
    const std::uintptr_t id = next_handle_;
    next_handle_ += 4;
    handles_[id] = record;
    return reinterpret_cast<void*>(id);
}

handle_record* state::find(void* handle, handle_kind kind)
{
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (found == handles_.end() || found->second.kind != kind)
        return nullptr;
    return &found->second;
}

void state::close(void* handle)
{
    handles_.erase(reinterpret_cast<std::uintptr_t>(handle));
}

std::uint32_t state::injected(const std::string& function, const scope& object)
{
    const unsigned call = ++calls_[{function, &object}];
    const failure* planned = object.failure_of(function);
    if (planned && call > planned->skip)
        return planned->code;
    return 0;
}

void state::log(const std::string& function, const std::string& target, const std::string& details,
                std::uint32_t code) const
{
    char result[16];
    std::snprintf(result, sizeof(result), "0x%08X", static_cast<unsigned>(code));
    log_line(function + "\t" + target + "\t" + details + "\t" + result);
}

void state::log_line(const std::string& line) const
{
    if (model_.log_path.empty())
        return;
    if (FILE* file = std::fopen(model_.log_path.c_str(), "ab")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string path_of(const handle_record& record)
{
    std::string path = record.device ? record.device->name : std::string();
    if (record.application)
        path += "\\" + record.application->name;
    if (record.container)
        path += "\\" + record.container->name;
    return path;
}

}  // namespace skf_standin
