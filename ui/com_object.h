#pragma once
// IUnknown for an object of ours that offers one interface: it is created
// with one reference, for the owner that made it, and deleted at the last
// release. Other processes and COM's proxies hold it too, from any thread.
#include <windows.h>
#include <unknwn.h>

#include <atomic>

namespace rivak::ui {

template <class Interface, const IID& kInterface>
class ComObject : public Interface {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override {
        if (!object) return E_POINTER;
        if (riid == IID_IUnknown || riid == kInterface) {
            *object = static_cast<Interface*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --refs_;
        if (left == 0) delete this;
        return left;
    }

protected:
    ComObject() = default;
    virtual ~ComObject() = default;

private:
    std::atomic<ULONG> refs_{1};
};

}  // namespace rivak::ui
