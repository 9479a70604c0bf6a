#include "description.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "crypto/encoding/base64.h"

namespace skf_standin {
namespace {

std::string trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

std::uint32_t number(const std::string& text)
{
    std::size_t used = 0;
    const unsigned long value = std::stoul(text, &used, 0);
    if (used != text.size())
        throw std::runtime_error("not a number: " + text);
    return static_cast<std::uint32_t>(value);
}

// "fail FUNCTION [skip N] [code C]"
failure read_failure(std::istringstream& words)
{
    failure made;
    made.code = 0x0A000001;
    if (!(words >> made.function))
        throw std::runtime_error("fail needs a function");
    std::string key, value;
    while (words >> key >> value) {
        if (key == "skip")
            made.skip = number(value);
        else if (key == "code")
            made.code = number(value);
        else
            throw std::runtime_error("unknown fail option " + key);
    }
    return made;
}

// "quirk FUNCTION KIND [N]"
quirk read_quirk(std::istringstream& words)
{
    quirk made;
    if (!(words >> made.function >> made.kind))
        throw std::runtime_error("quirk needs a function and a kind");
    if (made.kind != "unterminated" && made.kind != "query_extra" && made.kind != "written_extra")
        throw std::runtime_error("unknown quirk " + made.kind);
    std::string amount;
    if (words >> amount)
        made.amount = number(amount);
    return made;
}

}  // namespace

const failure* scope::failure_of(const std::string& function) const
{
    for (const auto& f : failures)
        if (f.function == function)
            return &f;
    return nullptr;
}

std::uint32_t scope::quirk_amount(const std::string& function, const std::string& kind) const
{
    for (const auto& q : quirks)
        if (q.function == function && q.kind == kind)
            return q.amount;
    return 0;
}

bool scope::has_quirk(const std::string& function, const std::string& kind) const
{
    for (const auto& q : quirks)
        if (q.function == function && q.kind == kind)
            return true;
    return false;
}

description read_description(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path);
    description made;
    made.configured = true;
    scope* current = &made;
    std::string line;
    int number_of_line = 0;
    while (std::getline(in, line)) {
        ++number_of_line;
        try {
            line = trim(line);
            if (line.empty() || line[0] == '#')
                continue;
            const auto space = line.find_first_of(" \t");
            const std::string key = line.substr(0, space);
            const std::string rest = space == std::string::npos ? std::string() : trim(line.substr(space));
            std::istringstream words(rest);
            auto* device = made.devices.empty() ? nullptr : &made.devices.back();
            auto* application = device && !device->applications.empty() ? &device->applications.back() : nullptr;
            auto* container =
                application && !application->containers.empty() ? &application->containers.back() : nullptr;
            if (key == "log") {
                made.log_path = rest;
            } else if (key == "fail") {
                current->failures.push_back(read_failure(words));
            } else if (key == "copies" && current != &made) {
                current->copies = number(rest);
                if (current->copies == 0)
                    throw std::runtime_error("copies must be at least 1");
            } else if (key == "quirk") {
                current->quirks.push_back(read_quirk(words));
            } else if (key == "device") {
                made.devices.emplace_back();
                made.devices.back().name = rest;
                current = &made.devices.back();
            } else if (key == "absent" && device && current == device) {
                device->present = false;
            } else if (key == "application" && device) {
                device->applications.emplace_back();
                device->applications.back().name = rest;
                current = &device->applications.back();
            } else if (key == "pin" && application && current == application) {
                application->pin = rest;
            } else if (key == "retries" && application && current == application) {
                application->max_retries = application->retries = number(rest);
            } else if (key == "logged_in" && application && current == application) {
                application->logged_in = true;
            } else if (key == "container" && application) {
                application->containers.emplace_back();
                application->containers.back().name = rest;
                current = &application->containers.back();
            } else if (key == "type" && container && current == container) {
                container->type_written = rest != "none";
                if (container->type_written)
                    container->type = number(rest);
            } else if (key == "certificate" && container && current == container) {
                container->certificate = crypto::base64_decode(rest);
            } else if (key == "modulus" && container && current == container) {
                container->modulus = number(rest);
            } else {
                throw std::runtime_error("unexpected " + key);
            }
        } catch (const std::exception& e) {
            throw std::runtime_error(path + ":" + std::to_string(number_of_line) + ": " + e.what());
        }
    }
    return made;
}

}  // namespace skf_standin
