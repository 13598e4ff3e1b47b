// Media types, connection bookkeeping, the property bag and the registry
// settings of the renderer.
#include "renderer_fixture.h"

namespace {

HRESULT check(RendererRig& rig, const GUID& subtype, LONG w, LONG h) {
    CMediaType mt;
    MakeVideoType(&mt, subtype, w, h);
    return rig.filter->CheckMediaType(&mt);
}

TEST(MediaType, Yv12IsAccepted) {
    RendererRig rig;
    EXPECT_EQ(check(rig, MEDIASUBTYPE_YV12, 176, 144), S_OK);
}

TEST(MediaType, Rgb565IsRefused) {
    RendererRig rig;
    EXPECT_EQ(check(rig, MEDIASUBTYPE_RGB565, 176, 144), static_cast<HRESULT>(0x8004022A));
}

TEST(MediaType, Yuy2IsRefused) {
    RendererRig rig;
    EXPECT_EQ(check(rig, MEDIASUBTYPE_YUY2, 176, 144), static_cast<HRESULT>(0x8004022A));
}

TEST(MediaType, I420IsRefused) {
    RendererRig rig;
    EXPECT_EQ(check(rig, MEDIASUBTYPE_I420, 176, 144), static_cast<HRESULT>(0x8004022A));
}

TEST(MediaType, AudioMajorTypeIsRefused) {
    RendererRig rig;
    CMediaType mt;
    MakeVideoType(&mt, MEDIASUBTYPE_YV12, 176, 144);
    mt.majortype = GUID{0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    EXPECT_EQ(rig.filter->CheckMediaType(&mt), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MediaType, AnyFormatTypeIsAccepted) {
    RendererRig rig;
    CMediaType mt;
    MakeVideoType(&mt, MEDIASUBTYPE_YV12, 176, 144);
    mt.formattype = FORMAT_None;
    EXPECT_EQ(rig.filter->CheckMediaType(&mt), S_OK);
}

TEST(MediaType, ZeroWidthIsRefused) {
    RendererRig rig;
    EXPECT_EQ(check(rig, MEDIASUBTYPE_YV12, 0, 144), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MediaType, ZeroHeightIsRefused) {
    RendererRig rig;
    EXPECT_EQ(check(rig, MEDIASUBTYPE_YV12, 176, 0), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MediaType, MissingFormatBlockIsRefused) {
    RendererRig rig;
    CMediaType mt;
    mt.SetType(&MEDIATYPE_Video);
    mt.SetSubtype(&MEDIASUBTYPE_YV12);
    EXPECT_EQ(rig.filter->CheckMediaType(&mt), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MediaType, ShortFormatBlockIsRefused) {
    RendererRig rig;
    CMediaType mt;
    MakeVideoType(&mt, MEDIASUBTYPE_YV12, 176, 144);
    mt.cbFormat = 56;
    const HRESULT hr = rig.filter->CheckMediaType(&mt);
    mt.cbFormat = sizeof(VIDEOINFOHEADER);
    EXPECT_EQ(hr, VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MediaType, ZeroSizedSourceCannotConnect) {
    RendererRig rig;
    EXPECT_EQ(rig.Connect(0, 144), VFW_E_TYPE_NOT_ACCEPTED);
}

TEST(MediaType, SetMediaTypeRefusesNull) {
    RendererRig rig;
    EXPECT_EQ(rig.filter->SetMediaType(nullptr), E_POINTER);
}

TEST(Connection, ReadsTheVideoSizeFromTheFormat) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_EQ(std::make_pair(rig.filter->VideoWidth(), rig.filter->VideoHeight()), std::make_pair(176, 144));
}

TEST(Connection, AllocatesBothWorkBuffers) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_TRUE(rig.filter->RgbBuffer() != nullptr && rig.filter->ScaledBuffer() != nullptr);
}

TEST(Connection, SourceGetsTheFiltersOwnAllocator) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_TRUE(rig.filter->DrawImage()->UsingImageAllocator());
}

TEST(Connection, AllocatorBuffersHoldAWholeFrame) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144, MEDIASUBTYPE_YV12, 1000), S_OK);
    ALLOCATOR_PROPERTIES props{};
    rig.filter->ImageAllocator()->GetProperties(&props);
    EXPECT_EQ(props.cbBuffer, 176 * 144 * 3 / 2);
}

TEST(Connection, GetAllocatorRefusesNull) {
    RendererRig rig;
    IMemInputPin* input = nullptr;
    rig.filter->GetPin(0)->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input));
    const HRESULT hr = input->GetAllocator(nullptr);
    input->Release();
    EXPECT_EQ(hr, E_POINTER);
}

TEST(Connection, OnlyPinZeroExists) {
    RendererRig rig;
    EXPECT_TRUE(rig.filter->GetPin(0) != nullptr && rig.filter->GetPin(1) == nullptr);
}

TEST(Connection, PinIsNamedInput) {
    RendererRig rig;
    EXPECT_STREQ(rig.filter->GetPin(0)->Name(), L"Input");
}

TEST(Connection, SourceRectangleDefaultsToTheVideo) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    LONG l, t, w, h;
    rig.video->GetSourcePosition(&l, &t, &w, &h);
    EXPECT_TRUE(l == 0 && t == 0 && w == 176 && h == 144 && rig.video->IsUsingDefaultSource() == S_OK);
}

TEST(Connection, TargetRectangleDefaultsToEmpty) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_EQ(rig.video->IsUsingDefaultDestination(), S_OK);
}

TEST(Connection, SetDestinationIsNoLongerTheDefault) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.video->SetDestinationPosition(1, 2, 3, 4);
    EXPECT_EQ(rig.video->IsUsingDefaultDestination(), S_FALSE);
}

TEST(Connection, WindowTakesTheVideoSizeUnlessPlaced) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    LONG l, t, w, h;
    rig.window->GetWindowPosition(&l, &t, &w, &h);
    EXPECT_TRUE(w == 176 && h == 144);
}

TEST(Connection, SizeChangeIsSignalled) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_TRUE(rig.graph.WaitForEvent(EC_VIDEO_SIZE_CHANGED, 0));
}

TEST(Reconnection, SameSizeKeepsTheRectangles) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.video->SetDestinationPosition(10, 20, 100, 80);
    rig.video->SetSourcePosition(0, 0, 88, 72);
    ASSERT_EQ(rig.Reconnect(176, 144), S_OK);
    LONG l, t, w, h;
    rig.video->GetDestinationPosition(&l, &t, &w, &h);
    EXPECT_TRUE(l == 10 && t == 20 && w == 100 && h == 80 && rig.video->IsUsingDefaultSource() == S_FALSE);
}

TEST(Reconnection, NewSizeResetsBothRectangles) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.video->SetDestinationPosition(10, 20, 100, 80);
    ASSERT_EQ(rig.Reconnect(320, 240), S_OK);
    LONG l, t, w, h;
    rig.video->GetSourcePosition(&l, &t, &w, &h);
    EXPECT_TRUE(w == 320 && h == 240 && rig.video->IsUsingDefaultDestination() == S_OK);
}

TEST(Reconnection, NewSizeRefitsTheVideo) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    ASSERT_EQ(rig.Reconnect(400, 200), S_OK);
    EXPECT_EQ(std::make_pair(rig.filter->FitWidth(), rig.filter->FitHeight()), std::make_pair(320, 160));
}

TEST(Reconnection, DisconnectFreesTheFormatBlock) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Disconnect();
    EXPECT_EQ(rig.filter->CurrentType().FormatLength(), 0u);
}

TEST(Reconnection, RotationSetBeforeComesBackFromTheRegistry) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.SetRotation(90);
    ASSERT_EQ(rig.Reconnect(176, 144), S_OK);
    EXPECT_EQ(rig.filter->RotationDegrees(), 0);
}

TEST(Reconnection, RotationComesBackAsTheTrayValue) {
    RendererRig rig;
    SetDword(HKEY_LOCAL_MACHINE, L"\\Services\\VIV", L"RotationTray", 4);
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.SetRotation(90);
    ASSERT_EQ(rig.Reconnect(176, 144), S_OK);
    EXPECT_EQ(rig.filter->RotationDegrees(), 180);
}

TEST(QueryInterface, NullOutPointerIsRefused) {
    RendererRig rig;
    EXPECT_EQ(rig.filter->NonDelegatingQueryInterface(IID_IVideoWindow, nullptr), E_POINTER);
}

TEST(QueryInterface, AnswersEveryInterfaceOfTheFilter) {
    RendererRig rig;
    const IID* iids[] = {&IID_IBaseFilter, &IID_IMediaFilter, &IID_IAMovieSetup, &IID_IQualProp,
                         &IID_IQualityControl, &IID_IVideoWindow, &IID_IBasicVideo, &IID_IPropertyBag};
    int answered = 0;
    for (const IID* iid : iids) {
        IUnknown* p = nullptr;
        if (SUCCEEDED(rig.base->QueryInterface(*iid, reinterpret_cast<void**>(&p)))) {
            ++answered;
            p->Release();
        }
    }
    EXPECT_EQ(answered, 8);
}

TEST(QueryInterface, VideoWindowLeadsBackToTheFilter) {
    RendererRig rig;
    IBaseFilter* f = nullptr;
    rig.window->QueryInterface(IID_IBaseFilter, reinterpret_cast<void**>(&f));
    const bool same = f == rig.base;
    if (f) f->Release();
    EXPECT_TRUE(same);
}

// The property bag.
TEST(PropertyBag, ReadGivesAnIntVariant) {
    RendererRig rig;
    VARIANT v;
    VariantInit(&v);
    ASSERT_EQ(rig.bag->Read(L"SetRotation", &v, nullptr), S_OK);
    EXPECT_EQ(v.vt, VT_INT);
}

TEST(PropertyBag, ReadGivesTheRotation) {
    RendererRig rig;
    rig.SetRotation(270);
    VARIANT v;
    VariantInit(&v);
    rig.bag->Read(L"SetRotation", &v, nullptr);
    EXPECT_EQ(v.intVal, 270);
}

TEST(PropertyBag, ReadOfAnotherNameIsRefused) {
    RendererRig rig;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(rig.bag->Read(L"setrotation", &v, nullptr), E_INVALIDARG);
}

TEST(PropertyBag, ReadWithNullNameIsRefused) {
    RendererRig rig;
    VARIANT v;
    VariantInit(&v);
    EXPECT_EQ(rig.bag->Read(nullptr, &v, nullptr), E_INVALIDARG);
}

TEST(PropertyBag, ReadWithNullValueIsRefused) {
    RendererRig rig;
    EXPECT_EQ(rig.bag->Read(L"SetRotation", nullptr, nullptr), E_INVALIDARG);
}

TEST(PropertyBag, WriteOfI4IsRefused) {
    RendererRig rig;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = 90;
    EXPECT_EQ(rig.bag->Write(L"SetRotation", &v), E_INVALIDARG);
}

TEST(PropertyBag, WriteOf45IsRefused) {
    RendererRig rig;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = 45;
    EXPECT_EQ(rig.bag->Write(L"SetRotation", &v), E_INVALIDARG);
}

TEST(PropertyBag, RefusedWriteKeepsTheRotation) {
    RendererRig rig;
    rig.SetRotation(90);
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = 360;
    rig.bag->Write(L"SetRotation", &v);
    EXPECT_EQ(rig.filter->RotationDegrees(), 90);
}

TEST(PropertyBag, WriteOfAnotherNameIsRefused) {
    RendererRig rig;
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_UI4;
    v.ulVal = 90;
    EXPECT_EQ(rig.bag->Write(L"Rotation", &v), E_INVALIDARG);
}

TEST(PropertyBag, WriteWithNullValueIsRefused) {
    RendererRig rig;
    EXPECT_EQ(rig.bag->Write(L"SetRotation", nullptr), E_INVALIDARG);
}

TEST(PropertyBag, WriteKeepsTheBorderFlags) {
    ScreenEnv screen("240x320", "0");
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    rig.Place(0, 0, 200, 160);
    rig.Paint(QuadrantFrame(176, 144));
    rig.SetRotation(180);
    EXPECT_TRUE(rig.filter->WindowedBackgroundPainted());
}

// "RotationTray".
class Tray : public ::testing::TestWithParam<std::pair<DWORD, LONG>> {};

TEST_P(Tray, ValueGivesTheRotation) {
    RendererRig rig;
    SetDword(HKEY_LOCAL_MACHINE, L"\\Services\\VIV", L"RotationTray", GetParam().first);
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_EQ(rig.filter->RotationDegrees(), GetParam().second);
}

INSTANTIATE_TEST_SUITE_P(Renderer, Tray,
                         ::testing::Values(std::make_pair(4u, 180), std::make_pair(1u, 0), std::make_pair(2u, 0),
                                           std::make_pair(3u, 0), std::make_pair(5u, 0)));

TEST(TrayKeyPresence, KeyWithoutValueGivesZero) {
    RendererRig rig;
    CreateKey(HKEY_LOCAL_MACHINE, L"\\Services\\VIV");
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_EQ(rig.filter->RotationDegrees(), 0);
}

TEST(TrayKeyPresence, KeyWithoutValueStillCounts) {
    RendererRig rig;
    CreateKey(HKEY_LOCAL_MACHINE, L"\\Services\\VIV");
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_TRUE(rig.filter->TrayKeyPresent());
}

TEST(TrayKeyPresence, NoKeyNoFlag) {
    RendererRig rig;
    ASSERT_EQ(rig.Connect(176, 144), S_OK);
    EXPECT_FALSE(rig.filter->TrayKeyPresent());
}

// The framework's thread priorities.
const wchar_t kPriorities[] = L"SOFTWARE\\Microsoft\\DirectShow\\ThreadPriority";

TEST(ThreadPriority, DefaultsWithoutTheKey) {
    TempRegistry reg;
    const ThreadPriorityTable t = ReadThreadPriorityTable();
    EXPECT_TRUE(t.highest == 249 && t.aboveNormal == 250 && t.normal == 251 && t.belowNormal == 252);
}

TEST(ThreadPriority, OrderedValuesReplaceTheDefaults) {
    TempRegistry reg;
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"Highest", 100);
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"AboveNormal", 110);
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"Normal", 120);
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"BelowNormal", 130);
    const ThreadPriorityTable t = ReadThreadPriorityTable();
    EXPECT_TRUE(t.highest == 100 && t.aboveNormal == 110 && t.normal == 120 && t.belowNormal == 130);
}

TEST(ThreadPriority, OutOfOrderValuesKeepTheDefaults) {
    TempRegistry reg;
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"Highest", 100);
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"AboveNormal", 90);
    ::testing::internal::CaptureStderr();
    const ThreadPriorityTable t = ReadThreadPriorityTable();
    ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(t.highest == 249 && t.aboveNormal == 250 && t.normal == 251 && t.belowNormal == 252);
}

TEST(ThreadPriority, OutOfOrderValuesWarn) {
    TempRegistry reg;
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"Highest", 100);
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"AboveNormal", 90);
    ::testing::internal::CaptureStderr();
    ReadThreadPriorityTable();
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "SAPI WARNING: Invalidate thread priorities, the higher thread priority must be lesser than lower, "
              "each must be less than 256\n");
}

TEST(ThreadPriority, ValueAbove255KeepsItsDefault) {
    TempRegistry reg;
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"BelowNormal", 256);
    EXPECT_EQ(ReadThreadPriorityTable().belowNormal, 252);
}

TEST(ThreadPriority, StringValueKeepsItsDefault) {
    TempRegistry reg;
    CreateKey(HKEY_LOCAL_MACHINE, kPriorities);
    HKEY key;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kPriorities, 0, KEY_ALL_ACCESS, &key);
    RegSetValueExW(key, L"Normal", 0, REG_SZ, reinterpret_cast<const BYTE*>(L"1"), 2 * sizeof(wchar_t));
    RegCloseKey(key);
    EXPECT_EQ(ReadThreadPriorityTable().normal, 251);
}

TEST(ThreadPriority, VideoDefaultsTo252) {
    TempRegistry reg;
    EXPECT_EQ(ReadVideoThreadPriority(), 252);
}

TEST(ThreadPriority, VideoValueBelow256IsUsed) {
    TempRegistry reg;
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"Video", 200);
    EXPECT_EQ(ReadVideoThreadPriority(), 200);
}

TEST(ThreadPriority, VideoValueAbove255IsIgnored) {
    TempRegistry reg;
    SetDword(HKEY_LOCAL_MACHINE, kPriorities, L"Video", 300);
    EXPECT_EQ(ReadVideoThreadPriority(), 252);
}

TEST(ThreadPriority, LevelsSetTheCallingThread) {
    int got = 0;
    std::thread([&] {
        SetFrameworkThreadPriority(1);
        got = CeGetThreadPriority(GetCurrentThread());
    }).join();
    EXPECT_EQ(got, FrameworkThreadPriorities().highest);
}

TEST(ThreadPriority, UnknownLevelIsNormal) {
    int got = 0;
    std::thread([&] {
        SetFrameworkThreadPriority(9);
        got = CeGetThreadPriority(GetCurrentThread());
    }).join();
    EXPECT_EQ(got, FrameworkThreadPriorities().normal);
}

} // namespace
