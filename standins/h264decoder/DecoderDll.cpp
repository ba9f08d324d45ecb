// The decoder's COM server: one filter under both of the maker's class identifiers, each
// registered on its own so that either works alone.
#include "graph/Vireon.h"
#include "standins/h264decoder/H264Decoder.h"

static const CKitFilterTemplate g_templates[] = {
    {&CLSID_VireonDecoder, L"Morvane H264 Decoder", CH264Decoder::Create, nullptr, nullptr,
     nullptr, nullptr},
    {&CLSID_VireonDecoderAlt, L"Morvane H264 Decoder", CH264Decoder::CreateAlt, nullptr, nullptr,
     nullptr, nullptr},
};

KIT_FILTER_DLL(g_templates)
