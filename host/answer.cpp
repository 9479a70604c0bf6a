#include "host/answer.h"

#include <stdexcept>

#include <boost/algorithm/string/trim.hpp>

#include "host/framing.h"

namespace host {

void write_message(std::FILE* out, const messages::json_tree& answer)
{
    std::string text = messages::to_json(answer);
    boost::algorithm::trim(text);
    if (text.size() > max_answer_size)
        throw messages::answer_too_large();
    write_frame(out, text);
}

void send_success(std::FILE* out, const messages::command_result& result, const std::string& id)
{
    write_message(out, messages::make_success_answer(result, id));
}

void send_failure(std::FILE* out, const std::exception& error, const std::string& id)
{
    write_message(out, messages::make_failure_answer(error.what(), id));
}

}  // namespace host
