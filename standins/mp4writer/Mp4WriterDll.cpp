// The writer's COM server.
#include "graph/Vireon.h"
#include "standins/mp4writer/Mp4Writer.h"

static const CKitFilterTemplate g_templates[] = {
    {&CLSID_VireonMp4Writer, L"Morvane MPEG-4 Writer", CMp4Writer::Create, nullptr, nullptr,
     nullptr, nullptr},
};

KIT_FILTER_DLL(g_templates)
