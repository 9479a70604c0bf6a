// IDispatch of the control, served from the registered type library, as
// script hosts call it.
#include "control_support.h"

namespace ax_test {
namespace {

using Dispatch = RegisteredControl;

com_ptr<IDispatch> create_dispatch()
{
    com_ptr<IDispatch> dispatch;
    EXPECT_EQ(CoCreateInstance(CLSID_Plugin, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch,
                               reinterpret_cast<void**>(dispatch.put())),
              S_OK);
    return dispatch;
}

// Invokes SendMessage by its dispatch identifier with one text argument.
HRESULT invoke_send(IDispatch* dispatch, const std::wstring& request, VARIANT& result, EXCEPINFO& exception,
                    REFIID iid = IID_NULL)
{
    VARIANT argument;
    VariantInit(&argument);
    argument.vt = VT_BSTR;
    argument.bstrVal = make_bstr(request).release();
    DISPPARAMS parameters{&argument, nullptr, 1, 0};
    UINT argument_error = 0;
    const HRESULT hr = dispatch->Invoke(1, iid, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &parameters, &result,
                                        &exception, &argument_error);
    VariantClear(&argument);
    return hr;
}

TEST_F(Dispatch, TypeInformationDescribesIPlugin)
{
    const com_ptr<IDispatch> dispatch = create_dispatch();
    ASSERT_TRUE(dispatch);
    UINT count = 0;
    ASSERT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    com_ptr<ITypeInfo> info;
    EXPECT_EQ(dispatch->GetTypeInfo(1, LOCALE_USER_DEFAULT, info.put()), DISP_E_BADINDEX);
    ASSERT_EQ(dispatch->GetTypeInfo(0, LOCALE_USER_DEFAULT, info.put()), S_OK);
    TYPEATTR* type = nullptr;
    ASSERT_EQ(info->GetTypeAttr(&type), S_OK);
    EXPECT_TRUE(IsEqualGUID(type->guid, IID_IPlugin));
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
    info->ReleaseTypeAttr(type);

    // The vtable interface: SendMessage in the slot after IUnknown and IDispatch.
    HREFTYPE reference = 0;
    ASSERT_EQ(info->GetRefTypeOfImplType(-1, &reference), S_OK);
    com_ptr<ITypeInfo> vtable;
    ASSERT_EQ(info->GetRefTypeInfo(reference, vtable.put()), S_OK);
    ASSERT_EQ(vtable->GetTypeAttr(&type), S_OK);
    EXPECT_EQ(type->typekind, TKIND_INTERFACE);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FOLEAUTOMATION);
    EXPECT_TRUE(type->wTypeFlags & TYPEFLAG_FDUAL);
    ASSERT_EQ(type->cFuncs, 1);
    vtable->ReleaseTypeAttr(type);
    FUNCDESC* function = nullptr;
    ASSERT_EQ(vtable->GetFuncDesc(0, &function), S_OK);
    EXPECT_EQ(function->memid, 1);
    EXPECT_EQ(function->oVft, static_cast<SHORT>(7 * sizeof(void*)));
    EXPECT_EQ(function->callconv, CC_STDCALL);
    EXPECT_EQ(function->cParams, 2);
    EXPECT_EQ(function->lprgelemdescParam[0].tdesc.vt, VT_BSTR);
    EXPECT_EQ(function->elemdescFunc.tdesc.vt, VT_HRESULT);
    vtable->ReleaseFuncDesc(function);
}

TEST_F(Dispatch, NamesMapToDispatchIdentifiers)
{
    const com_ptr<IDispatch> dispatch = create_dispatch();
    ASSERT_TRUE(dispatch);
    LPOLESTR name = const_cast<LPOLESTR>(L"SendMessage");
    DISPID id = 0;
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
    name = const_cast<LPOLESTR>(L"sendmessage");
    ASSERT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), S_OK);
    EXPECT_EQ(id, 1);
    name = const_cast<LPOLESTR>(L"PostMessage");
    EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
}

TEST_F(Dispatch, InvokeReturnsTheAnswer)
{
    const com_ptr<IDispatch> dispatch = create_dispatch();
    ASSERT_TRUE(dispatch);
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    ASSERT_EQ(invoke_send(dispatch.get(), LR"({"type":"Version","id":"d"})", result, exception), S_OK);
    ASSERT_EQ(result.vt, VT_BSTR);
    EXPECT_EQ(bstr_text(result.bstrVal), L"{\"response\":\"success\",\"result\":\"2.1.0102\",\"id\":\"d\"}\n");
    VariantClear(&result);
    EXPECT_EQ(invoke_send(dispatch.get(), LR"({"type":"Version","id":"d"})", result, exception, IID_IDispatch),
              DISP_E_UNKNOWNINTERFACE);
}

TEST_F(Dispatch, AFailedCallReachesTheCallerAsExceptionInformation)
{
    const com_ptr<IDispatch> dispatch = create_dispatch();
    ASSERT_TRUE(dispatch);
    VARIANT result;
    VariantInit(&result);
    EXCEPINFO exception{};
    ASSERT_EQ(invoke_send(dispatch.get(), LR"({"type":"Nothing","id":"1"})", result, exception), DISP_E_EXCEPTION);
    EXPECT_EQ(bstr_text(exception.bstrDescription), L"Invalid message");
    EXPECT_EQ(bstr_text(exception.bstrSource), versioned_progid);
    // No answer text comes back (Wine's Invoke hands back an empty text).
    EXPECT_TRUE(result.vt == VT_EMPTY || (result.vt == VT_BSTR && SysStringLen(result.bstrVal) == 0));
    VariantClear(&result);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrHelpFile);
}

}  // namespace
}  // namespace ax_test
