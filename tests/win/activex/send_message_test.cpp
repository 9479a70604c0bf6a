// IPlugin::SendMessage of a control created through COM, with the commands
// the control carries.
#include "control_support.h"

namespace ax_test {
namespace {

using ControlSendMessage = RegisteredControl;

// Calls SendMessage on the vtable; the answer, or the error information.
struct outcome {
    HRESULT hr;
    std::wstring answer;
    error_details error;
};

outcome send(IPlugin* plugin, const std::wstring& request)
{
    const unique_bstr message = make_bstr(request);
    unique_bstr response;
    outcome result{plugin->SendMessage(message.get(), response.put()), L"", {}};
    result.answer = bstr_text(response.get());
    result.error = take_error_info();
    return result;
}

TEST_F(ControlSendMessage, VersionAnswersWithTheIdLastAndALineFeed)
{
    const com_ptr<IPlugin> plugin = create_plugin();
    ASSERT_TRUE(plugin);
    const outcome result = send(plugin.get(), LR"({"type":"Version","id":"1"})");
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.answer, L"{\"response\":\"success\",\"result\":\"2.1.0102\",\"id\":\"1\"}\n");
    EXPECT_EQ(send(plugin.get(), LR"({"type":"VersionEx","id":0,"arguments":{"x":"y"}})").answer,
              L"{\"response\":\"success\",\"result\":{\"version\":\"2.1.0102\",\"system\":\"windows\"},\"id\":\"0\"}\n");
}

TEST_F(ControlSendMessage, InvalidRequestsAreComErrorsAndTheObjectStaysUsable)
{
    const com_ptr<IPlugin> plugin = create_plugin();
    ASSERT_TRUE(plugin);
    for (const wchar_t* request : {LR"({"type":"Version"})", LR"({"type":"Version","id":""})",
                                   LR"({"type":"version","id":"1"})", LR"({"type":"VERSION","id":"1"})",
                                   LR"({"type":"NoSuchCommand","id":"1"})", LR"({"id":"1"})"}) {
        const outcome result = send(plugin.get(), request);
        EXPECT_EQ(result.hr, DISP_E_EXCEPTION);
        EXPECT_EQ(result.answer, L"");
        EXPECT_EQ(result.error.description, L"Invalid message");
        EXPECT_EQ(result.error.source, versioned_progid);
        EXPECT_EQ(send(plugin.get(), LR"({"type":"Version","id":"2"})").hr, S_OK);
    }
    const outcome not_json = send(plugin.get(), L"{\"type\":");
    EXPECT_EQ(not_json.hr, DISP_E_EXCEPTION);
    EXPECT_NE(not_json.error.description.find(L"<unspecified file>(1): "), std::wstring::npos);
    EXPECT_EQ(not_json.error.source, versioned_progid);
}

TEST_F(ControlSendMessage, ACommandFailureIsAFailAnswer)
{
    const com_ptr<IPlugin> plugin = create_plugin();
    ASSERT_TRUE(plugin);
    const outcome result = send(plugin.get(), LR"({"type":"EncryptPin","id":"9"})");
    EXPECT_EQ(result.hr, S_OK);
    EXPECT_EQ(result.answer, L"{\"response\":\"fail\",\"error\":\"No such node (pincode)\",\"id\":\"9\"}\n");
    EXPECT_FALSE(result.error.present);
}

TEST_F(ControlSendMessage, ANullResponseRunsTheCommandAndSucceeds)
{
    const com_ptr<IPlugin> plugin = create_plugin();
    ASSERT_TRUE(plugin);
    const unique_bstr request = make_bstr(LR"({"type":"EncryptPin","id":"1","arguments":{"pincode":"1234"}})");
    EXPECT_EQ(plugin->SendMessage(request.get(), nullptr), S_OK);
    const unique_bstr invalid = make_bstr(LR"({"type":"EncryptPin"})");
    EXPECT_EQ(plugin->SendMessage(invalid.get(), nullptr), DISP_E_EXCEPTION);
    EXPECT_EQ(take_error_info().description, L"Invalid message");
}

}  // namespace
}  // namespace ax_test
