// The platform-free parts of the smart-card inventory and the container
// search: ATR recognition, family keys, field texts, the key-blob reading and
// the APDU probes over a scripted card.
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "crypto/cards/atr_table.h"
#include "crypto/cards/card_probes.h"
#include "crypto/cards/container_search.h"
#include "crypto/cards/fixed_text.h"
#include "crypto/encoding/hex.h"

namespace {

using crypto::byte_vector;
using namespace crypto::cards;

byte_vector hex(const std::string& text)
{
    return crypto::hex_decode(text.c_str());
}

TEST(atr_table, recognises_only_exact_atrs)
{
    const std::vector<std::pair<std::string, int>> table = {
        {"3bd518008131fe7d8073c82110f4", 1},
        {"3BD518008131FE7D8073C82110F4", 1},
        {"3b6f00ff00567275546f6b6e73302000009000", 3},
        {"3B8B015275746F6B656E20445320C1", 4},
        {"3B1A967275746F6B656E6D", 4},
        {"3B1A967275746F6B656E6D7363", 4},
        {"3B8B015275746F6B656E6C697465C2", 5},
        {"3bdc18ff8111fe8073c82113660106013080018d", 6},
        {"3bdc18ff8191fe1fc38073c821136601061159000128", 7},
        {"3b7c950000455 34d41525447 4f5354 3130", 10},
        {"3B9E96008031C0654D5300455372F7418107", 12},
        {"3B8B015275746F6B656E20445320C100", -1},  // one byte more
        {"3B8B015275746F6B656E20445320", -1},      // one byte less
        {"3B", -1},
        {"", -1},
    };
    for (const auto& [text, type] : table) {
        std::string compact;
        for (char c : text)
            if (c != ' ')
                compact += c;
        const byte_vector atr = hex(compact);
        const atr_row* row = find_card_by_atr(atr.data(), atr.size());
        EXPECT_EQ(row ? row->type : -1, type) << text;
    }
}

TEST(atr_table, family_of_each_card_type)
{
    const std::map<int, std::optional<std::string>> table = {
        {1, "etoken"}, {2, std::nullopt}, {3, "rutoken"}, {4, "rutoken_ecp"}, {5, "rutoken"}, {6, "jacarta"},
        {7, "jacarta"}, {8, "esmart"}, {9, "esmart"}, {10, "esmart"}, {11, std::nullopt}, {12, "esmart"},
        {13, std::nullopt}, {0, std::nullopt}, {-1, std::nullopt},
    };
    for (const auto& [type, family] : table)
        EXPECT_EQ(family_for_card_type(type), family) << type;
    EXPECT_EQ(atr_table()[atr_row_count].atr, nullptr);
}

TEST(fixed_text, fields_and_replies)
{
    const std::vector<std::pair<std::string, std::string>> fields = {
        {"Token label   ", "Token label"}, {"    ", " "},    {std::string("a\0b  ", 5), "a"},
        {std::string("a \0b", 4), "a "},   {std::string("\0  ", 3), ""}, {"x\t\r\n", "x"}, {"", ""},
    };
    for (const auto& [field, text] : fields)
        EXPECT_EQ(field_text(field.data(), field.size()), text) << field;
    // Cut at the NUL first, then trimmed: the token request path.
    const std::vector<std::pair<std::string, std::string>> cut_fields = {
        {std::string("0000AAAA \0XYZ   ", 16), "0000AAAA"}, {std::string("a \0b", 4), "a"},
        {"Token label   ", "Token label"}, {"    ", " "}, {std::string("\0  ", 3), ""}, {"", ""},
    };
    for (const auto& [field, text] : cut_fields)
        EXPECT_EQ(cut_field_text(field.data(), field.size()), text) << field;
    const std::vector<std::pair<std::string, std::string>> replies = {
        {"  Lite label  ", "Lite label"}, {"   ", ""}, {"\x01label", "label"}};
    for (const auto& [reply, text] : replies)
        EXPECT_EQ(reply_text(reply.data(), reply.size()), text) << reply;
}

TEST(container_search, raw_key_of_a_public_key_blob)
{
    const std::string header = "0620000049"  "2E0000" "4D414731";
    const std::string parameters = "3004" "06022A03";
    const std::vector<std::pair<std::string, std::string>> table = {
        {header + "20000000" + parameters + "00112233", "00112233"},
        {header + "20000000" + parameters + "0011223344", "00112233"},  // bytes after the key
        {header + "28000000" + parameters + "00112233", ""},          // the key reaches past the blob
        {header + "FFFFFFFF" + parameters + "00112233", ""},
        {header + "00000000" + parameters, ""},
        {header + "20000000" "30FF", ""},                             // parameters past the blob
        {header + "2000", ""},
        {"", ""},
    };
    for (const auto& [blob, key] : table)
        EXPECT_EQ(public_key_from_blob(hex(blob)), hex(key)) << blob;
}

// A card that answers from a script: command (hex) -> reply (hex), or none
// for a failed transmission; commands without a line fail too.
class scripted_card : public card_channel {
public:
    explicit scripted_card(std::map<std::string, std::optional<std::string>> script) : script_(std::move(script)) {}
    std::optional<card_reply> transmit(const std::vector<std::uint8_t>& command) override
    {
        const auto line = script_.find(crypto::hex_encode(command));
        if (line == script_.end() || !line->second)
            return std::nullopt;
        const byte_vector reply = hex(*line->second);
        return split_reply(reply.data(), reply.size());
    }

private:
    std::map<std::string, std::optional<std::string>> script_;
};

struct probe_case {
    const char* name;
    bool (*probe)(card_channel&, smartcard_info&);
    std::map<std::string, std::optional<std::string>> script;
    bool answered;
    std::string label, model, serial;
    int totalmem, freemem;
};

const std::string jacarta_select = "00A4040008A000000448000301";
const std::string lite_select = "00A408000610001000100000";
const std::string etoken_select_1 = "00A4040007A000000312020200";
const std::string etoken_select_2 = "00A4080C0666665000000200";

TEST(card_probes, read_only_what_the_card_returned)
{
    const std::string zeros15(30, '0');
    const std::vector<probe_case> table = {
        {"rutoken s, little-endian", probe_rutoken_s,
         {{"00CA018A04", "102700009000"}, {"00CA018108", "785634129000"}}, true, "", "Rutoken S", "12345678",
         32768, 10000},
        {"rutoken s, short replies keep the defaults", probe_rutoken_s,
         {{"00CA018A04", "10279000"}, {"00CA018108", "9000"}}, true, "", "Rutoken S", "", 32768, -1},
        {"rutoken s, reply without its status word", probe_rutoken_s, {{"00CA018A04", "90"}}, false, "", "", "",
         -1, -1},
        {"rutoken lite, 16 digits", probe_rutoken_lite,
         {{lite_select, "9000"}, {"00B0000000", "0102030405060708204C6974652020209000"},
          {"00CA018A04", "000010009000"}, {"00CA018108", "0000ABCD123456789000"}},
         true, "Lite", "Rutoken Lite", "0000abcd12345678", 32768, 4096},
        {"rutoken lite, high part zero", probe_rutoken_lite,
         {{lite_select, "6A82"}, {"00CA018A04", "000010009000"}, {"00CA018108", "00000000123456789000"}},
         true, "", "Rutoken Lite", "12345678", 32768, 4096},
        {"rutoken lite, short file and serial", probe_rutoken_lite,
         {{lite_select, "9000"}, {"00B0000000", "01029000"}, {"00CA018A04", "9000"},
          {"00CA018108", "010203040506079000"}},
         true, "", "Rutoken Lite", "", 32768, -1},
        {"rutoken lite, failed serial", probe_rutoken_lite,
         {{lite_select, "6A82"}, {"00CA018A04", "000010009000"}, {"00CA018108", std::nullopt}}, false, "", "", "",
         32768, 4096},
        {"etoken", probe_etoken_pro,
         {{etoken_select_1, "9000"}, {etoken_select_2, "9000"}, {"80180000040E02000000", "41424320209000"},
          {"00CA011308", "FFFF000100009000"}, {"00CA011408", "FFFF9000"}, {"00CA010700", "000000000A0B0C0D9000"}},
         true, "ABC", "eToken PRO 72k", "0a0b0c0d", 65536, -1},
        {"etoken, failed select", probe_etoken_pro, {{etoken_select_1, "9000"}}, false, "", "", "", -1, -1},
        {"jacarta lt, 30 data bytes", probe_jacarta_lt,
         {{jacarta_select, "9000"}, {"8030100020", "4A432020209000"},
          {"8030300018", "0000000000" "1234" + zeros15 + "1122334455667788" "9000"}},
         true, "JC", "JaCarta LT", "1122334455667788", 65535, 4660},
        {"jacarta lt, 24 data bytes", probe_jacarta_lt,
         {{jacarta_select, "9000"}, {"8030100020", "4A439000"},
          {"8030300018", "0000000000" "0001" + zeros15 + "AABB" "9000"}},
         true, "JC", "JaCarta LT", "AABB", 65535, 1},
        {"jacarta lt, memory refused", probe_jacarta_lt,
         {{jacarta_select, "9000"}, {"8030100020", "4A439000"}, {"8030300018", "6A82"}}, true, "JC", "JaCarta LT",
         "", -1, -1},
        {"jacarta lt, memory reply without status word", probe_jacarta_lt,
         {{jacarta_select, "9000"}, {"8030100020", "4A439000"}, {"8030300018", "90"}}, true, "JC", "JaCarta LT",
         "", -1, -1},
        {"jacarta lt, label refused", probe_jacarta_lt, {{jacarta_select, "9000"}, {"8030100020", "6A82"}}, false,
         "", "", "", -1, -1},
    };
    for (const auto& row : table) {
        scripted_card card(row.script);
        smartcard_info record;
        EXPECT_EQ(row.probe(card, record), row.answered) << row.name;
        EXPECT_EQ(record.label, row.label) << row.name;
        EXPECT_EQ(record.model, row.model) << row.name;
        EXPECT_EQ(record.serial, row.serial) << row.name;
        EXPECT_EQ(record.totalmem, row.totalmem) << row.name;
        EXPECT_EQ(record.freemem, row.freemem) << row.name;
    }
}

TEST(card_records, json_keys_in_order)
{
    smartcard_info card;
    card.reader = "R";
    card.hardware = true;
    std::string keys;
    for (const auto& [key, value] : card.to_ptree())
        keys += key + "=" + value.data() + ";";
    EXPECT_EQ(keys, "reader=R;type=-1;brand=;label=;model=;serial=;totalmem=-1;freemem=-1;hardware=true;");

    container_info token;
    token.hardware = true;
    token.card_type = 4;
    container_info csp;
    csp.provtype = 80;
    std::string token_keys, csp_keys;
    for (const auto& [key, value] : token.to_ptree())
        token_keys += key + "=" + value.data() + ";";
    for (const auto& [key, value] : csp.to_ptree())
        csp_keys += key + "=" + value.data() + ";";
    EXPECT_EQ(token_keys, "reader=;container=;card_type=4;card_serial=;hardware=true;");
    EXPECT_EQ(csp_keys, "reader=;container=;provname=;provtype=80;hardware=false;");
}

}  // namespace
