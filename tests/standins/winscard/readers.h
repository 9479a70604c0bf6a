#pragma once
// What the test PC/SC service shows, read from the JSON file named by the
// environment variable KELVORA_WINSCARD_STANDIN (see README-standin.txt).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace winscard_standin {

using bytes = std::vector<std::uint8_t>;

struct scripted_reply {
    bytes reply;
    long result = 0;       // SCardTransmit's answer (0: success)
    long reported = -1;    // the length reported instead of the reply's own, -1: its own
};

struct reader_description {
    std::wstring name;
    bool present = true;
    bytes atr;
    long reported_atr = -1;         // cbAtr reported instead of the ATR's own length
    std::uint32_t protocol = 2;     // SCARD_PROTOCOL_T1
    long connect_result = 0;
    long status_result = 0;
    std::map<bytes, scripted_reply> script;  // command -> reply
};

struct service_description {
    std::string log_path;
    std::map<std::string, long> fail;  // function name -> result
    long extra_list_length = 0;        // added to the reported reader-list length
    unsigned long extra_query_length = 0;  // added to the length a size query answers
    bool no_final_nul = false;         // the reader list lacks its final NUL
    std::vector<reader_description> readers;
};

// No variable: a service without readers. A file that cannot be read throws.
service_description read_description();

void log_line(const std::string& path, const std::string& line);
std::string hex(const std::uint8_t* data, std::size_t size);

}  // namespace winscard_standin
