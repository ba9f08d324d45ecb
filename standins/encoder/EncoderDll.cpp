// The encoder's DLL: class factory, registration as "Morvane H264 Encoder".
#include "VireonEncoder.h"

namespace {

const GUID kI420 = media::kSubtypeI420;
const GUID kH264 = media::kSubtypeH264;

const REGPINTYPES kInputTypes[] = {
    {&MEDIATYPE_Video, &kI420},           {&MEDIATYPE_Video, &MEDIASUBTYPE_IYUV},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_YV12}, {&MEDIATYPE_Video, &MEDIASUBTYPE_NV12},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2}, {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24},
    {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
};
const REGPINTYPES kOutputTypes[] = {{&MEDIATYPE_Video, &kH264}};

const REGFILTERPINS2 kPins[] = {
    {0, 1, sizeof(kInputTypes) / sizeof(kInputTypes[0]), kInputTypes, 0, nullptr, nullptr},
    {REG_PINFLAG_B_OUTPUT, 1, 1, kOutputTypes, 0, nullptr, nullptr},
};

REGFILTER2 MakeRegistration() {
    REGFILTER2 rf = {};
    rf.dwVersion = 2;
    // Never picked by intelligent connect: the bench inserts it by class identifier.
    rf.dwMerit = MERIT_DO_NOT_USE;
    rf.cPins2 = 2;
    rf.rgPins2 = kPins;
    return rf;
}
const REGFILTER2 kRegistration = MakeRegistration();

const CKitFilterTemplate g_templates[] = {
    {&CLSID_VireonEncoder, L"Morvane H264 Encoder", CVireonEncoder::CreateInstance, nullptr, &kRegistration,
     nullptr, nullptr},
};

}  // namespace

KIT_FILTER_DLL(g_templates)
