#include "messages/answer_limit.h"

namespace messages {
namespace {

std::size_t limit = 0;

}  // namespace

void limit_answers(std::size_t bytes)
{
    limit = bytes;
}

std::size_t answer_limit()
{
    return limit;
}

}  // namespace messages
