// The media-object implementation template: stream-index and pointer
// checks, the type slots and the streaming states, calling the class's
// Internal* hooks under the class's Lock()/Unlock().
#pragma once

#include "mediaobj.h"

template <class T, int NUMBEROFINPUTS, int NUMBEROFOUTPUTS>
class IMediaObjectImpl : public IMediaObject {
public:
    IMediaObjectImpl() = default;
    IMediaObjectImpl(const IMediaObjectImpl&) = delete;
    IMediaObjectImpl& operator=(const IMediaObjectImpl&) = delete;

    STDMETHOD(GetStreamCount)(DWORD* inputs, DWORD* outputs) override {
        Guard g(self());
        if (inputs == nullptr || outputs == nullptr) return E_POINTER;
        *inputs = NUMBEROFINPUTS;
        *outputs = NUMBEROFOUTPUTS;
        return S_OK;
    }
    STDMETHOD(GetInputStreamInfo)(DWORD index, DWORD* flags) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (flags == nullptr) return E_POINTER;
        return self()->InternalGetInputStreamInfo(index, flags);
    }
    STDMETHOD(GetOutputStreamInfo)(DWORD index, DWORD* flags) override {
        Guard g(self());
        if (index >= NUMBEROFOUTPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (flags == nullptr) return E_POINTER;
        return self()->InternalGetOutputStreamInfo(index, flags);
    }
    STDMETHOD(GetInputType)(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* pmt) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        return self()->InternalGetInputType(index, typeIndex, pmt);
    }
    STDMETHOD(GetOutputType)(DWORD index, DWORD typeIndex, DMO_MEDIA_TYPE* pmt) override {
        Guard g(self());
        if (index >= NUMBEROFOUTPUTS) return DMO_E_INVALIDSTREAMINDEX;
        return self()->InternalGetOutputType(index, typeIndex, pmt);
    }
    STDMETHOD(SetInputType)(DWORD index, const DMO_MEDIA_TYPE* pmt, DWORD flags) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        return setType(in_[index], pmt, flags, true, index);
    }
    STDMETHOD(SetOutputType)(DWORD index, const DMO_MEDIA_TYPE* pmt, DWORD flags) override {
        Guard g(self());
        if (index >= NUMBEROFOUTPUTS) return DMO_E_INVALIDSTREAMINDEX;
        return setType(out_[index], pmt, flags, false, index);
    }
    STDMETHOD(GetInputCurrentType)(DWORD index, DMO_MEDIA_TYPE* pmt) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (pmt == nullptr) return E_POINTER;
        if (!in_[index].set) return DMO_E_TYPE_NOT_SET;
        return MoCopyMediaType(pmt, &in_[index].type);
    }
    STDMETHOD(GetOutputCurrentType)(DWORD index, DMO_MEDIA_TYPE* pmt) override {
        Guard g(self());
        if (index >= NUMBEROFOUTPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (pmt == nullptr) return E_POINTER;
        if (!out_[index].set) return DMO_E_TYPE_NOT_SET;
        return MoCopyMediaType(pmt, &out_[index].type);
    }
    STDMETHOD(GetInputSizeInfo)(DWORD index, DWORD* size, DWORD* lookahead, DWORD* alignment) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (size == nullptr || lookahead == nullptr || alignment == nullptr) return E_POINTER;
        if (!in_[index].set) return DMO_E_TYPE_NOT_SET;
        return self()->InternalGetInputSizeInfo(index, size, lookahead, alignment);
    }
    STDMETHOD(GetOutputSizeInfo)(DWORD index, DWORD* size, DWORD* alignment) override {
        Guard g(self());
        if (index >= NUMBEROFOUTPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (size == nullptr || alignment == nullptr) return E_POINTER;
        if (!typesSet_) return DMO_E_TYPE_NOT_SET;
        return self()->InternalGetOutputSizeInfo(index, size, alignment);
    }
    STDMETHOD(GetInputMaxLatency)(DWORD index, REFERENCE_TIME* latency) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (latency == nullptr) return E_POINTER;
        return self()->InternalGetInputMaxLatency(index, latency);
    }
    STDMETHOD(SetInputMaxLatency)(DWORD index, REFERENCE_TIME latency) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        return self()->InternalSetInputMaxLatency(index, latency);
    }
    STDMETHOD(Flush)() override {
        Guard g(self());
        if (!typesSet_) return DMO_E_TYPE_NOT_SET;
        if (flushed_) return S_OK;
        const HRESULT hr = self()->InternalFlush();
        flushed_ = true;
        return hr;
    }
    STDMETHOD(Discontinuity)(DWORD index) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (!typesSet_) return DMO_E_TYPE_NOT_SET;
        return self()->InternalDiscontinuity(index);
    }
    STDMETHOD(AllocateStreamingResources)() override {
        Guard g(self());
        return allocate();
    }
    STDMETHOD(FreeStreamingResources)() override {
        Guard g(self());
        return freeResources();
    }
    STDMETHOD(GetInputStatus)(DWORD index, DWORD* flags) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (flags == nullptr) return E_POINTER;
        if (!typesSet_) return DMO_E_TYPE_NOT_SET;
        *flags = self()->InternalAcceptingInput(index) == S_OK ? DMO_INPUT_STATUSF_ACCEPT_DATA : 0;
        return S_OK;
    }
    STDMETHOD(ProcessInput)(DWORD index, IMediaBuffer* buffer, DWORD flags, REFERENCE_TIME time,
                            REFERENCE_TIME timeLength) override {
        Guard g(self());
        if (index >= NUMBEROFINPUTS) return DMO_E_INVALIDSTREAMINDEX;
        if (buffer == nullptr) return E_POINTER;
        if (flags & ~static_cast<DWORD>(DMO_INPUT_DATA_BUFFERF_SYNCPOINT | DMO_INPUT_DATA_BUFFERF_TIME |
                                        DMO_INPUT_DATA_BUFFERF_TIMELENGTH))
            return E_INVALIDARG;
        if (HRESULT hr = allocate(); FAILED(hr)) return hr;
        if (self()->InternalAcceptingInput(index) != S_OK) return DMO_E_NOTACCEPTING;
        flushed_ = false;
        return self()->InternalProcessInput(index, buffer, flags, time, timeLength);
    }
    STDMETHOD(ProcessOutput)(DWORD flags, DWORD count, DMO_OUTPUT_DATA_BUFFER* buffers, DWORD* status) override {
        Guard g(self());
        if (status == nullptr || buffers == nullptr) return E_POINTER;
        if (count != NUMBEROFOUTPUTS || (flags & ~static_cast<DWORD>(DMO_PROCESS_OUTPUT_DISCARD_WHEN_NO_BUFFER)))
            return E_INVALIDARG;
        *status = 0;
        if (HRESULT hr = allocate(); FAILED(hr)) return hr;
        for (DWORD i = 0; i < count; ++i) buffers[i].dwStatus = 0;
        const HRESULT hr = self()->InternalProcessOutput(flags, count, buffers, status);
        for (DWORD i = 0; i < count; ++i)
            incomplete_[i] = (buffers[i].dwStatus & DMO_OUTPUT_DATA_BUFFERF_INCOMPLETE) != 0;
        return hr;
    }
    STDMETHOD(Lock)(LONG lock) override {
        if (lock) self()->Lock();
        else self()->Unlock();
        return S_OK;
    }

protected:
    ~IMediaObjectImpl() {
        for (Slot& s : in_) clear(s);
        for (Slot& s : out_) clear(s);
    }
    bool InputTypeSet(DWORD index) const { return index < NUMBEROFINPUTS && in_[index].set; }
    bool OutputTypeSet(DWORD index) const { return index < NUMBEROFOUTPUTS && out_[index].set; }
    const DMO_MEDIA_TYPE* InputType(DWORD index) const { return InputTypeSet(index) ? &in_[index].type : nullptr; }
    const DMO_MEDIA_TYPE* OutputType(DWORD index) const { return OutputTypeSet(index) ? &out_[index].type : nullptr; }
    bool TypesSet() const { return typesSet_; }
    bool ResourcesAllocated() const { return resourcesAllocated_; }

private:
    struct Slot {
        bool set = false;
        DMO_MEDIA_TYPE type{};
    };
    struct Guard {
        explicit Guard(T* t) : t_(t) { t_->Lock(); }
        ~Guard() { t_->Unlock(); }
        T* t_;
    };

    T* self() { return static_cast<T*>(this); }

    static void clear(Slot& s) {
        if (s.set) MoFreeMediaType(&s.type);
        s.set = false;
    }

    void updateTypesSet() {
        bool all = true;
        for (const Slot& s : in_) all = all && s.set;
        for (const Slot& s : out_) all = all && s.set;
        typesSet_ = all;
    }

    HRESULT allocate() {
        if (!typesSet_) return DMO_E_TYPE_NOT_SET;
        if (resourcesAllocated_) return S_OK;
        const HRESULT hr = self()->InternalAllocateStreamingResources();
        if (SUCCEEDED(hr)) resourcesAllocated_ = true;
        return hr;
    }

    HRESULT freeResources() {
        if (!resourcesAllocated_) return S_OK;
        resourcesAllocated_ = false;
        return self()->InternalFreeStreamingResources();
    }

    HRESULT setType(Slot& slot, const DMO_MEDIA_TYPE* pmt, DWORD flags, bool input, DWORD index) {
        if (flags & ~static_cast<DWORD>(DMO_SET_TYPEF_TEST_ONLY | DMO_SET_TYPEF_CLEAR)) return E_INVALIDARG;
        if (flags & DMO_SET_TYPEF_CLEAR) {
            clear(slot);
            updateTypesSet();
            // Without both types no stream can run: flush and let go of the resources.
            if (!flushed_) self()->InternalFlush();
            flushed_ = true;
            freeResources();
            return S_OK;
        }
        if (pmt == nullptr) return E_POINTER;
        const HRESULT hr = input ? self()->InternalCheckInputType(index, pmt) : self()->InternalCheckOutputType(index, pmt);
        if (hr != S_OK || (flags & DMO_SET_TYPEF_TEST_ONLY)) return hr;
        DMO_MEDIA_TYPE copy;
        if (MoCopyMediaType(&copy, pmt) != S_OK) return E_OUTOFMEMORY;
        clear(slot);
        slot.type = copy;
        slot.set = true;
        updateTypesSet();
        return S_OK;
    }

    Slot in_[NUMBEROFINPUTS];
    Slot out_[NUMBEROFOUTPUTS];
    bool typesSet_ = false;
    bool flushed_ = true;
    bool resourcesAllocated_ = false;
    bool incomplete_[NUMBEROFOUTPUTS] = {};
};
