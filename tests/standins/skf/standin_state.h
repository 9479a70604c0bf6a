#pragma once
// The run-time state of the test SKF library while it is loaded: the
// description (read at the first call), the open handles, the call counts
// behind the injected failures, and the call log.
#include <cstdint>
#include <map>
#include <string>

#include "description.h"

namespace skf_standin {

enum class handle_kind { device, application, container };

struct handle_record {
    handle_kind kind;
    device_model* device = nullptr;
    application_model* application = nullptr;
    container_model* container = nullptr;
    bool verified = false;  // application: the user PIN was verified
    void* parent = nullptr;  // container: the application handle it was opened with
};

class state {
public:
    // The process's state; the description is read on first use.
    static state& get();
    // The state when a call has made it, else null.
    static state* existing();

    // Empty when the description cannot be read (the text says why).
    const std::string& error() const { return error_; }
    description& model() { return model_; }

    void* open(const handle_record& record);
    handle_record* find(void* handle, handle_kind kind);
    void close(void* handle);
    std::size_t open_handles() const { return handles_.size(); }

    // The code of an injected failure of function on object, counting the call.
    std::uint32_t injected(const std::string& function, const scope& object);

    // Appends "function<TAB>target<TAB>details<TAB>code" to the log file.
    void log(const std::string& function, const std::string& target, const std::string& details,
             std::uint32_t code) const;
    void log_line(const std::string& line) const;

private:
    state();

    description model_;
    std::string error_;
    std::map<std::uintptr_t, handle_record> handles_;
    std::uintptr_t next_handle_ = 0x5000;
    std::map<std::pair<std::string, const scope*>, unsigned> calls_;
};

// "device", "device\application", "device\application\container".
std::string path_of(const handle_record& record);

}  // namespace skf_standin
