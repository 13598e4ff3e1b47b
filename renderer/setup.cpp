#include "setup.h"

#include "guids.h"

const wchar_t kVideoRendererName[] = L"Parvix Video Renderer";

namespace {
const AMOVIESETUP_MEDIATYPE kPinTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_YV12}};
const AMOVIESETUP_PIN kPins[] = {
    {L"Input", FALSE, FALSE, FALSE, FALSE, &CLSID_NULL, L"Output", 1, kPinTypes},
};
} // namespace

const AMOVIESETUP_FILTER kVideoRendererSetup = {&CLSID_ParvixVideoRenderer, kVideoRendererName, 0x600000, 1, kPins};
