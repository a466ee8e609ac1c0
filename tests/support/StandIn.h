// Stand-in COM servers for the tests: objects that implement the system's real interfaces over a
// collection the test knows, registered for the system's class in the test process alone, where
// Wine's own server is a stub. Every method the program does not call answers E_NOTIMPL.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <oaidl.h>

#include <functional>

// Reference counting and QueryInterface for one interface (and IUnknown); an object starts with
// one reference, its maker's.
template <class Interface>
class StandIn : public Interface {
public:
    virtual ~StandIn() = default;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (!Implements(iid))
            return E_NOINTERFACE;
        *out = static_cast<Interface*>(this);
        this->AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG left = --references_;
        if (left == 0)
            delete this;
        return left;
    }

protected:
    virtual bool Implements(REFIID iid) const { return iid == IID_IUnknown || iid == __uuidof(Interface); }

private:
    ULONG references_ = 1;
};

// An automation interface: its IDispatch methods are never called by the program.
template <class Interface>
class DispatchStandIn : public StandIn<Interface> {
public:
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }

protected:
    bool Implements(REFIID iid) const override { return iid == IID_IDispatch || StandIn<Interface>::Implements(iid); }
};

// While it lives, CoCreateInstance of the class (in-process, on this thread's apartment) makes
// its object with make (which returns the object with one reference) instead of the system's.
class StandInClass : public StandIn<IClassFactory> {
public:
    typedef std::function<IUnknown*()> Maker;
    // Registers the class; Registered tells whether COM took it.
    static StandInClass* Register(REFCLSID clsid, Maker make)
    {
        StandInClass* factory = new StandInClass(make);
        if (FAILED(CoRegisterClassObject(clsid, factory, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &factory->cookie_)))
            factory->cookie_ = 0;
        return factory;
    }
    bool Registered() const { return cookie_ != 0; }
    // Revokes the class and lets the factory go.
    void Revoke()
    {
        if (cookie_ != 0)
            CoRevokeClassObject(cookie_);
        cookie_ = 0;
        Release();
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override
    {
        if (out == nullptr)
            return E_POINTER;
        *out = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        IUnknown* object = make_();
        if (object == nullptr)
            return E_OUTOFMEMORY;
        HRESULT result = object->QueryInterface(iid, out);
        object->Release();
        return result;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }

private:
    explicit StandInClass(Maker make) : make_(make) {}
    Maker make_;
    DWORD cookie_ = 0;
};

// A BSTR copy of text for an out parameter; E_OUTOFMEMORY when none could be made.
inline HRESULT CopyOut(const wchar_t* text, BSTR* out)
{
    if (out == nullptr)
        return E_POINTER;
    *out = SysAllocString(text);
    return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}
